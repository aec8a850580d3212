// The platform seam on Windows: every file is named through the wide (UTF-16)
// calls, so any Unicode path works whatever the code page.
#include <windows.h>
#include <shellapi.h>

#include <atomic>
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

// The buffer GetFullPathNameW is given, in characters: room for the longest
// path there is. Smaller is unsafe on Wine: for a path such as Z:name on
// another drive it reads that drive's current folder into a scratch block the
// size of the caller's buffer and writes past the block when the folder is
// longer (a first call that only asks for the size corrupts the heap, and the
// run later hangs or crashes); and it counts the block in 16 bits, so 32768
// characters would wrap to none.
constexpr DWORD kLongestPath = 32767;

// `utf8` resolved to a full path (\\?\ paths are full already). Throws
// SystemError when the system cannot resolve it; never falls back to the path
// as given.
std::wstring resolve(const std::string& utf8) {
  const std::wstring wide = widen(utf8);
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  std::wstring full(kLongestPath, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), kLongestPath, full.data(), nullptr);
  if (length == 0) throw SystemError(withReason("cannot resolve its full path"));
  if (length >= kLongestPath) {
    throw SystemError("cannot resolve its full path: " + errorText(ERROR_FILENAME_EXCED_RANGE));
  }
  full.resize(length);
  return full;
}

// A path for the wide file calls: in full, and with the \\?\ prefix once it
// reaches MAX_PATH (as the temporary file's name beside a map whose own path
// just fits can), which lifts the limit on every Windows. A device (\\.\CON)
// is left as it is. Throws SystemError.
std::wstring filePath(const std::string& utf8) {
  const std::wstring full = resolve(utf8);
  if (full.size() < MAX_PATH - 1 || full.rfind(L"\\\\.\\", 0) == 0 ||
      full.rfind(L"\\\\?\\", 0) == 0) {
    return full;
  }
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return L"\\\\?\\" + full;
}

// The temporary file the console control handler removes (Ctrl+C, closing the
// window). It is opened with FILE_SHARE_DELETE, so it goes when the process ends.
// The handler runs on a thread of its own: the path is written before the flag
// is raised, and read only after the flag is seen.
wchar_t pendingPath[32768];
std::atomic<bool> pendingSet{false};

// The console's output code page when the process started, restored on the way
// out so that the console a user ran wldmap from is left as it was.
UINT originalOutputCodePage = 0;

void restoreCodePage() {
  if (originalOutputCodePage != 0) SetConsoleOutputCP(originalOutputCodePage);
}

BOOL WINAPI removePending(DWORD) {
  if (pendingSet.load(std::memory_order_acquire)) DeleteFileW(pendingPath);
  restoreCodePage();
  return FALSE;  // go on to the default handler, which ends the process
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

InputFile::InputFile(const std::string& path) : handle_(-1) {
  // Backup semantics let a folder open too, so that it can be told apart.
  const HANDLE file = CreateFileW(filePath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw SystemError(withReason("cannot open"));
  handle_ = reinterpret_cast<intptr_t>(file);
  // Consoles (CON, CONIN$), pipes and other devices are not files on a disk.
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info)) {
    folder_ = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    regular_ = !folder_;
    size_ = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  }
}

InputFile::~InputFile() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

size_t InputFile::read(char* data, size_t size) {
  const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), data, chunk, &got, nullptr)) {
    throw SystemError(withReason("cannot read it"));
  }
  return got;
}

void InputFile::seek(uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (offset > uint64_t(INT64_MAX) ||
      !SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), to, nullptr, FILE_BEGIN)) {
    throw SystemError(withReason("cannot read it"));
  }
}

PendingFile::PendingFile(const std::string& target) : target_(target), handle_(-1) {
  std::wstring wide;
  for (int attempt = 0;; ++attempt) {
    path_ = target + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(attempt);
    wide = filePath(path_);
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(file);
      break;
    }
    const DWORD code = GetLastError();
    if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt == 100) {
      throw SystemError("cannot create a temporary file beside it: " + errorText(code));
    }
  }
  if (wide.size() < sizeof pendingPath / sizeof pendingPath[0]) {
    wcscpy(pendingPath, wide.c_str());
    pendingSet.store(true, std::memory_order_release);
  }
}

PendingFile::~PendingFile() {
  pendingSet.store(false, std::memory_order_release);
  if (!committed_) {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    try {
      DeleteFileW(filePath(path_).c_str());
    } catch (const SystemError&) {
      // The path resolved when the file was created; it cannot fail now.
    }
  }
}

void PendingFile::write(const char* data, size_t size) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr)) {
      throw SystemError(withReason("cannot write it"));
    }
    data += written;
    size -= written;
  }
}

namespace {

// Puts the temporary file in the map's place in one step. An older map is
// replaced with ReplaceFileW, which keeps its security descriptor and
// attributes; its read-only attribute, which would refuse the replacement, is
// lifted for the moment and set again on the new map. Throws SystemError.
void replaceMap(const std::wstring& temporary, const std::wstring& map) {
  const DWORD attributes = GetFileAttributesW(map.c_str());
  const bool old = attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  const bool readOnly = old && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly && !SetFileAttributesW(map.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY))) {
    throw SystemError(withReason("cannot replace it"));
  }
  BOOL replaced = old && ReplaceFileW(map.c_str(), temporary.c_str(), nullptr,
                                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
  // No older map (or it went meanwhile): the temporary file is simply renamed.
  if (!replaced && (!old || GetLastError() == ERROR_FILE_NOT_FOUND)) {
    replaced = MoveFileExW(temporary.c_str(), map.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  const DWORD code = GetLastError();
  // Read-only again: the new map, or the old one when it stays.
  if (readOnly) SetFileAttributesW(map.c_str(), attributes);
  if (!replaced) throw SystemError("cannot replace it: " + errorText(code));
}

}  // namespace

void PendingFile::commit() {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  if (!FlushFileBuffers(file)) throw SystemError(withReason("cannot write it"));
  handle_ = -1;
  if (!CloseHandle(file)) throw SystemError(withReason("cannot write it"));
  // Full paths: Wine's ReplaceFileW cannot place its own temporary file beside a
  // bare file name.
  replaceMap(filePath(path_), filePath(target_));
  committed_ = true;
}

void writeInPlace(const std::string& path, std::string_view bytes) {
  const std::wstring wide = filePath(path);
  bool created = true;
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    created = false;
    file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) throw SystemError(withReason("cannot open"));
  const char* data = bytes.data();
  size_t left = bytes.size();
  DWORD error = 0;
  while (left > 0 && error == 0) {
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (WriteFile(file, data, chunk, &written, nullptr)) {
      data += written;
      left -= written;
    } else {
      error = GetLastError();
    }
  }
  if (!CloseHandle(file) && error == 0) error = GetLastError();
  if (error != 0) {
    if (created) DeleteFileW(wide.c_str());
    throw SystemError("cannot write it: " + errorText(error));
  }
}

std::string fullPath(const std::string& path) {
  const std::wstring full = resolve(path);
  return narrow(full.data(), full.size());
}

std::optional<FileId> fileId(const std::string& path) {
  std::wstring wide;
  try {
    wide = filePath(path);
  } catch (const SystemError&) {
    return std::nullopt;
  }
  // No access needed: only the file's identity is asked. Backup semantics let a
  // folder open too.
  const HANDLE file = CreateFileW(wide.c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return FileId{info.dwVolumeSerialNumber, uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

}  // namespace platform
}  // namespace wldmap
