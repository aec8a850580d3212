#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <mutex>

#include "platform/process.h"
#include "platform/seam.h"

namespace wldmap {
namespace platform {

namespace {

// The console's output code page when the process started, restored on the way
// out so that the console a user ran wldmap from is left as it was.
UINT originalOutputCodePage = 0;

void restoreCodePage() {
  if (originalOutputCodePage != 0) SetConsoleOutputCP(originalOutputCodePage);
}

BOOL WINAPI restoreCodePageOnEvent(DWORD) {
  restoreCodePage();
  return FALSE;  // go on to the next handler, and then the default one
}

}  // namespace

void prepareProcess() {
  // Without a console there is no code page to set or restore (0).
  originalOutputCodePage = GetConsoleOutputCP();
  if (originalOutputCodePage != 0 && originalOutputCodePage != CP_UTF8) {
    SetConsoleOutputCP(CP_UTF8);
    std::atexit(restoreCodePage);
  } else {
    originalOutputCodePage = 0;
  }
  // Failures are reported on standard error, never in a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetConsoleCtrlHandler(restoreCodePageOnEvent, TRUE);
}

std::vector<std::string> arguments(int, char**) {
  // The narrow argv holds the arguments in the ANSI code page, which cannot hold
  // every name; the wide command line, split as wmain's arguments are, can.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 0; wide && i < count; ++i) args.push_back(narrow(wide[i], wcslen(wide[i])));
  LocalFree(wide);
  return args;
}

unsigned long processNumber() { return GetCurrentProcessId(); }

// Where the executable and its data are.

std::string modulePath(const void* address) {
  HMODULE module = nullptr;
  if (address && !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                     static_cast<LPCWSTR>(address), &module)) {
    return std::string();
  }
  // A path of any length: the buffer grows until the name fits.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) return narrow(path.data(), length);
    if (path.size() >= 32768) return std::string();
    path.resize(path.size() * 2);
  }
}

std::string executablePath(const std::string&) { return modulePath(nullptr); }

// The zip holds one folder: the colours lie beside the program.
std::vector<std::string> dataFolders(const std::string& exeFolder) { return {exeFolder}; }

std::string userConfigFolder() {
  const wchar_t* appData = _wgetenv(L"APPDATA");
  if (!appData || !*appData) return std::string();
  return narrow(appData, wcslen(appData)) + "\\wldmap\\";
}

std::string browserTarget(const std::string& path) {
  // A drive's or a share's full path, which the shell never takes for a URL (a
  // scheme is two letters at least) or a switch; the long forms made plain, and
  // never a device.
  std::wstring full = resolve(path);
  if (full.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    full.replace(0, 8, L"\\\\");
  } else if (full.rfind(L"\\\\?\\", 0) == 0) {
    full.erase(0, 4);
  }
  const bool drive = full.size() > 3 && iswalpha(full[0]) && full[1] == L':' && full[2] == L'\\';
  const bool share = full.size() > 2 && full.rfind(L"\\\\", 0) == 0 && full[2] != L'?' &&
                     full[2] != L'.';
  if (!drive && !share) throw SystemError("cannot start a browser: not a full path: " + path);
  return narrow(full.data(), full.size());
}

void openInBrowser(const std::string& path) {
  const std::wstring target = widen(browserTarget(path));
  // ShellExecuteW's result is no handle: above 32 is success, at most 32 an error.
  const auto result = reinterpret_cast<intptr_t>(
      ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) throw SystemError(withReason("cannot start a browser"));
}

// Console events come on a thread of their own; there is nothing to steer.
JoinedThread::JoinedThread(std::function<void()> job) : thread_(std::move(job)) {}

}  // namespace platform
}  // namespace wldmap
