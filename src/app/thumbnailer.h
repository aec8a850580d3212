// The thumbnailer: wldmap --thumbnail SIZE WORLD OUTPUT, as a file manager's
// thumbnail service runs it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace wldmap {

// What follows "wldmap" on the command line for a thumbnail, as --help and a
// usage error give it.
extern const char kThumbnailOperands[];

// Runs args = {program, "--thumbnail", SIZE, WORLD, OUTPUT}: writes to OUTPUT,
// in place and only once it is complete, a PNG of WORLD's map scaled down so
// that its longer side is at most SIZE, with the colours from the first of
// `colorCandidates` that exists; writes nothing else anywhere, nothing to
// standard output, and reads no input. Returns 0; 1 after a usage line on
// `err` (operands missing or extra, SIZE not a whole number from 1 up); 2 after
// one error line on `err`, OUTPUT then left as it was.
int runThumbnailer(const std::vector<std::string>& args,
                   const std::vector<std::string>& colorCandidates, std::ostream& err);

}  // namespace wldmap
