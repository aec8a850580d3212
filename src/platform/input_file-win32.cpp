#include "platform/input_file.h"

#include <windows.h>

#include "platform/reasons.h"
#include "platform/wide_paths.h"

namespace wldmap {
namespace platform {

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

}  // namespace platform
}  // namespace wldmap
