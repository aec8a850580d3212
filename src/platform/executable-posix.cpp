#include "platform/executable.h"

#include <filesystem>

#include "platform/path_search.h"

namespace wldmap {
namespace platform {

std::string executablePath(const std::string& argv0) {
  if (!WLDMAP_PORTABLE) {
    // Linux names the running executable here; other systems have no such link.
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return exe.string();
  }
  return startedPath(argv0);
}

}  // namespace platform
}  // namespace wldmap
