#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <sys/select.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/inotify.h>
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/seam.h"
#include "platform/watch.h"

namespace wldmap {
namespace platform {

namespace {

// Set by the clean-up signals while a FolderWatch lives.
volatile sig_atomic_t stopCame = 0;
extern "C" void noteStop(int) { stopCame = 1; }
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kStops = std::size(kStopSignals);

#if defined(__linux__)
// Whether a file system of this kind (statfs's f_type) can change without the
// kernel seeing it: a network share, or a FUSE mount whose daemon may.
bool changesUnseen(long kind) {
  constexpr long kUnseen[] = {
      0x6969,      // NFS
      0x517B,      // SMB
      0xFF534D42,  // CIFS
      0xFE534D42,  // SMB2
      0x65735546,  // FUSE
      0x01021997,  // 9P
      0x00C36400,  // Ceph
      0x5346414F,  // AFS
      0x73757245,  // Coda
  };
  return std::find(std::begin(kUnseen), std::end(kUnseen), kind) != std::end(kUnseen);
}
#endif

}  // namespace

struct FolderWatch::System {
  int inotify = -1;
  std::vector<int> watches;  // by folder: its inotify watch, or -1 where it is looked at
  struct sigaction previous[kStops];
  sigset_t previousMask;
  sigset_t waitMask;  // the mask while waiting: the stop signals let through
};

FolderWatch::FolderWatch() : system_(std::make_unique<System>()) {
  System& s = *system_;
  // From now on the stop signals are held, and let through only while waiting,
  // where they end the wait: a save under way is never cut short.
  stopCame = 0;
  sigset_t stops;
  sigemptyset(&stops);
  struct sigaction note {};
  note.sa_handler = noteStop;
  sigemptyset(&note.sa_mask);
  for (size_t i = 0; i < kStops; ++i) {
    sigaction(kStopSignals[i], nullptr, &s.previous[i]);
    // A signal the process was started to ignore (nohup) stays ignored.
    if (s.previous[i].sa_handler == SIG_IGN) continue;
    sigaction(kStopSignals[i], &note, nullptr);
    sigaddset(&stops, kStopSignals[i]);
  }
  pthread_sigmask(SIG_BLOCK, &stops, &s.previousMask);
  s.waitMask = s.previousMask;
  for (const int signal : kStopSignals) {
    if (sigismember(&stops, signal)) sigdelset(&s.waitMask, signal);
  }
#if defined(__linux__)
  // Without inotify (or in the portable build) every folder is looked at.
  if (!WLDMAP_PORTABLE) s.inotify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
#endif
}

FolderWatch::~FolderWatch() {
  System& s = *system_;
  if (s.inotify >= 0) close(s.inotify);
  for (size_t i = 0; i < kStops; ++i) sigaction(kStopSignals[i], &s.previous[i], nullptr);
  pthread_sigmask(SIG_SETMASK, &s.previousMask, nullptr);
}

bool FolderWatch::add(const std::string& folder) {
  System& s = *system_;
  int watch = -1;
#if defined(__linux__)
  struct statfs info {};
  const bool seen = statfs(folder.c_str(), &info) == 0 && !changesUnseen(info.f_type);
  if (s.inotify >= 0 && seen) {
    watch = inotify_add_watch(s.inotify, folder.c_str(),
                              IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_DELETE |
                                  IN_MOVED_FROM | IN_ONLYDIR | IN_EXCL_UNLINK);
  }
#else
  static_cast<void>(folder);
#endif
  s.watches.push_back(watch);
  return watch >= 0;
}

std::optional<std::vector<FolderChange>> FolderWatch::wait(std::chrono::milliseconds timeout) {
  System& s = *system_;
  std::vector<FolderChange> changes;
  if (stopCame) return std::nullopt;
  fd_set readable;
  FD_ZERO(&readable);
  if (s.inotify >= 0) FD_SET(s.inotify, &readable);
  const auto count = timeout.count() < 0 ? 0 : timeout.count();
  const timespec until{static_cast<time_t>(count / 1000), static_cast<long>(count % 1000) * 1000000};
  const int ready = pselect(s.inotify + 1, &readable, nullptr, nullptr,
                            timeout.count() < 0 ? nullptr : &until, &s.waitMask);
  if (stopCame) return std::nullopt;
  if (ready < 0 && errno != EINTR) throw SystemError(withReason("cannot wait for changes"));
  if (ready <= 0) return changes;
#if defined(__linux__)
  alignas(inotify_event) char buffer[64 << 10];
  for (;;) {
    const ssize_t got = read(s.inotify, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      const char* name = buffer + at + sizeof event;
      at += static_cast<ssize_t>(sizeof event + event.len);
      if (event.mask & (IN_Q_OVERFLOW | IN_IGNORED)) {
        // Events were lost, or a folder went: any of its files may have changed.
        for (size_t folder = 0; folder < s.watches.size(); ++folder) {
          if (event.mask & IN_Q_OVERFLOW || s.watches[folder] == event.wd) {
            changes.push_back({folder, std::string(), FolderChange::kUnknown});
          }
        }
        continue;
      }
      const auto folder = std::find(s.watches.begin(), s.watches.end(), event.wd);
      if (folder == s.watches.end() || event.len == 0) continue;
      const FolderChange::Kind kind =
          event.mask & (IN_DELETE | IN_MOVED_FROM)     ? FolderChange::kRemoved
          : event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO) ? FolderChange::kWritten
                                                        : FolderChange::kWriting;
      changes.push_back({size_t(folder - s.watches.begin()), std::string(name), kind});
    }
  }
#endif
  return changes;
}

bool writersDone(const std::string&) { return true; }

}  // namespace platform
}  // namespace wldmap
