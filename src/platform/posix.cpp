// The platform seam on Linux and other POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>

#include "platform/platform.h"

namespace wldmap {
namespace platform {

namespace {

std::string withReason(const std::string& what) { return what + ": " + std::strerror(errno); }

// The files a signal handler removes: the temporary file until it is renamed,
// then the older map's copy until the new map is durable. Written only while
// the clean-up signals are held, read only by the handler; empty when unused.
char pendingPath[PATH_MAX];
char backupPath[PATH_MAX];
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr size_t kCleanupCount = std::size(kCleanupSignals);
struct sigaction previousActions[kCleanupCount];
bool watching = false;

extern "C" void removePendingAndDie(int signal) {
  if (pendingPath[0] != '\0') unlink(pendingPath);
  if (backupPath[0] != '\0') unlink(backupPath);
  // The action was reset to the default on entry (SA_RESETHAND) and the signal is
  // not blocked (SA_NODEFER), so raising it again ends the process with its status.
  raise(signal);
}

// Copies a path into one of the handler's buffers; false when it does not fit.
bool setWatched(char (&watched)[PATH_MAX], const std::string& path) {
  if (path.size() >= PATH_MAX) return false;  // no call could use it anyway
  std::memcpy(watched, path.c_str(), path.size() + 1);
  return true;
}

void watchSignals(const std::string& path) {
  if (!setWatched(pendingPath, path)) return;  // the rename would fail on it anyway
  backupPath[0] = '\0';
  struct sigaction action {};
  action.sa_handler = removePendingAndDie;
  action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kCleanupCount; ++i) {
    sigaction(kCleanupSignals[i], nullptr, &previousActions[i]);
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (previousActions[i].sa_handler != SIG_IGN) sigaction(kCleanupSignals[i], &action, nullptr);
  }
  watching = true;
}

// Holds the clean-up signals back on this thread while it lives, so that the
// temporary file and the handler that removes it come and go together: a signal
// that arrives meanwhile is delivered, to the right handler, when the scope ends.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : kCleanupSignals) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

void unwatchSignals() {
  if (!watching) return;
  watching = false;
  for (size_t i = 0; i < kCleanupCount; ++i) sigaction(kCleanupSignals[i], &previousActions[i], nullptr);
}

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

}  // namespace

void prepareProcess() {
  // Progress lines that cannot be written are not worth the map: a closed pipe
  // becomes a failed write (EPIPE) that the run goes on past. A file size limit
  // becomes EFBIG, reported like any other failed write.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

namespace {

// The started path as a shell resolved it: made absolute when it names a
// folder, else the first executable file of that name along PATH.
std::string startedPath(const std::string& argv0) {
  namespace fs = std::filesystem;
  if (argv0.empty()) return std::string();
  std::error_code error;
  if (argv0.find('/') != std::string::npos) {
    const fs::path absolute = fs::absolute(argv0, error);
    return error ? std::string() : absolute.string();
  }
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "";
  for (size_t start = 0; start <= folders.size();) {
    const size_t end = std::min(folders.find(':', start), folders.size());
    // An empty entry in PATH is the current folder.
    const std::string folder = end == start ? "." : folders.substr(start, end - start);
    const std::string candidate = folder + "/" + argv0;
    if (access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate, error)) {
      const fs::path absolute = fs::absolute(candidate, error);
      return error ? std::string() : absolute.string();
    }
    start = end + 1;
  }
  return std::string();
}

}  // namespace

std::string executablePath(const std::string& argv0) {
  if (!WLDMAP_PORTABLE) {
    // Linux names the running executable here; other systems have no such link.
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return exe.string();
  }
  return startedPath(argv0);
}

std::vector<std::string> dataFolders(const std::string& exeFolder) {
  return {exeFolder, exeFolder + "../share/wldmap/"};
}

const bool kWindowsFileNames = false;

std::thread startThread(std::function<void()> job) {
  // A new thread starts with its creator's signal mask: it is started with the
  // clean-up signals held, and keeps them held, so that they always reach the
  // main thread. Every other signal stays as it was; a fault such as SIGSEGV
  // must never be held back.
  const SignalsHeld held;
  return std::thread(std::move(job));
}

void* allocatePages(size_t bytes) {
  // Plain 4 KiB pages. 2 MiB pages read and paint faster when the memory was in
  // use a moment ago, but in a virtual machine that hands free memory back to its
  // host, a run after a pause then waits on the host for every page: 0.6-0.8 s
  // with 4 KiB pages against 0.9-1.3 s with 2 MiB ones on the 8400 x 2400 sample.
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void populatePages(void* pages, size_t bytes) {
  // One call instead of a fault per page (Linux 5.14 and later); a system
  // without it takes the faults.
#if defined(MADV_POPULATE_WRITE) && !WLDMAP_PORTABLE
  madvise(pages, bytes, MADV_POPULATE_WRITE);
#else
  static_cast<void>(pages);
  static_cast<void>(bytes);
#endif
}

void freePages(void* pages, size_t bytes) { munmap(pages, bytes); }

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

PendingFile::PendingFile(const std::string& target) : target_(target), handle_(-1) {
  const SignalsHeld held;
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
  watchSignals(path_);
}

PendingFile::~PendingFile() {
  const SignalsHeld held;
  if (!committed_) {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    unlink(path_.c_str());
  }
  unwatchSignals();
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
  const int fd = static_cast<int>(handle_);
  // A replaced map keeps its permissions: a private map stays private. A map
  // that was a symbolic link is replaced by a file of its own, which takes the
  // mode of any new map, not that of whatever the link pointed to.
  struct stat old;
  const bool older = lstat(target_.c_str(), &old) == 0;
  if (older && S_ISREG(old.st_mode) && fchmod(fd, old.st_mode & 07777) != 0) {
    throw SystemError(withReason("cannot set its permissions"));
  }
  int synced = fsync(fd);
  while (synced != 0 && errno == EINTR) synced = fsync(fd);
  if (synced != 0) throw SystemError(withReason("cannot write it"));
  handle_ = -1;
  // Linux releases the descriptor even when close is interrupted, and the data
  // is synced already: only a real error is one.
  if (::close(fd) != 0 && errno != EINTR) throw SystemError(withReason("cannot write it"));
  const Folder folder(target_);
  std::string backup;
  {
    // Once renamed, the file is the map: no handler may remove it after that,
    // only the older map's copy.
    const SignalsHeld held;
    if (older) backup = linkOlderMap(target_);
    if (!backup.empty() && !setWatched(backupPath, backup)) {
      unlink(backup.c_str());
      backup.clear();
    }
    if (std::rename(path_.c_str(), target_.c_str()) != 0) {
      const int error = errno;
      if (!backup.empty()) unlink(backup.c_str());
      backupPath[0] = '\0';
      errno = error;
      throw SystemError(withReason("cannot replace it"));
    }
    committed_ = true;
    pendingPath[0] = '\0';
  }
  const int error = folder.sync();
  const SignalsHeld held;
  if (error != 0) {
    // Not durable: the older map is put back, or, when there was none, the new
    // one removed, so that the map is as it was before the run. An older map
    // on a file system without hard links has no copy; the new map stays.
    if (!backup.empty()) {
      std::rename(backup.c_str(), target_.c_str());
    } else if (!older) {
      unlink(target_.c_str());
    }
  } else if (!backup.empty()) {
    unlink(backup.c_str());
  }
  unwatchSignals();
  if (error != 0) throw SystemError("cannot sync its folder: " + std::string(std::strerror(error)));
}

std::string fullPath(const std::string& path) { return path; }

void writeInPlace(const std::string& path, std::string_view bytes) {
  bool created = true;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {
    created = false;
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
    throw SystemError("cannot write it: " + std::string(std::strerror(error)));
  }
}

std::optional<FileId> fileId(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileId{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

}  // namespace platform
}  // namespace wldmap
