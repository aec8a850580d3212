// Inside the seam: the clean-up signals (SIGINT, SIGTERM, SIGHUP and SIGQUIT;
// on Windows the console's Ctrl+C and close events) and the files they remove
// before the process ends.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace wldmap {
namespace platform {

// Holds the clean-up signals back on this thread while it lives: one that
// arrives meanwhile is delivered, to the handler then in place, when it ends.
// On Windows, where console events come on a thread of their own, such an event
// waits until then before the process ends.
class HeldSignals {
 public:
  HeldSignals();
  ~HeldSignals();
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  struct Previous;
  std::unique_ptr<Previous> previous_;
};

// Runs `step` with the clean-up signals held back on this thread: one that
// arrives meanwhile is delivered, to the handler then in place, when `step`
// returns. (Console events come on a thread of their own; nothing is held.)
void withSignalsHeld(const std::function<void()>& step);

// From now on, until unwatchFiles(), a clean-up signal removes `temporary` and
// then `copy`, each unless empty, before the process ends as the signal says.
// False, and nothing watched, when a path is too long to keep. Call it with the
// signals held.
bool watchFiles(const std::string& temporary, const std::string& copy);

// No file is removed by a signal any more. Call it with the signals held.
void unwatchFiles();

}  // namespace platform
}  // namespace wldmap
