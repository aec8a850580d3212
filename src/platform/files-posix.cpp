#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/files.h"
#include "platform/seam.h"

namespace wldmap {
namespace platform {

std::string withReason(const std::string& what) { return what + ": " + reasonText(errno); }

std::string reasonText(int code) { return std::strerror(code); }

const bool kWindowsFileNames = false;

std::string fullPath(const std::string& path) { return path; }

std::optional<FileId> fileId(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileId{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// Reading.

InputFile::InputFile(const std::string& path) : handle_(-1) {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer, for good.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw SystemError(withReason("cannot open"));
  struct stat info;
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    throw SystemError(withReason("cannot open"));
  }
  handle_ = fd;
  folder_ = S_ISDIR(info.st_mode);
  regular_ = S_ISREG(info.st_mode);
  size_ = regular_ ? static_cast<uint64_t>(info.st_size) : 0;
  modified_ = static_cast<int64_t>(info.st_mtime);
  // Only the open had to be kept from blocking; reads of a regular file block
  // as reads should.
  if (regular_) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
}

InputFile::~InputFile() { ::close(static_cast<int>(handle_)); }

size_t InputFile::read(char* data, size_t size) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(handle_), data, size);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) throw SystemError(withReason("cannot read it"));
  }
}

void InputFile::seek(uint64_t offset) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) ||
      lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) < 0) {
    throw SystemError(withReason("cannot read it"));
  }
}

}  // namespace platform
}  // namespace wldmap
