// The platform seam on Windows: every file is named through the wide (UTF-16)
// calls, so any Unicode path works whatever the code page.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace wldmap {
namespace platform {

namespace {

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string narrow(const wchar_t* wide, size_t size) {
  if (size == 0) return std::string();
  const int wideSize = static_cast<int>(size);
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, wideSize, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, wideSize, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

// The system's text for an error code, without its line end.
std::string errorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length ? narrow(text, length) : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

std::string withReason(const std::string& what) { return what + ": " + errorText(GetLastError()); }

// The temporary file the console control handler removes (Ctrl+C, closing the
// window). It is opened with FILE_SHARE_DELETE, so it goes when the process ends.
wchar_t pendingPath[32768];
volatile LONG pendingSet = 0;

BOOL WINAPI removePending(DWORD) {
  if (pendingSet) DeleteFileW(pendingPath);
  return FALSE;  // go on to the default handler, which ends the process
}

}  // namespace

void prepareProcess() {
  SetConsoleOutputCP(CP_UTF8);
  // Failures are reported on standard error, never in a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetConsoleCtrlHandler(removePending, TRUE);
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

std::string executablePath(const std::string&) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) return narrow(path.data(), length);
    path.resize(path.size() * 2);
  }
}

std::vector<std::string> dataFolders(const std::string& exeFolder) { return {exeFolder}; }

const bool kWindowsFileNames = true;

void* allocatePages(size_t bytes) {
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

// Console events come on a thread of their own; there is nothing to steer.
std::thread startThread(std::function<void()> job) { return std::thread(std::move(job)); }

void populatePages(void*, size_t) {}

void freePages(void* pages, size_t) { VirtualFree(pages, 0, MEM_RELEASE); }

PendingFile::PendingFile(const std::string& target) : target_(target), handle_(-1) {
  for (int attempt = 0;; ++attempt) {
    path_ = target + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(attempt);
    const HANDLE file = CreateFileW(widen(path_).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(file);
      break;
    }
    const DWORD code = GetLastError();
    if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt == 100) {
      throw SystemError("cannot create a temporary file beside it: " + errorText(code));
    }
  }
  const std::wstring wide = widen(path_);
  if (wide.size() < sizeof pendingPath / sizeof pendingPath[0]) {
    wcscpy(pendingPath, wide.c_str());
    pendingSet = 1;
  }
}

PendingFile::~PendingFile() {
  pendingSet = 0;
  if (!committed_) {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    DeleteFileW(widen(path_).c_str());
  }
}

void PendingFile::write(const char* data, size_t size) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr)) {
      throw SystemError(withReason("cannot write " + path_));
    }
    data += written;
    size -= written;
  }
}

void PendingFile::commit() {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  if (!FlushFileBuffers(file)) throw SystemError(withReason("cannot write " + path_));
  handle_ = -1;
  if (!CloseHandle(file)) throw SystemError(withReason("cannot write " + path_));
  // The C runtime's rename refuses an existing target; this replaces it in one step.
  if (!MoveFileExW(widen(path_).c_str(), widen(target_).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw SystemError(withReason("cannot rename " + path_ + " to it"));
  }
  committed_ = true;
}

bool sameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    const HANDLE file =
        CreateFileW(widen(*paths[i]).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(file, &info[i]);
    CloseHandle(file);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

}  // namespace platform
}  // namespace wldmap
