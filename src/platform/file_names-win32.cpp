#include "platform/file_names.h"

#include <windows.h>

#include "platform/wide_paths.h"

namespace wldmap {
namespace platform {

const bool kWindowsFileNames = true;

std::string fullPath(const std::string& path) {
  const std::wstring full = resolve(path);
  return narrow(full.data(), full.size());
}

}  // namespace platform
}  // namespace wldmap
