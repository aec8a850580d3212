// The data files a run reads besides its worlds: where tilecolors.txt (which a
// map and a thumbnail need) and tilenames.txt (which a page may show) are
// looked for, and what is read from the first place that has one.
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

// The places tilenames.txt is looked for, in order: the user's own folder
// `configFolder` (unless empty), then the folder of each of `colorCandidates`.
std::vector<std::string> namesFileCandidates(const std::string& configFolder,
                                             const std::vector<std::string>& colorCandidates);

// The type names from the first of `candidates` that exists; none without one.
// Names are never worth a map: the file's bad lines, and why it could not be
// read, go to `warnings` as warning lines.
TypeNames readNames(const std::vector<std::string>& candidates, std::ostream& warnings);

}  // namespace wldmap
