#include "platform/in_place_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/reasons.h"

namespace wldmap {
namespace platform {

void writeInPlace(const std::string& path, std::string_view bytes) {
  bool created = true;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {
    created = false;
    // Not blocking: a FIFO without a reader is refused, not waited for.
    fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
  }
  if (fd < 0) throw SystemError(withReason("cannot open"));
  const char* data = bytes.data();
  size_t left = bytes.size();
  int error = 0;
  while (left > 0 && error == 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written >= 0) {
      data += written;
      left -= static_cast<size_t>(written);
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  // Linux releases the descriptor even when close is interrupted.
  if (::close(fd) != 0 && errno != EINTR && error == 0) error = errno;
  if (error != 0) {
    if (created) unlink(path.c_str());
    throw SystemError("cannot write it: " + reasonText(error));
  }
}

}  // namespace platform
}  // namespace wldmap
