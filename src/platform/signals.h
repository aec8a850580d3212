// Inside the seam: the clean-up signals (SIGINT, SIGTERM, SIGHUP and SIGQUIT;
// on Windows the console's Ctrl+C and close events) and the files they remove
// before the process ends.
#pragma once

#include <functional>
#include <string>

namespace wldmap {
namespace platform {

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
