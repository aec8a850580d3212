#include "platform/signals.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <iterator>

namespace wldmap {
namespace platform {

namespace {

// The files the handler removes. Written only while the clean-up signals are
// held, read only by the handler; empty when unused.
char temporaryPath[PATH_MAX];
char copyPath[PATH_MAX];
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr size_t kCleanupCount = std::size(kCleanupSignals);
struct sigaction previousActions[kCleanupCount];
bool watching = false;

extern "C" void removeFilesAndDie(int signal) {
  if (temporaryPath[0] != '\0') unlink(temporaryPath);
  if (copyPath[0] != '\0') unlink(copyPath);
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

struct HeldSignals::Previous {
  sigset_t mask;
};

HeldSignals::HeldSignals() : previous_(std::make_unique<Previous>()) {
  sigset_t held;
  sigemptyset(&held);
  for (int signal : kCleanupSignals) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &previous_->mask);
}

HeldSignals::~HeldSignals() { pthread_sigmask(SIG_SETMASK, &previous_->mask, nullptr); }

void withSignalsHeld(const std::function<void()>& step) {
  const HeldSignals held;
  step();
}

bool watchFiles(const std::string& temporary, const std::string& copy) {
  if (!keep(temporaryPath, temporary) || !keep(copyPath, copy)) {
    unwatchFiles();
    return false;
  }
  if (watching) return true;
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
  return true;
}

void unwatchFiles() {
  temporaryPath[0] = copyPath[0] = '\0';
  if (!watching) return;
  watching = false;
  for (size_t i = 0; i < kCleanupCount; ++i) sigaction(kCleanupSignals[i], &previousActions[i], nullptr);
}

}  // namespace platform
}  // namespace wldmap
