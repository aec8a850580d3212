#include "platform/in_place_file.h"

#include <windows.h>

#include "platform/reasons.h"
#include "platform/wide_paths.h"

namespace wldmap {
namespace platform {

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
    throw SystemError("cannot write it: " + reasonText(static_cast<int>(error)));
  }
}

}  // namespace platform
}  // namespace wldmap
