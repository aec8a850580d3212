#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "platform/process.h"
#include "platform/seam.h"

extern char** environ;  // the environment xdg-open is given

namespace wldmap {
namespace platform {

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

unsigned long processNumber() { return static_cast<unsigned long>(getpid()); }

// Where the executable and its data are.

std::string modulePath(const void* address) {
  Dl_info info{};
  if (!address) return executablePath("");
  return dladdr(address, &info) != 0 && info.dli_fname ? info.dli_fname : std::string();
}

std::string executablePath(const std::string& argv0) {
  if (!WLDMAP_PORTABLE) {
    // Linux names the running executable here; other systems have no such link.
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return exe.string();
  }
  return startedPath(argv0);
}

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

std::vector<std::string> dataFolders(const std::string& exeFolder) {
  return {exeFolder, exeFolder + WLDMAP_DATA_FROM_BIN};
}

// Signals.

namespace {

// The files the handler removes. Written only while the clean-up signals are
// held, read only by the handler; empty when unused.
char temporaryPath[PATH_MAX];
char copyPath[PATH_MAX];
volatile sig_atomic_t cutDescriptor = -1;  // a file to cut back to nothing
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr size_t kCleanupCount = std::size(kCleanupSignals);
struct sigaction previousActions[kCleanupCount];
bool watching = false;

extern "C" void removeFilesAndDie(int signal) {
  if (temporaryPath[0] != '\0') unlink(temporaryPath);
  if (copyPath[0] != '\0') unlink(copyPath);
  if (cutDescriptor >= 0) static_cast<void>(ftruncate(cutDescriptor, 0));
  // The action was reset to the default on entry (SA_RESETHAND) and the signal is
  // not blocked (SA_NODEFER), so raising it again ends the process with its status.
  raise(signal);
}

// Copies a path into one of the handler's buffers; false when it does not fit.
bool keep(char (&buffer)[PATH_MAX], const std::string& path) {
  if (path.size() >= PATH_MAX) return false;  // no call could use it anyway
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

HeldSignals::HeldSignals() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal : kCleanupSignals) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

HeldSignals::~HeldSignals() {
  if (!kept_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

namespace {

// Installs the handler for the clean-up signals the caller does not ignore.
void installHandler() {
  if (watching) return;
  struct sigaction action {};
  action.sa_handler = removeFilesAndDie;
  action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kCleanupCount; ++i) {
    sigaction(kCleanupSignals[i], nullptr, &previousActions[i]);
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (previousActions[i].sa_handler != SIG_IGN) sigaction(kCleanupSignals[i], &action, nullptr);
  }
  watching = true;
}

}  // namespace

bool watchFiles(const std::string& temporary, const std::string& copy) {
  if (!keep(temporaryPath, temporary) || !keep(copyPath, copy)) {
    unwatchFiles();
    return false;
  }
  installHandler();
  return true;
}

void watchDescriptor(int fd) {
  cutDescriptor = static_cast<sig_atomic_t>(fd);
  installHandler();
}

void unwatchFiles() {
  temporaryPath[0] = copyPath[0] = '\0';
  cutDescriptor = -1;
  if (!watching) return;
  watching = false;
  for (size_t i = 0; i < kCleanupCount; ++i) sigaction(kCleanupSignals[i], &previousActions[i], nullptr);
}

std::string userConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/wldmap/";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config/wldmap/";
  return std::string();
}

std::string browserTarget(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  // The page exists by now: its real path, else the path made absolute.
  fs::path full = fs::canonical(path, error);
  if (error) full = fs::absolute(path, error);
  if (error) throw SystemError("cannot start a browser: " + error.message());
  static const char hex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char c : full.string()) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || std::strchr("-._~/", c)) {
      url += c;
    } else {
      url += '%';
      url += hex[byte >> 4];
      url += hex[byte & 15];
    }
  }
  return url;
}

namespace {

// Has the opener's child close every descriptor above standard error, whatever
// opened it and with or without close-on-exec.
void closeTheRest(posix_spawn_file_actions_t& actions) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
  if (!WLDMAP_PORTABLE) {
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    return;
  }
#endif
  const long open = sysconf(_SC_OPEN_MAX);
  const long limit = open < 0 ? 1024 : std::min(open, 1L << 16);
  for (int fd = 3; fd < limit; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) posix_spawn_file_actions_addclose(&actions, fd);
  }
}

}  // namespace

void openInBrowser(const std::string& path) {
  const std::string url = browserTarget(path);
  // The browser xdg-open may start belongs to the user, not to this run: its
  // own session, so that no hangup of the run's terminal reaches it; every
  // signal at its default and none blocked; the null device for its standard
  // streams, so that neither a pipe reading the run's output nor the terminal
  // waits for it; no other descriptor of the run.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, every;
  sigemptyset(&none);
  sigfillset(&every);
  sigdelset(&every, SIGKILL);
  sigdelset(&every, SIGSTOP);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &every);
#ifdef POSIX_SPAWN_SETSID
  const int apart = POSIX_SPAWN_SETSID;
#else
  const int apart = POSIX_SPAWN_SETPGROUP;  // a group of its own, where sessions cannot be had
#endif
  posix_spawnattr_setflags(&attributes,
                           static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | apart));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDWR, 0);
  posix_spawn_file_actions_adddup2(&actions, 0, 1);
  posix_spawn_file_actions_adddup2(&actions, 0, 2);
  closeTheRest(actions);
  const char* argv[] = {"xdg-open", url.c_str(), nullptr};
  pid_t child = 0;
  const int error = posix_spawnp(&child, "xdg-open", &actions, &attributes,
                                 const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) throw SystemError("cannot start a browser: xdg-open: " + reasonText(error));
  // xdg-open hands the page to the browser and ends, or, where it runs the
  // browser itself, stays: it is waited for a few seconds, long enough to say
  // whether it failed, never until the browser is closed.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) return;
    if (std::chrono::steady_clock::now() > until) {
      throw SystemError("xdg-open has not ended within 5 s; the page may open later, or not");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFSIGNALED(status)) {
    throw SystemError("cannot start a browser: xdg-open was killed by signal " +
                      std::to_string(WTERMSIG(status)));
  }
  if (WEXITSTATUS(status) != 0) {
    throw SystemError("cannot start a browser: xdg-open ended with status " +
                      std::to_string(WEXITSTATUS(status)));
  }
}

JoinedThread::JoinedThread(std::function<void()> job) {
  // A new thread starts with its creator's signal mask: it is started with the
  // clean-up signals held, and keeps them held, so that they always reach the
  // main thread. Every other signal stays as it was; a fault such as SIGSEGV
  // must never be held back.
  const HeldSignals held;
  thread_ = std::thread(std::move(job));
}

}  // namespace platform
}  // namespace wldmap
