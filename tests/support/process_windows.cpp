#include <windows.h>

#include <filesystem>

#include "support/process.h"
#include "support/tempdir.h"

namespace wldmap {

namespace {

std::wstring widen(const std::string& utf8) { return std::filesystem::u8path(utf8).wstring(); }

// Quotes one argument so that the C runtime's parser gives it back unchanged.
std::wstring quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

HANDLE inheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
  return CreateFileW(widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::string& argv0,
                         const std::vector<std::string>& args, const std::string& cwd) {
  TempDir capture;
  std::wstring commandLine = quote(widen(argv0));
  for (const std::string& arg : args) commandLine += L" " + quote(widen(arg));
  // A POSIX-style absolute path is resolved on the current drive.
  wchar_t full[MAX_PATH * 4];
  GetFullPathNameW(widen(program).c_str(), MAX_PATH * 4, full, nullptr);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = inheritable(capture / "out", GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = inheritable(capture / "err", GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION process{};
  ProcessResult result;
  // Wine, on a loaded machine, now and then fails to start a process at all;
  // that is the system's hiccup, not the program's, and a second try starts it.
  BOOL started = FALSE;
  DWORD startError = 0;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessW(full, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             widen(cwd).c_str(), &startup, &process);
    if (!started) startError = GetLastError();
  }
  if (started) {
    DWORD status = 0;
    if (WaitForSingleObject(process.hProcess, kTimeoutSeconds * 1000) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      result.status = kTimedOut;
    } else {
      GetExitCodeProcess(process.hProcess, &status);
      result.status = static_cast<int>(status);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(startup.hStdInput);
  CloseHandle(startup.hStdOutput);
  CloseHandle(startup.hStdError);
  result.out = lineFeedsOnly(readFile(capture / "out"));
  result.err = lineFeedsOnly(readFile(capture / "err"));
  if (!started) result.err = "could not start the program: error " + std::to_string(startError);
  return result;
}

}  // namespace wldmap
