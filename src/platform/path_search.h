// Inside the seam, where a system cannot name its running executable: the
// started path found as a shell finds it.
#pragma once

#include <string>

namespace wldmap {
namespace platform {

// `argv0` made absolute when it names a folder, else the first executable file
// of that name along PATH (an empty entry is the current folder); empty when
// there is none.
std::string startedPath(const std::string& argv0);

}  // namespace platform
}  // namespace wldmap
