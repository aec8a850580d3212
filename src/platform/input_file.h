// Files read: opened without blocking, whatever the path names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/system_error.h"

namespace wldmap {
namespace platform {

// A file opened for reading. Opening never blocks, whatever the path names: a
// FIFO or a device is opened without waiting for a writer, so that the caller
// can refuse it.
class InputFile {
 public:
  // Opens `path`. Throws SystemError ("cannot open: <reason>").
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Whether the path named a folder; a regular file; anything else (a FIFO, a
  // device, a socket) is neither.
  bool isFolder() const { return folder_; }
  bool isRegular() const { return regular_; }
  // The file's size in bytes when it was opened (regular files).
  uint64_t size() const { return size_; }
  // Reads up to `size` bytes at the current offset, retrying a read that a
  // signal interrupted; returns 0 only at the end of the file. Throws
  // SystemError ("cannot read it: <reason>"): a failed read is never an end.
  size_t read(char* data, size_t size);
  // Moves to `offset` bytes from the start. Throws SystemError.
  void seek(uint64_t offset);

 private:
  intptr_t handle_;
  bool folder_ = false;
  bool regular_ = false;
  uint64_t size_ = 0;
};

}  // namespace platform
}  // namespace wldmap
