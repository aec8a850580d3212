// The tile colour table and its text file.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <istream>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "model/color.h"

namespace wldmap {

// Tile type to colour, for the 256 types a tile's type byte can hold (-128 to
// 127 once sign-extended). An entry for any other type could never be used and
// is not kept, so the table's size is fixed whatever the file's. A later entry
// for a type replaces an earlier one.
class TileColorTable {
 public:
  TileColorTable() = default;
  // A table of these entries, set in order.
  TileColorTable(std::initializer_list<std::pair<int32_t, Color>> entries);

  // Sets the colour of `type`; a type no tile can have is ignored.
  void set(int32_t type, Color color);
  // Whether `type` has an entry.
  bool has(int32_t type) const;
  // How many types have an entry.
  size_t size() const { return present_.count(); }
  // The colour of a tile type; opaque black for a type the table lacks.
  friend Color lookup(const TileColorTable& table, int32_t type);

 private:
  static constexpr int32_t kFirstType = -128;
  static constexpr int32_t kTypes = 256;
  std::array<Color, kTypes> colors_{};  // by type - kFirstType
  std::bitset<kTypes> present_;
};

// A colour file that could not be read whole; what() says why.
class ColorFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The name of the colour file, wherever it is looked for.
constexpr char kColorFileName[] = "tilecolors.txt";

// The longest token that may be a number, in bytes: a 32-bit integer takes 11
// at most ("-2147483648"); the rest is room for leading zeros.
constexpr int kLongestToken = 64;

// Reads whitespace-separated groups of five integers (type, red, green, blue,
// alpha), keeping the low 8 bits of each component and the groups of the types a
// tile can have. A UTF-8 byte order mark at the
// start is skipped. Stops at the first token that is not a 32-bit integer, or
// is longer than kLongestToken, keeping the complete groups before it; that
// token (quoted safely for a terminal, its first bytes only), an incomplete
// last group and a UTF-16 file each add a line to `warnings`. Throws
// ColorFileError when the stream fails before its end (unless its exception mask
// makes it throw its own error first): a table cut short by a failed read is
// never taken for the whole.
TileColorTable loadTileColors(std::istream& in, std::vector<std::string>& warnings);

// The names a user gives tile and wall types, by type (-128 to 127, as the
// colour file numbers them), for the page to show beside the numbers.
struct TypeNames {
  std::map<int32_t, std::string> tiles;
  std::map<int32_t, std::string> walls;
};

// The name of the names file, wherever it is looked for.
constexpr char kNamesFileName[] = "tilenames.txt";

// The longest name, in characters, and the longest line, in bytes.
constexpr size_t kLongestName = 64;
constexpr size_t kLongestLine = 1024;

// Reads lines "tile N name" and "wall N name": N a type from -128 to 127, the
// name the rest of the line, at most kLongestName characters of UTF-8, its
// spaces at either end trimmed. '#' starts a comment; blank lines and a UTF-8
// byte order mark at the start are passed over. A line that is not of that
// form adds "line L: <why>; it is skipped" to `warnings`; a later name for a
// type replaces an earlier one. Throws ColorFileError when the stream fails.
TypeNames loadTypeNames(std::istream& in, std::vector<std::string>& warnings);

}  // namespace wldmap
