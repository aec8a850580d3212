#include "platform/in_place_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/reasons.h"

namespace wldmap {
namespace platform {

namespace {

// Whether a failed lock only means that the file system keeps no locks.
bool noLocks(int error) {
  return error == ENOLCK || error == EOPNOTSUPP || error == ENOTSUP || error == ENOSYS ||
         error == EINVAL;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Writes all of `data` at `offset`. Throws SystemError.
void writeAt(int fd, const char* data, size_t size, uint64_t offset) {
  while (size > 0) {
    const ssize_t written = pwrite(fd, data, size, static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      throw SystemError(withReason("cannot write it"));
    }
    data += written;
    size -= static_cast<size_t>(written);
    offset += static_cast<uint64_t>(written);
  }
}

// Opens `path` for the rewrite, made by this call (`created`) when missing.
// -1 with errno set when it cannot be opened. Throws SystemError for a path
// that names anything but a regular file, without opening it: a FIFO would
// otherwise take the content, or wait for a reader.
int openRegular(const std::string& path, bool& created) {
  struct stat named;
  if (stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
    throw SystemError(S_ISDIR(named.st_mode) ? "is a folder" : "is not a regular file");
  }
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  created = fd >= 0;
  // Not blocking, should it have become a FIFO since.
  if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return fd;
}

}  // namespace

InPlaceFile::InPlaceFile(const std::string& path, const WarningHandler& onWarning)
    : path_(path), onWarning_(onWarning) {
  // A writer that gave up removes a file it made; one that waited for it then
  // holds a file nobody names, and opens the name again.
  for (int attempt = 0;; ++attempt) {
    bool created = false;
    const int fd = openRegular(path, created);
    if (fd < 0) throw SystemError(withReason("cannot open"));
    struct stat opened, named;
    int error = fstat(fd, &opened) == 0 ? 0 : errno;
    if (error == 0 && !S_ISREG(opened.st_mode)) {
      ::close(fd);
      throw SystemError("is not a regular file");
    }
    while (error == 0 && flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) error = noLocks(errno) ? -1 : errno;
    }
    if (error > 0) {
      ::close(fd);
      errno = error;
      throw SystemError(withReason("cannot open"));
    }
    if (stat(path.c_str(), &named) == 0 && sameFile(named, opened) && fstat(fd, &opened) == 0) {
      handle_ = fd;
      created_ = created;
      oldSize_ = static_cast<uint64_t>(opened.st_size);
      return;
    }
    ::close(fd);
    if (attempt == 100) throw SystemError("cannot open: another program keeps replacing it");
  }
}

InPlaceFile::~InPlaceFile() {
  const int fd = static_cast<int>(handle_);
  if (fd < 0) return;
  if (!committed_) {
    // Nothing old was touched: only the new bytes after the old ones go.
    struct stat opened, named;
    if (created_ && oldSize_ == 0) {
      if (fstat(fd, &opened) == 0 && stat(path_.c_str(), &named) == 0 &&
          sameFile(opened, named) && unlink(path_.c_str()) != 0) {
        onWarning_(withReason("cannot remove the file it made") + "; remove it by hand");
      }
    } else if (ftruncate(fd, static_cast<off_t>(oldSize_)) != 0) {
      onWarning_(withReason("cannot cut it back to its old content"));
    }
  }
  ::close(fd);
}

void InPlaceFile::write(const char* data, size_t size) {
  writeAt(static_cast<int>(handle_), data, size, oldSize_ + written_);
  written_ += size;
}

void InPlaceFile::commit() {
  const int fd = static_cast<int>(handle_);
  if (oldSize_ > 0) {
    // The old content is at stake from here on: the new one must be on the
    // disk first, where a file system that writes back later (NFS) reports a
    // full disk only now. One that cannot sync a file says EINVAL.
    int synced = fsync(fd);
    while (synced != 0 && errno == EINTR) synced = fsync(fd);
    if (synced != 0 && errno != EINVAL) throw SystemError(withReason("cannot write it"));
    // The new content moves down over the old, a piece at a time; each piece
    // is read whole before it is written, at an offset lower than its own.
    std::vector<char> piece(size_t(1) << 20);
    for (uint64_t done = 0; done < written_;) {
      const size_t size = static_cast<size_t>(std::min<uint64_t>(piece.size(), written_ - done));
      for (size_t got = 0; got < size;) {
        const ssize_t n = pread(fd, piece.data() + got, size - got,
                                static_cast<off_t>(oldSize_ + done + got));
        if (n <= 0 && !(n < 0 && errno == EINTR)) {
          throw SystemError(n == 0 ? "cannot write it: it was cut meanwhile"
                                   : withReason("cannot write it"));
        }
        if (n > 0) got += static_cast<size_t>(n);
      }
      writeAt(fd, piece.data(), size, done);
      done += size;
    }
  }
  if (ftruncate(fd, static_cast<off_t>(written_)) != 0) {
    throw SystemError(withReason("cannot write it"));
  }
  committed_ = true;
  handle_ = -1;
  // Linux releases the descriptor even when close is interrupted.
  if (::close(fd) != 0 && errno != EINTR) throw SystemError(withReason("cannot write it"));
}

}  // namespace platform
}  // namespace wldmap
