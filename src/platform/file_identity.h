// What tells one file from every other, whatever path names it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace wldmap {
namespace platform {

// What tells one file from every other: the same for every path that names it,
// through links, other spellings, or the case a system folds.
struct FileId {
  uint64_t device = 0;
  uint64_t file = 0;
  friend bool operator==(const FileId& a, const FileId& b) {
    return a.device == b.device && a.file == b.file;
  }
};

// The identity of the existing file `path` names, through links, or none when
// there is none (or it cannot be asked).
std::optional<FileId> fileId(const std::string& path);

}  // namespace platform
}  // namespace wldmap
