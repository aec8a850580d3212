#include "platform/executable.h"

#include <windows.h>

#include "platform/wide_paths.h"

namespace wldmap {
namespace platform {

std::string executablePath(const std::string&) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) return narrow(path.data(), length);
    path.resize(path.size() * 2);
  }
}

}  // namespace platform
}  // namespace wldmap
