// The safe save on POSIX systems, and the output a thumbnail service names.
// A save: a new file beside the target, without a name where the system has
// such files (Linux's O_TMPFILE), else with a temporary name the clean-up
// signals remove; written, given the older target's permissions, synced; put
// in the target's place by a rename; the folder synced to make the rename
// last, and the older target put back where the folder cannot be synced.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/files.h"
#include "platform/seam.h"

namespace wldmap {
namespace platform {

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

// Closes `fd`; Linux releases it even when the close is interrupted.
int closeFile(int fd) { return ::close(fd) == 0 || errno == EINTR ? 0 : errno; }

// The folder that holds `path`, as a path the calls take.
std::string folderPath(const std::string& path) {
  const std::string folder = folderOfFile(path);
  return folder.empty() ? "." : folder;
}

// Removes a file this process made, or names it to `onWarning` for the user to
// remove.
void remove(const std::string& path, const WarningHandler& onWarning) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    onWarning(withReason("cannot remove " + path) + "; remove it by hand");
  }
}

// A name beside `target` made by `make` (true once made, false when the name
// is taken); throws SystemError ("<what>: <reason>") when none can be.
std::string makeName(const std::string& target, const char* kind, const char* what,
                     const std::function<bool(const std::string&)>& make) {
  const std::string name = firstFreeName(target, kind, make);
  if (name.empty()) throw SystemError(std::string(what) + ": " + reasonText(EEXIST));
  return name;
}

// The file's own entry in /proc, which names it without a path: linking it
// needs no privilege, unlike AT_EMPTY_PATH. True once `name` is made, false
// when it is taken. Throws SystemError ("cannot write it").
bool linkUnnamed(int fd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno == EEXIST) return false;
  throw SystemError(withReason("cannot write it"));
}

}  // namespace

void checkReplaceable(const std::string& target) {
  struct stat old, folder;
  if (lstat(target.c_str(), &old) != 0) return;  // nothing to replace
  if (S_ISDIR(old.st_mode)) throw SystemError("cannot replace it: " + reasonText(EISDIR));
  const uid_t user = geteuid();
  if (stat(folderPath(target).c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) && user != 0 &&
      old.st_uid != user && folder.st_uid != user) {
    throw SystemError("cannot replace it: " + reasonText(EPERM));
  }
}

struct PendingFile::System {
  int fd = -1;
  bool unnamed = false;  // the new file has no name
  std::string path;      // its temporary name, or empty
};

