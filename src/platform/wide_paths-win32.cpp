#include "platform/wide_paths.h"

#include <windows.h>

#include "platform/reasons.h"
#include "platform/system_error.h"

namespace wldmap {
namespace platform {

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

}  // namespace platform
}  // namespace wldmap
