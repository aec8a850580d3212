// The command-line driver: runs the stages in order and reports them.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace wldmap {

// Runs the tool on args (args[0] the program, then the world files) and returns
// the exit status: 0 when every map was written, 1 without a world, 2 when any
// world failed. Maps the worlds in order, releasing each one's memory before the
// next, then reads one character from `in`. "--help", "-h" and "--version" as
// args[1] print and return 0 without reading; "--thumbnail" as args[1] runs the
// thumbnailer (see runThumbnailer), which reads nothing either. exePath is the
// running executable's path as the system reports it, or empty.
int runDriver(const std::vector<std::string>& args, const std::string& exePath, std::istream& in,
              std::ostream& out, std::ostream& err);

// Whether a run with the arguments `argv` (`argc` of them, the program first)
// ends by waiting for Enter: not help, version, a thumbnail or a watch. Reads
// the arguments as the system gave them, so that main can tell on any path.
bool waitsForEnter(int argc, char** argv);

}  // namespace wldmap
