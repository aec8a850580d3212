#include "platform/file_identity.h"

#include <windows.h>

#include "platform/system_error.h"
#include "platform/wide_paths.h"

namespace wldmap {
namespace platform {

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
