// The process's start: how it is set up for the run, and its arguments.
#pragma once

#include <string>
#include <vector>

namespace wldmap {
namespace platform {

// Sets the process up for the tool's run: a closed output pipe or a file size
// limit become ordinary write failures instead of killing the process, and the
// console shows UTF-8.
void prepareProcess();

// The program's arguments as UTF-8, argument 0 first.
std::vector<std::string> arguments(int argc, char** argv);

}  // namespace platform
}  // namespace wldmap
