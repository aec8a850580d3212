// A standard input stream over the seam's InputFile, for the readers that take
// a std::istream.
#pragma once

#include <istream>
#include <memory>
#include <string>

#include "platform/input_file.h"

namespace wldmap {
namespace platform {

// Reads a file as bytes. A failed read is thrown as the file's own SystemError
// ("cannot read it: <reason>"), never taken for the end of the file: the
// stream's exception mask holds badbit, so the stream passes it on.
class InputFileStream : public std::istream {
 public:
  // Opens `path` without blocking. Throws SystemError ("cannot open: <reason>").
  explicit InputFileStream(const std::string& path);
  ~InputFileStream() override;

  // The opened file: what kind it is, and its size.
  const InputFile& file() const;

 private:
  class Buffer;
  std::unique_ptr<Buffer> buffer_;
};

}  // namespace platform
}  // namespace wldmap
