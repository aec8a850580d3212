#include "platform/path_search.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace wldmap {
namespace platform {

std::string startedPath(const std::string& argv0) {
  namespace fs = std::filesystem;
  if (argv0.empty()) return std::string();
  std::error_code error;
  if (argv0.find('/') != std::string::npos) {
    const fs::path absolute = fs::absolute(argv0, error);
    return error ? std::string() : absolute.string();
  }
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "";
  for (size_t start = 0; start <= folders.size();) {
    const size_t end = std::min(folders.find(':', start), folders.size());
    // An empty entry in PATH is the current folder.
    const std::string folder = end == start ? "." : folders.substr(start, end - start);
    const std::string candidate = folder + "/" + argv0;
    if (access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate, error)) {
      const fs::path absolute = fs::absolute(candidate, error);
      return error ? std::string() : absolute.string();
    }
    start = end + 1;
  }
  return std::string();
}

}  // namespace platform
}  // namespace wldmap
