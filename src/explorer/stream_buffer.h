// A world's bytes as Explorer hands them over: a read buffer over an IStream.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>

#include "platform/read_buffer.h"

namespace wldmap {
namespace explorer {

// Reads an IStream from its start to the size it reports, never past it. A read
// that fails throws std::runtime_error ("cannot read it"), which an istream
// whose exception mask holds badbit passes on: a failed read is never an end.
class StreamBuffer : public platform::ReadBuffer {
 public:
  // Takes the stream's size and moves to its start; throws std::runtime_error
  // when the stream can do neither. The stream must outlive the buffer.
  explicit StreamBuffer(IStream* stream);

  // The stream's size in bytes.
  uint64_t size() const { return size_; }

 protected:
  // Reads up to `count` bytes, at most to the stream's size; 0 only at its end.
  size_t readSource(char* out, size_t count) override;

 private:
  IStream* const stream_;
  uint64_t size_ = 0;
};

}  // namespace explorer
}  // namespace wldmap
