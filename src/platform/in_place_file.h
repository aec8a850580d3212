// Files rewritten in place, for a reader that reads back the very file it
// named: replaced whole, or left as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/signals.h"
#include "platform/system_error.h"

namespace wldmap {
namespace platform {

// A file whose content is replaced through the handle it was opened with, so
// that whoever named it finds the new content in the very same file. The new
// bytes are written after the old ones, which stay as they were until the new
// content is complete: a full disk or a file size limit shows before anything
// old is touched. Writers of one file take turns.
class InPlaceFile {
 public:
  // Opens `path`, creating it when missing (with the permissions the umask
  // leaves), and waits until no other writer has it. Refuses anything but a
  // regular file. While the object lives, the clean-up signals are held back,
  // so that one ends the process only once the file is whole again. Throws
  // SystemError.
  InPlaceFile(const std::string& path, const WarningHandler& onWarning);
  // Unless committed, the file as it was: cut back to its old bytes, or
  // removed when this object made it. A file it made and cannot remove is
  // named to `onWarning`.
  ~InPlaceFile();
  InPlaceFile(const InPlaceFile&) = delete;
  InPlaceFile& operator=(const InPlaceFile&) = delete;

  // Writes the next bytes of the new content. Throws SystemError.
  void write(const char* data, size_t size);
  // Moves the new content to the file's start and cuts the file after it.
  // Throws SystemError.
  void commit();

 private:
  const std::string path_;
  const WarningHandler& onWarning_;
  const HeldSignals held_;  // first in, last out
  intptr_t handle_ = -1;
  uint64_t oldSize_ = 0;  // the old content, before the new one
  uint64_t written_ = 0;
  bool created_ = false;
  bool committed_ = false;
};

}  // namespace platform
}  // namespace wldmap
