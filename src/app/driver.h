// The command-line driver: runs the stages in order and reports them.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace wldmap {

// The folder part of a path: up to and including its last '/' or '\', or empty.
std::string folderOf(const std::string& path);

// The world's name as a file name. Everywhere: '/', '\', control characters (C0,
// DEL, and C1 whether encoded in UTF-8 or as bare bytes) become '_'. With
// `windowsRules` also: < > : " | ? * and every byte that is not part of valid
// UTF-8 become '_', and a device name (CON, aux, LPT1 and the like, alone or
// before a dot) gets a leading '_'.
std::string safeFileName(const std::string& name, bool windowsRules);

// The places tilecolors.txt is looked for, in order and without repeats: the
// folder the tool was started from, then each of `dataFolders`.
std::vector<std::string> colorFileCandidates(const std::string& toolFolder,
                                             const std::vector<std::string>& dataFolders);

// Runs the tool on args (args[0] the program, args[1] the world file) and returns
// the exit status; reads one character from `in` before returning on every path.
// exePath is the running executable's path as the system reports it, or empty.
int runDriver(const std::vector<std::string>& args, const std::string& exePath, std::istream& in,
              std::ostream& out, std::ostream& err);

}  // namespace wldmap
