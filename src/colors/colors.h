// The tile colour table and its text file.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/color.h"

namespace wldmap {

// Tile type to colour; a later entry for a type replaces an earlier one.
using TileColorTable = std::map<int32_t, Color>;

// A colour file that could not be read to its end; what() says why.
class ColorFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads whitespace-separated groups of five integers (type, red, green, blue,
// alpha), keeping the low 8 bits of each component. A UTF-8 byte order mark at the
// start is skipped. Stops at the first token that is not a 32-bit integer, keeping
// the complete groups before it; that token (quoted safely for a terminal), an
// incomplete last group and a UTF-16 file each add a line to `warnings`. Throws
// ColorFileError when the stream fails before its end (unless its exception mask
// makes it throw its own error first): a table cut short by a failed read is
// never taken for the whole.
TileColorTable loadTileColors(std::istream& in, std::vector<std::string>& warnings);

// The colour of a tile type; opaque black for a type the table lacks.
Color lookup(const TileColorTable& table, int32_t type);

}  // namespace wldmap
