#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/files.h"
#include "platform/seam.h"

namespace wldmap {
namespace platform {

std::string withReason(const std::string& what) {
  return what + ": " + reasonText(static_cast<int>(GetLastError()));
}

std::string reasonText(int code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length ? narrow(text, length) : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

// Wide paths.

namespace {

// The buffer GetFullPathNameW is given, in characters: room for the longest
// path there is. Smaller is unsafe on Wine: for a path such as Z:name on
// another drive it reads that drive's current folder into a scratch block the
// size of the caller's buffer and writes past the block when the folder is
// longer (a first call that only asks for the size corrupts the heap, and the
// run later hangs or crashes); and it counts the block in 16 bits, so 32768
// characters would wrap to none.
constexpr DWORD kLongestPath = 32767;

}  // namespace

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

std::wstring resolve(const std::string& utf8) {
  const std::wstring wide = widen(utf8);
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  std::wstring full(kLongestPath, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), kLongestPath, full.data(), nullptr);
  if (length == 0) throw SystemError(withReason("cannot resolve its full path"));
  if (length >= kLongestPath) {
    throw SystemError("cannot resolve its full path: " + reasonText(ERROR_FILENAME_EXCED_RANGE));
  }
  full.resize(length);
  return full;
}

std::wstring filePath(const std::string& utf8) {
  const std::wstring full = resolve(utf8);
  // Short enough, a device (\\.\CON), or already in the long form: as it is.
  if (full.size() < MAX_PATH - 1 || full.rfind(L"\\\\.\\", 0) == 0 ||
      full.rfind(L"\\\\?\\", 0) == 0) {
    return full;
  }
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return L"\\\\?\\" + full;
}

const bool kWindowsFileNames = true;

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

// Reading.

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
    // Hundreds of nanoseconds since 1601.
    const uint64_t written = uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 |
                             info.ftLastWriteTime.dwLowDateTime;
    modified_ = static_cast<int64_t>(written / 10000000) - 11644473600;
  }
}

InputFile::~InputFile() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

size_t InputFile::read(char* data, size_t size) {
  const auto chunk = static_cast<DWORD>(std::min(size, kLargestCall));
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

}  // namespace platform
}  // namespace wldmap
