// Files written in place, for a reader that reads back the very file it named.
#pragma once

#include <string>
#include <string_view>

#include "platform/system_error.h"

namespace wldmap {
namespace platform {

// Writes `bytes` to the file `path` through one open, in place: created when
// missing (with the permissions the umask leaves), else truncated and
// rewritten. A file this call created is removed again when the write fails.
// Throws SystemError.
void writeInPlace(const std::string& path, std::string_view bytes);

}  // namespace platform
}  // namespace wldmap
