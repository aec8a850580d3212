// The colour stage a map and a thumbnail share: where tilecolors.txt is looked
// for, and the table read from the first place that has one.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "colors/colors.h"

namespace wldmap {

// The places tilecolors.txt is looked for, in order and without repeats: the
// folder the tool was started from, then each of `dataFolders`.
std::vector<std::string> colorFileCandidates(const std::string& toolFolder,
                                             const std::vector<std::string>& dataFolders);

// The colour table from the first of `candidates` that exists; the file's
// warnings go to `warnings`, when there is one. Throws Failure.
TileColorTable readColors(const std::vector<std::string>& candidates, std::ostream* warnings);

}  // namespace wldmap
