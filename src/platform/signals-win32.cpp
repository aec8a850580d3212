#include "platform/signals.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <mutex>

#include "platform/system_error.h"
#include "platform/wide_paths.h"

namespace wldmap {
namespace platform {

namespace {

// The temporary file the console control handler removes (Ctrl+C, closing the
// window). It is opened with FILE_SHARE_DELETE, so it goes when the process ends.
// The handler runs on a thread of its own: the path is written before the flag
// is raised, and read only after the flag is seen.
wchar_t pendingPath[32768];
std::atomic<bool> pendingSet{false};
std::atomic<bool> handlerInstalled{false};

BOOL WINAPI removePending(DWORD) {
  if (pendingSet.load(std::memory_order_acquire)) DeleteFileW(pendingPath);
  return FALSE;  // go on to the next handler, and then the default one
}

// Held by a thread that holds the console's events back; the handler takes it
// in turn, so that the process ends only once that thread lets go.
std::recursive_mutex held;
std::atomic<bool> waiterInstalled{false};

BOOL WINAPI waitUntilReleased(DWORD) {
  const std::lock_guard<std::recursive_mutex> wait(held);
  return FALSE;
}

}  // namespace

struct HeldSignals::Previous {};

HeldSignals::HeldSignals() {
  if (!waiterInstalled.exchange(true)) SetConsoleCtrlHandler(waitUntilReleased, TRUE);
  held.lock();
}

HeldSignals::~HeldSignals() { held.unlock(); }

void withSignalsHeld(const std::function<void()>& step) { step(); }

// The older map's copy is a POSIX matter: Windows replaces in one call.
bool watchFiles(const std::string& temporary, const std::string&) {
  pendingSet.store(false, std::memory_order_release);
  if (temporary.empty()) return true;
  std::wstring wide;
  try {
    wide = filePath(temporary);
  } catch (const SystemError&) {
    return false;
  }
  if (wide.size() >= sizeof pendingPath / sizeof pendingPath[0]) return false;
  wcscpy(pendingPath, wide.c_str());
  pendingSet.store(true, std::memory_order_release);
  if (!handlerInstalled.exchange(true)) SetConsoleCtrlHandler(removePending, TRUE);
  return true;
}

void unwatchFiles() { pendingSet.store(false, std::memory_order_release); }

}  // namespace platform
}  // namespace wldmap
