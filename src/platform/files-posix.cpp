#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

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

// Writing.

namespace {

// Writes all of `data` at the descriptor's offset, going on after a signal.
// Throws SystemError ("cannot write it").
void writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw SystemError(withReason("cannot write it"));
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
}

// Syncs what `fd` names, going on after a signal: 0, or the error. A file
// system that cannot sync such a file says EINVAL, and has nothing more to make
// durable.
int syncFile(int fd) {
  int synced = fsync(fd);
  while (synced != 0 && errno == EINTR) synced = fsync(fd);
  return synced == 0 || errno == EINVAL ? 0 : errno;
}

// The folder that holds `path`, as a path the calls take.
std::string folderOf(const std::string& path) {
  const std::string folder = folderOfFile(path);
  return folder.empty() ? "." : folder;
}

// Whether a failure to set a mode only means that the file system keeps none
// (FAT through FUSE, phones over MTP, some network shares): for a file of the
// user's own, EPERM says so too.
bool keepsNoModes(int error, const struct stat& file) {
  return error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP ||
         (error == EPERM && file.st_uid == geteuid());
}

}  // namespace

void writeAll(intptr_t handle, const char* data, size_t size) {
  writeAll(static_cast<int>(handle), data, size);
}

// Replacing.

void checkReplaceable(const std::string& target) {
  struct stat old, folder;
  if (lstat(target.c_str(), &old) != 0) return;  // nothing to replace
  if (S_ISDIR(old.st_mode)) throw SystemError("cannot replace it: " + reasonText(EISDIR));
  const uid_t user = geteuid();
  if (stat(folderOf(target).c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) && user != 0 &&
      old.st_uid != user && folder.st_uid != user) {
    throw SystemError("cannot replace it: " + reasonText(EPERM));
  }
}

Made createNew(const std::string& path, intptr_t& handle, int& error) {
  // Mode 0666 lets the umask decide a new file's permissions, as for any new file.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  error = errno;
  if (fd >= 0) handle = fd;
  return fd >= 0 ? Made::kMade : error == EEXIST ? Made::kTaken : Made::kFailed;
}

bool adoptPermissions(intptr_t handle, const std::string& target,
                      const WarningHandler& onWarning) {
  struct stat older;
  if (lstat(target.c_str(), &older) != 0) return false;
  // A target that was a symbolic link is replaced by a file of its own, which
  // takes the mode of any new file, not that of whatever the link pointed to.
  if (!S_ISREG(older.st_mode)) return true;
  const int fd = static_cast<int>(handle);
  struct stat now {};  // zeroed: keepsNoModes reads it even when fstat failed
  if ((fstat(fd, &now) != 0 || (now.st_mode & 07777) != (older.st_mode & 07777)) &&
      fchmod(fd, older.st_mode & 07777) != 0) {
    if (!keepsNoModes(errno, now)) throw SystemError(withReason("cannot set its permissions"));
    onWarning(withReason("cannot give it the older map's permissions") +
              "; it has those of a new file");
  }
  return true;
}

void syncAndClose(intptr_t handle) {
  const int fd = static_cast<int>(handle);
  if (const int error = syncFile(fd)) {
    ::close(fd);
    throw SystemError("cannot write it: " + reasonText(error));
  }
  // Linux releases the descriptor even when close is interrupted, and the data
  // is synced already: only a real error is one.
  if (::close(fd) != 0 && errno != EINTR) throw SystemError(withReason("cannot write it"));
}

void closeQuietly(intptr_t handle) { ::close(static_cast<int>(handle)); }

Made createUnnamed(const std::string& target, intptr_t& handle, int& error) {
  error = 0;
#ifdef O_TMPFILE
  const int fd = ::open(folderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) {
    handle = fd;
    return Made::kMade;
  }
  // No such files here: a kernel before 3.11 takes the flag for O_DIRECTORY
  // (EISDIR), a file system without them says EOPNOTSUPP.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) error = errno;
#endif
  static_cast<void>(target);
  static_cast<void>(handle);
  return Made::kFailed;
}

