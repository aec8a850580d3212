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

// Writing.

namespace {

// Writes all of `data` at the file's position. Throws SystemError ("cannot
// write it").
void writeAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, data, static_cast<DWORD>(std::min(size, kLargestCall)), &written,
                   nullptr)) {
      throw SystemError(withReason("cannot write it"));
    }
    data += written;
    size -= written;
  }
}

// Moves the file's position to `offset`. Throws SystemError ("cannot write it").
void moveTo(HANDLE file, uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, to, nullptr, FILE_BEGIN)) {
    throw SystemError(withReason("cannot write it"));
  }
}

}  // namespace

void writeAll(intptr_t handle, const char* data, size_t size) {
  writeAll(reinterpret_cast<HANDLE>(handle), data, size);
}

// Replacing.

void checkReplaceable(const std::string& target) {
  const DWORD attributes = GetFileAttributesW(filePath(target).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw SystemError("cannot replace it: " + reasonText(ERROR_ACCESS_DENIED));
  }
}

Made createNew(const std::string& path, intptr_t& handle, int& error) {
  const HANDLE file = CreateFileW(filePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD code = GetLastError();
  error = static_cast<int>(code);
  if (file == INVALID_HANDLE_VALUE) {
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? Made::kTaken
                                                                     : Made::kFailed;
  }
  handle = reinterpret_cast<intptr_t>(file);
  return Made::kMade;
}

// ReplaceFileW keeps the older file's security descriptor and attributes at the
// rename; nothing is given to the new file before.
bool adoptPermissions(intptr_t, const std::string& target, const WarningHandler&) {
  return GetFileAttributesW(filePath(target).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void syncAndClose(intptr_t handle) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle);
  if (!FlushFileBuffers(file)) {
    const std::string why = withReason("cannot write it");
    CloseHandle(file);
    throw SystemError(why);
  }
  if (!CloseHandle(file)) throw SystemError(withReason("cannot write it"));
}

void closeQuietly(intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

// Every file Windows makes has a name: the save uses a named temporary file.
Made createUnnamed(const std::string&, intptr_t&, int& error) {
  error = 0;
  return Made::kFailed;
}

Made linkUnnamed(intptr_t, const std::string&, int& error) {
  error = ERROR_NOT_SUPPORTED;
  return Made::kFailed;
}

intptr_t openOlder(const std::string&) { return -1; }

// No second name is made: the older map cannot be taken back, nor need it be,
// since a rename lasts once ReplaceFileW or MoveFileExW has made it.
Made linkAs(const std::string&, const std::string&) { return Made::kFailed; }

// An older map is replaced with ReplaceFileW, which keeps its security
// descriptor and attributes; its read-only attribute, which would refuse the
// replacement, is lifted for the moment and set again on the new map. Full
// paths: Wine's ReplaceFileW cannot place its own temporary file beside a bare
// file name.
void replaceWith(const std::string& path, const std::string& target) {
  const std::wstring temporary = filePath(path);
  const std::wstring map = filePath(target);
  // Another writer replacing the same file at this moment makes Windows deny
  // access for a moment: the replacement is tried again, for a second at most.
  for (int attempt = 0;; ++attempt) {
    const DWORD attributes = GetFileAttributesW(map.c_str());
    const bool old = attributes != INVALID_FILE_ATTRIBUTES &&
                     (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    const bool readOnly = old && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly &&
        !SetFileAttributesW(map.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY))) {
      throw SystemError(withReason("cannot replace it"));
    }
    BOOL replaced = old && ReplaceFileW(map.c_str(), temporary.c_str(), nullptr,
                                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    // No older map (or it went meanwhile), or another writer's replacement took
    // its place while this one ran (ERROR_UNABLE_TO_MOVE_REPLACEMENT: the older
    // map is gone, the new one still has its temporary name): the temporary
    // file is simply renamed.
    const DWORD failed = replaced ? 0 : GetLastError();
    if (!replaced && (!old || failed == ERROR_FILE_NOT_FOUND ||
                      failed == ERROR_UNABLE_TO_MOVE_REPLACEMENT)) {
      replaced = MoveFileExW(temporary.c_str(), map.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    const DWORD code = GetLastError();
    // Read-only again: the new map, or the old one when it stays.
    if (readOnly) SetFileAttributesW(map.c_str(), attributes);
    if (replaced) return;
    const bool contended = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ||
                           code == ERROR_UNABLE_TO_REMOVE_REPLACED;
    if (!contended || attempt == 50) {
      throw SystemError("cannot replace it: " + reasonText(static_cast<int>(code)));
    }
    Sleep(20);
  }
}

int renameOver(const std::string& path, const std::string& target) {
  return MoveFileExW(filePath(path).c_str(), filePath(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : static_cast<int>(GetLastError());
}

int removeFile(const std::string& path) {
  try {
    if (DeleteFileW(filePath(path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return 0;
    return static_cast<int>(GetLastError());
  } catch (const SystemError&) {
    // The path resolved when the file was made; it cannot fail now.
    return 0;
  }
}

FolderOf::FolderOf(const std::string&) : handle_(-1) {}
FolderOf::~FolderOf() = default;
int FolderOf::sync() const { return 0; }

// Writing in place.

intptr_t openExisting(const std::string& path) {
  const std::wstring wide = filePath(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw SystemError("is a folder");
  }
  // Shared, so that another writer waits at the lock rather than failing here.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return -1;
    throw SystemError("cannot open: " + reasonText(static_cast<int>(code)));
  }
  // Consoles (CON), pipes and other devices are not files on a disk.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    throw SystemError("is not a regular file");
  }
  return reinterpret_cast<intptr_t>(file);
}

// A Windows output is replaced where it is named.
std::string linkTarget(const std::string& path) { return path; }

void lockWhole(intptr_t handle) {
  OVERLAPPED whole{};
  if (!LockFileEx(reinterpret_cast<HANDLE>(handle), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD,
                  &whole)) {
    throw SystemError(withReason("cannot open"));
  }
}

// A file being deleted is named no more, although its name stays until the
// last handle goes.
std::optional<uint64_t> sizeIfNamed(intptr_t handle, const std::string&) {
  FILE_STANDARD_INFO info{};
  if (!GetFileInformationByHandleEx(reinterpret_cast<HANDLE>(handle), FileStandardInfo, &info,
                                    sizeof info)) {
    throw SystemError(withReason("cannot open"));
  }
  if (info.DeletePending) return std::nullopt;
  return static_cast<uint64_t>(info.EndOfFile.QuadPart);
}

int syncHandle(intptr_t handle) {
  return FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) ? 0
                                                             : static_cast<int>(GetLastError());
}

size_t readAt(intptr_t handle, uint64_t offset, char* data, size_t size) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle);
  moveTo(file, offset);
  DWORD got = 0;
  if (!ReadFile(file, data, static_cast<DWORD>(std::min(size, kLargestCall)), &got, nullptr)) {
    throw SystemError(withReason("cannot read it"));
  }
  return got;
}

int cutAt(intptr_t handle, uint64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), FileEndOfFileInfo, &end,
                                    sizeof end)
             ? 0
             : static_cast<int>(GetLastError());
}

int closeHandle(intptr_t handle) {
  return CloseHandle(reinterpret_cast<HANDLE>(handle)) ? 0 : static_cast<int>(GetLastError());
}

}  // namespace platform
}  // namespace wldmap
