#include "platform/file_identity.h"

#include <sys/stat.h>

namespace wldmap {
namespace platform {

std::optional<FileId> fileId(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileId{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

}  // namespace platform
}  // namespace wldmap