Made linkUnnamed(intptr_t handle, const std::string& name, int& error) {
  // The file's own entry in /proc names it without a path; linking it needs no
  // privilege, unlike AT_EMPTY_PATH.
  const std::string self = "/proc/self/fd/" + std::to_string(handle);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return Made::kMade;
  }
  error = errno;
  return error == EEXIST ? Made::kTaken : Made::kFailed;
}

intptr_t openOlder(const std::string& target) {
  const int fd = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat info;
  if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    ::close(fd);
    return -1;
  }
  return fd;
}

Made linkAs(const std::string& target, const std::string& name) {
  if (link(target.c_str(), name.c_str()) == 0) return Made::kMade;
  return errno == EEXIST ? Made::kTaken : Made::kFailed;
}

void replaceWith(const std::string& path, const std::string& target) {
  if (std::rename(path.c_str(), target.c_str()) != 0) {
    throw SystemError(withReason("cannot replace it"));
  }
}

int renameOver(const std::string& path, const std::string& target) {
  return std::rename(path.c_str(), target.c_str()) == 0 ? 0 : errno;
}

int removeFile(const std::string& path) {
  return unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

// A folder that may be written but not read (mode -wx) cannot be opened, and
// then cannot be synced.
FolderOf::FolderOf(const std::string& target)
    : handle_(::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (handle_ < 0 && errno != EACCES) throw SystemError(withReason("cannot open its folder"));
}

FolderOf::~FolderOf() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

int FolderOf::sync() const { return handle_ < 0 ? 0 : syncFile(static_cast<int>(handle_)); }

// Writing in place.

namespace {

// Whether a failed lock only means that the file system keeps no locks.
bool noLocks(int error) {
  return error == ENOLCK || error == EOPNOTSUPP || error == ENOTSUP || error == ENOSYS ||
         error == EINVAL;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

intptr_t openExisting(const std::string& path) {
  // Anything but a regular file is refused without opening it: a FIFO would
  // otherwise take the content, or wait for a reader.
  struct stat named;
  if (stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
    throw SystemError(S_ISDIR(named.st_mode) ? "is a folder" : "is not a regular file");
  }
  // Not blocking, should it have become a FIFO since.
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return -1;
  if (fd < 0) throw SystemError(withReason("cannot open"));
  struct stat opened;
  if (fstat(fd, &opened) != 0) {
    const int error = errno;
    ::close(fd);
    throw SystemError("cannot open: " + reasonText(error));
  }
  if (!S_ISREG(opened.st_mode)) {
    ::close(fd);
    throw SystemError("is not a regular file");
  }
  return fd;
}

std::string linkTarget(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

void lockWhole(intptr_t handle) {
  while (flock(static_cast<int>(handle), LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    if (noLocks(errno)) return;
    throw SystemError(withReason("cannot open"));
  }
}

std::optional<uint64_t> sizeIfNamed(intptr_t handle, const std::string& path) {
  struct stat opened, named;
  if (stat(path.c_str(), &named) != 0 || fstat(static_cast<int>(handle), &opened) != 0 ||
      !sameFile(named, opened)) {
    return std::nullopt;
  }
  return static_cast<uint64_t>(opened.st_size);
}

int syncHandle(intptr_t handle) { return syncFile(static_cast<int>(handle)); }

size_t readAt(intptr_t handle, uint64_t offset, char* data, size_t size) {
  for (;;) {
    const ssize_t got = pread(static_cast<int>(handle), data, size, static_cast<off_t>(offset));
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) throw SystemError(withReason("cannot read it"));
  }
}

int cutAt(intptr_t handle, uint64_t size) {
  return ftruncate(static_cast<int>(handle), static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int closeHandle(intptr_t handle) {
  // Linux releases the descriptor even when close is interrupted.
  return ::close(static_cast<int>(handle)) == 0 || errno == EINTR ? 0 : errno;
}

}  // namespace platform
}  // namespace wldmap
