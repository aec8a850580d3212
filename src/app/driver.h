// The command-line driver: runs the stages in order and reports them.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace wldmap {

// The folder part of a path: up to and including its last '/' or '\', or empty.
// With `windowsRules`, the folder of a drive-relative path such as Z:w.wld is Z:
// (the current folder of that drive).
std::string folderOf(const std::string& path, bool windowsRules);

// The world's name as a file name. Everywhere: '/', '\', control characters (C0,
// DEL, and C1 whether encoded in UTF-8 or as bare bytes) become '_'. With
// `windowsRules` also: < > : " | ? * and every byte that is not part of valid
// UTF-8 become '_', and a device name (CON, aux, CONIN$, LPT1, COM0 and the like,
// alone or before a dot) gets a leading '_'.
std::string safeFileName(const std::string& name, bool windowsRules);

// The places tilecolors.txt is looked for, in order and without repeats: the
// folder the tool was started from, then each of `dataFolders`.
std::vector<std::string> colorFileCandidates(const std::string& toolFolder,
                                             const std::vector<std::string>& dataFolders);

// Runs the tool on args (args[0] the program, then the world files) and returns
// the exit status: 0 when every map was written, 1 without a world, 2 when any
// world failed. Maps the worlds in order, releasing each one's memory before the
// next, then reads one character from `in`. "--help", "-h" and "--version" as
// args[1] print and return 0 without reading. exePath is the running
// executable's path as the system reports it, or empty.
int runDriver(const std::vector<std::string>& args, const std::string& exePath, std::istream& in,
              std::ostream& out, std::ostream& err);

}  // namespace wldmap
