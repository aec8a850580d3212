#include "platform/process.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>

#include "platform/wide_paths.h"

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

}  // namespace platform
}  // namespace wldmap