PendingFile::PendingFile(const std::string& target, const std::string& product,
                         const WarningHandler& onWarning)
    : target_(target), product_(product), onWarning_(onWarning),
      system_(std::make_unique<System>()) {
  System& s = *system_;
  // Mode 0666 lets the umask decide a new file's permissions, as for any new file.
#ifdef O_TMPFILE
  s.fd = ::open(folderPath(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  s.unnamed = s.fd >= 0;
  // No such files here: a kernel before 3.11 takes the flag for O_DIRECTORY
  // (EISDIR), a file system without them says EOPNOTSUPP.
  if (!s.unnamed && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    throw SystemError(withReason("cannot create a temporary file beside it"));
  }
#endif
  if (s.unnamed) return;
  // A named file, which a clean-up signal removes from the moment it exists.
  const HeldSignals held;
  s.path = makeName(target, ".tmp", "cannot create a temporary file beside it",
                    [&s](const std::string& name) {
                      s.fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
                      if (s.fd >= 0) return true;
                      if (errno == EEXIST) return false;
                      throw SystemError(withReason("cannot create a temporary file beside it"));
                    });
  watchFiles(s.path, "");
}

PendingFile::~PendingFile() {
  const HeldSignals held;
  if (!committed_) {
    if (system_->fd >= 0) ::close(system_->fd);
    try {
      if (!system_->path.empty()) remove(system_->path, onWarning_);
    } catch (...) {
      // No memory left for the warning: the file is still removed where it could be.
    }
  }
  unwatchFiles();
}

void PendingFile::write(const char* data, size_t size) { writeAll(system_->fd, data, size); }

namespace {

// Gives the new file on `fd` the permissions of the regular file `older`
// (which a rename would not keep); a file system that keeps none is a warning.
void adoptPermissions(int fd, const struct stat& older, const std::string& product,
                      const WarningHandler& onWarning) {
  struct stat now {};  // zeroed: read below even when fstat failed
  if (fstat(fd, &now) == 0 && (now.st_mode & 07777) == (older.st_mode & 07777)) return;
  if (fchmod(fd, older.st_mode & 07777) == 0) return;
  // FAT through FUSE, phones over MTP, some network shares keep no modes: for a
  // file of the user's own, EPERM says so too.
  const bool keepsNone = errno == ENOSYS || errno == ENOTSUP || errno == EOPNOTSUPP ||
                         (errno == EPERM && now.st_uid == geteuid());
  if (!keepsNone) throw SystemError(withReason("cannot set its permissions"));
  onWarning(withReason("cannot give it the older " + product + "'s permissions") +
            "; it has those of a new file");
}

// Puts the older target back from its bytes on `older` after a replacement its
// folder could not make durable: a new unnamed file with the permissions of
// the one that replaced it (the older's), synced, renamed over the target.
void putBack(int older, const std::string& target) {
  const int copy = ::open(folderPath(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (copy < 0) throw SystemError(reasonText(errno));
  try {
    std::vector<char> piece(size_t(1) << 20);
    for (off_t at = 0;;) {
      const ssize_t got = pread(older, piece.data(), piece.size(), at);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw SystemError(reasonText(errno));
      if (got == 0) break;
      writeAll(copy, piece.data(), size_t(got));
      at += got;
    }
    struct stat now;
    if (stat(target.c_str(), &now) == 0 && fchmod(copy, now.st_mode & 07777) != 0) {
      throw SystemError(reasonText(errno));
    }
    if (const int error = syncFile(copy)) throw SystemError(reasonText(error));
    const std::string name = makeName(target, ".tmp", "cannot name it",
                                      [copy](const std::string& n) { return linkUnnamed(copy, n); });
    ::close(copy);
    if (std::rename(name.c_str(), target.c_str()) != 0) {
      const int error = errno;
      unlink(name.c_str());
      throw SystemError(reasonText(error));
    }
  } catch (const SystemError&) {
    ::close(copy);
    throw;
  }
}

}  // namespace

void PendingFile::commit(bool keepHeld) {
  System& s = *system_;
  // A replaced target keeps its permissions: a private map stays private. A
  // target that is a symbolic link is replaced by a file of its own, which
  // takes the mode of any new file.
  struct stat older {};
  const bool replacing = lstat(target_.c_str(), &older) == 0;
  if (replacing && S_ISREG(older.st_mode)) adoptPermissions(s.fd, older, product_, onWarning_);
  if (const int error = syncFile(s.fd)) {
    throw SystemError("cannot write it: " + reasonText(error));
  }
  if (!s.unnamed) {
    const int fd = s.fd;
    s.fd = -1;
    if (const int error = closeFile(fd)) throw SystemError("cannot write it: " + reasonText(error));
  }
  // The folder, to make the rename last; one that may be written but not read
  // (mode -wx) cannot be opened, nor synced.
  const int folder = ::open(folderPath(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0 && errno != EACCES) throw SystemError(withReason("cannot open its folder"));
  // Should the folder not keep the rename, the older target comes back: from
  // its bytes, held open, where the new file has no name (so that a kill leaves
  // no name behind); else, or where it is no regular file, from a second name
  // made just before the rename.
  const int olderBytes = s.unnamed && replacing && S_ISREG(older.st_mode)
                             ? ::open(target_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                             : -1;
  int error = 0;
  try {
    // From the rename on the file is the target: no handler may remove it, and
    // the rename is made durable before a signal may end the run.
    HeldSignals held;
    std::string backup;
    if (replacing && olderBytes < 0) {
      try {
        backup = firstFreeName(target_, ".old", [this](const std::string& name) {
          if (link(target_.c_str(), name.c_str()) == 0) return true;
          if (errno == EEXIST) return false;
          throw SystemError(reasonText(errno));
        });
      } catch (const SystemError&) {
        backup.clear();  // no hard links here: the replacement cannot be taken back
      }
    }
    // An unnamed file takes the target's name directly where nothing is in the
    // way; else it is named beside it, the name living only until the rename.
    if (s.unnamed && !replacing && linkUnnamed(s.fd, target_)) {
      ::close(s.fd);  // synced already: closing it can lose nothing
      s.fd = -1;
    } else {
      if (s.unnamed) {
        try {
          s.path = makeName(target_, ".tmp", "cannot write it",
                            [&s](const std::string& name) { return linkUnnamed(s.fd, name); });
        } catch (const SystemError&) {
          if (!backup.empty()) remove(backup, onWarning_);
          throw;
        }
      }
      // From then on only the older target's second name is removed by a signal.
      if (!backup.empty() && !watchFiles(s.path, backup)) {
        remove(backup, onWarning_);
        backup.clear();
      }
      if (std::rename(s.path.c_str(), target_.c_str()) != 0) {
        const std::string why = withReason("cannot replace it");
        if (!backup.empty()) remove(backup, onWarning_);
        watchFiles(s.path, "");
        throw SystemError(why);
      }
      watchFiles("", backup);
      s.path.clear();
      if (s.unnamed) {
        ::close(s.fd);
        s.fd = -1;
      }
    }
    committed_ = true;
    error = folder < 0 ? 0 : syncFile(folder);
    // Not durable: the older target is put back, or, when there was none, the
    // new one removed, so that the target is as it was before the run. An
    // older target on a file system without hard links has no copy; the new
    // one stays.
    if (error != 0 && olderBytes >= 0) {
      try {
        putBack(olderBytes, target_);
      } catch (const SystemError& e) {
        onWarning_("cannot put the older " + product_ + " back: " + e.what());
      }
    } else if (error != 0 && !backup.empty()) {
      if (std::rename(backup.c_str(), target_.c_str()) != 0) {
        onWarning_(withReason("cannot put the older " + product_ + " back from " + backup) +
                   "; it is there still");
      }
    } else if (error != 0 && !replacing) {
      remove(target_, onWarning_);
    } else if (!backup.empty()) {
      remove(backup, onWarning_);
    }
    unwatchFiles();
    // Whole and lasting: a signal that came meanwhile, or comes from now on,
    // is taken as having come after the run, which ends with it held.
    if (keepHeld && error == 0) held.keep();
  } catch (const SystemError&) {
    if (olderBytes >= 0) ::close(olderBytes);
    if (folder >= 0) ::close(folder);
    throw;
  }
  if (olderBytes >= 0) ::close(olderBytes);
  if (folder >= 0) ::close(folder);
  if (error != 0) throw SystemError("cannot sync its folder: " + reasonText(error));
}

OutputFile::OutputFile(const std::string& path, const WarningHandler& onWarning)
    : onWarning_(onWarning) {
  // A writer that gave up on an empty output leaves it empty; one that wrote it
  // while this one waited leaves something to lose, to be replaced.
  for (int attempt = 0;; ++attempt) {
    // Anything but a regular file is refused without opening it: a FIFO would
    // otherwise take the content, or wait for a reader.
    struct stat named;
    if (stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
      throw SystemError(S_ISDIR(named.st_mode) ? "is a folder" : "is not a regular file");
    }
    // Not blocking, should it have become a FIFO since.
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) throw SystemError(withReason("cannot open"));
    if (fd >= 0) {
      // Its size, while `path` still names it: none once another program has
      // removed or replaced it.
      const auto sizeIfNamed = [&]() -> std::optional<off_t> {
        struct stat opened, now;
        if (fstat(fd, &opened) != 0 || stat(path.c_str(), &now) != 0 ||
            opened.st_dev != now.st_dev || opened.st_ino != now.st_ino) {
          return std::nullopt;
        }
        if (!S_ISREG(opened.st_mode)) throw SystemError("is not a regular file");
        return opened.st_size;
      };
      std::optional<off_t> size;
      try {
        size = sizeIfNamed();
        if (size == off_t{0}) {
          // Writers of one empty output take turns; a file system without
          // locks goes unlocked, and a signal ends the wait.
          while (flock(fd, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            if (errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL) break;
            throw SystemError(withReason("cannot open"));
          }
          size = sizeIfNamed();
        }
      } catch (const SystemError&) {
        ::close(fd);
        throw;
      }
      if (size == off_t{0}) {
        handle_ = fd;
        // A clean-up signal cuts what was written back to nothing.
        watchDescriptor(fd);
        return;
      }
      ::close(fd);
      if (!size) {
        if (attempt == 100) throw SystemError("cannot open: another program keeps replacing it");
        continue;
      }
    }
    // Missing, or holding something: a new file takes the place of the file it
    // names (through a symbolic link, the file the link names), whole.
    std::string target = path;
    struct stat link;
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      if (char* resolved = realpath(path.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
      }
    }
    checkReplaceable(target);
    replacement_ = std::make_unique<PendingFile>(target, "thumbnail", onWarning);
    return;
  }
}

OutputFile::~OutputFile() {
  if (handle_ == -1) return;
  const HeldSignals held;
  // Anything written, even by a write that then failed, is cut back; an empty
  // file is left alone (a FAT through FUSE refuses to cut what is empty).
  struct stat now {};
  if (!committed_ && fstat(static_cast<int>(handle_), &now) == 0 && now.st_size != 0 &&
      ftruncate(static_cast<int>(handle_), 0) != 0) {
    try {
      onWarning_(withReason("cannot cut it back to its old content"));
    } catch (...) {
      // No memory left for the warning; the file stays as the failed cut left it.
    }
  }
  unwatchFiles();
  ::close(static_cast<int>(handle_));
}

void OutputFile::write(const char* data, size_t size) {
  if (replacement_) return replacement_->write(data, size);
  writeAll(static_cast<int>(handle_), data, size);
}

void OutputFile::commit() {
  // A signal that comes once the new content takes effect is taken as having
  // come after the run, to its end: the status never says killed over a new
  // thumbnail.
  if (replacement_) {
    replacement_->commit(true);
    committed_ = true;
    return;
  }
  if (const int error = syncFile(static_cast<int>(handle_))) {
    throw SystemError("cannot write it: " + reasonText(error));
  }
  HeldSignals held;
  unwatchFiles();
  committed_ = true;
  held.keep();
  // Synced already: closing it can lose nothing.
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace platform
}  // namespace wldmap
