#include "platform/file_names.h"

namespace wldmap {
namespace platform {

const bool kWindowsFileNames = false;

std::string fullPath(const std::string& path) { return path; }

}  // namespace platform
}  // namespace wldmap
