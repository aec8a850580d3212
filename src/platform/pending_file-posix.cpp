#include "platform/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/reasons.h"
#include "platform/signals.h"

namespace wldmap {
namespace platform {

namespace {

// The folder that holds `target`, open so that a rename in it can be made
// durable. A folder that may be written but not read (mode -wx) cannot be
// opened, and then cannot be synced.
class Folder {
 public:
  explicit Folder(const std::string& target) {
    const size_t cut = target.find_last_of('/');
    const std::string folder = cut == std::string::npos ? "." : target.substr(0, cut + 1);
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0 && errno != EACCES) throw SystemError(withReason("cannot open its folder"));
  }
  ~Folder() {
    if (fd_ >= 0) ::close(fd_);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Syncs the folder: 0, or the error. A file system that cannot sync a folder
  // says EINVAL, and has nothing more to make durable.
  int sync() const {
    if (fd_ < 0) return 0;
    int synced = fsync(fd_);
    while (synced != 0 && errno == EINTR) synced = fsync(fd_);
    return synced == 0 || errno == EINVAL ? 0 : errno;
  }

 private:
  int fd_;
};

// A second name for the older map, made just before the new map replaces it, so
// that a replacement the folder cannot make durable is taken back. Empty when
// there is no older map, or its file system has no hard links (then the
// replacement cannot be taken back, only reported).
std::string linkOlderMap(const std::string& target) {
  for (int attempt = 0; attempt <= 100; ++attempt) {
    const std::string backup =
        target + ".old" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    if (link(target.c_str(), backup.c_str()) == 0) return backup;
    if (errno != EEXIST) break;
  }
  return std::string();
}

// Whether a failure to set a mode only means that the file system keeps none
// (FAT through FUSE, phones over MTP, some network shares): for a file of the
// user's own, EPERM says so too.
bool keepsNoModes(int error, const struct stat& file) {
  return error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP ||
         (error == EPERM && file.st_uid == geteuid());
}

// Gives the file on `fd` the mode of the older map (when there is one, it is a
// regular file and the modes differ) and syncs it. Throws SystemError.
void finish(int fd, const struct stat* older, const WarningHandler& onWarning) {
  // A replaced map keeps its permissions: a private map stays private. A map
  // that was a symbolic link is replaced by a file of its own, which takes the
  // mode of any new map, not that of whatever the link pointed to.
  struct stat now;
  if (older && S_ISREG(older->st_mode) &&
      (fstat(fd, &now) != 0 || (now.st_mode & 07777) != (older->st_mode & 07777)) &&
      fchmod(fd, older->st_mode & 07777) != 0) {
    if (!keepsNoModes(errno, now)) throw SystemError(withReason("cannot set its permissions"));
    onWarning(withReason("cannot give it the older map's permissions") +
              "; it has those of a new file");
  }
  int synced = fsync(fd);
  while (synced != 0 && errno == EINTR) synced = fsync(fd);
  if (synced != 0) throw SystemError(withReason("cannot write it"));
}

// Removes a file this save made, or names it to `onWarning` for the user to remove.
void remove(const std::string& path, const WarningHandler& onWarning) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    onWarning(withReason("cannot remove " + path) + "; remove it by hand");
  }
}

// Renames `path` over `target`, first giving an older map a second name when
// there is one; the name, or empty. From then on only that copy is removed by
// a signal. Throws SystemError, with the copy removed.
std::string replace(const std::string& path, const std::string& target, bool older,
                    const WarningHandler& onWarning) {
  std::string backup = older ? linkOlderMap(target) : std::string();
  if (!backup.empty() && !watchFiles(path, backup)) {
    remove(backup, onWarning);
    backup.clear();
  }
  if (std::rename(path.c_str(), target.c_str()) != 0) {
    const int error = errno;
    if (!backup.empty()) remove(backup, onWarning);
    watchFiles(path, "");
    errno = error;
    throw SystemError(withReason("cannot replace it"));
  }
  watchFiles("", backup);
  return backup;
}

}  // namespace

void checkReplaceable(const std::string& target) {
  struct stat old, folder;
  if (lstat(target.c_str(), &old) != 0) return;  // nothing to replace
  if (S_ISDIR(old.st_mode)) throw SystemError("cannot replace it: " + reasonText(EISDIR));
  const size_t cut = target.find_last_of('/');
  const std::string holder = cut == std::string::npos ? "." : target.substr(0, cut + 1);
  const uid_t user = geteuid();
  if (stat(holder.c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) && user != 0 &&
      old.st_uid != user && folder.st_uid != user) {
    throw SystemError("cannot replace it: " + reasonText(EPERM));
  }
}

PendingFile::PendingFile(const std::string& target, const WarningHandler& onWarning)
    : target_(target), onWarning_(onWarning), handle_(-1) {
  checkReplaceable(target);
  withSignalsHeld([this, &target] {
    for (int attempt = 0;; ++attempt) {
      path_ = target + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(attempt);
      // Mode 0666 lets the umask decide a new map's permissions, as for any new file.
      const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        handle_ = fd;
        break;
      }
      if (errno != EEXIST || attempt == 100) {
        throw SystemError(withReason("cannot create a temporary file beside it"));
      }
    }
    watchFiles(path_, "");
  });
}

PendingFile::~PendingFile() {
  withSignalsHeld([this] {
    if (!committed_) {
      if (handle_ >= 0) ::close(static_cast<int>(handle_));
      remove(path_, onWarning_);
    }
    unwatchFiles();
  });
}

void PendingFile::write(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw SystemError(withReason("cannot write it"));
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
}

void PendingFile::commit() {
  struct stat old;
  const bool older = lstat(target_.c_str(), &old) == 0;
  const int fd = static_cast<int>(handle_);
  finish(fd, older ? &old : nullptr, onWarning_);
  handle_ = -1;
  // Linux releases the descriptor even when close is interrupted, and the data
  // is synced already: only a real error is one.
  if (::close(fd) != 0 && errno != EINTR) throw SystemError(withReason("cannot write it"));
  const Folder folder(target_);
  // Once renamed, the file is the map: no handler may remove it after that.
  std::string backup;
  withSignalsHeld([&] {
    backup = replace(path_, target_, older, onWarning_);
    committed_ = true;
  });
  const int error = folder.sync();
  withSignalsHeld([&] {
    // Not durable: the older map is put back, or, when there was none, the new
    // one removed, so that the map is as it was before the run. An older map
    // on a file system without hard links has no copy; the new map stays.
    if (error != 0 && !backup.empty()) {
      if (std::rename(backup.c_str(), target_.c_str()) != 0) {
        onWarning_(withReason("cannot put the older map back from " + backup) +
                   "; it is there still");
      }
    } else if (error != 0 && !older) {
      remove(target_, onWarning_);
    } else if (!backup.empty()) {
      remove(backup, onWarning_);
    }
    unwatchFiles();
  });
  if (error != 0) throw SystemError("cannot sync its folder: " + reasonText(error));
}

}  // namespace platform
}  // namespace wldmap
