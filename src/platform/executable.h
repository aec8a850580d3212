// Where the running executable is.
#pragma once

#include <string>

namespace wldmap {
namespace platform {

// The running executable's path: as the system reports it where it can, else the
// started path `argv0` found as a shell finds it (against the current folder
// when it names a folder, else along PATH); empty when neither tells.
std::string executablePath(const std::string& argv0);

}  // namespace platform
}  // namespace wldmap
