// Where data files such as the colour table are looked for.
#pragma once

#include <string>
#include <vector>

namespace wldmap {
namespace platform {

// The folders after the started path's own where data files are looked for,
// given the executable's folder: beside it, and where an install puts them.
std::vector<std::string> dataFolders(const std::string& exeFolder);

}  // namespace platform
}  // namespace wldmap
