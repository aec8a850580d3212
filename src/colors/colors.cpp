#include "colors/colors.h"

#include <charconv>

namespace wldmap {

namespace {

// Parses a whole token as a decimal 32-bit integer, with an optional sign.
bool parseInt32(const std::string& token, int32_t& value) {
  const char* first = token.data();
  const char* last = first + token.size();
  // Stream extraction accepts a leading plus sign, so this does too.
  if (first != last && *first == '+') {
    ++first;
    if (first == last || *first < '0' || *first > '9') return false;
  }
  auto [end, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && end == last;
}

}  // namespace

TileColorTable loadTileColors(std::istream& in, std::vector<std::string>& warnings) {
  TileColorTable table;
  for (long long group = 1;; ++group) {
    int32_t values[5];
    int count = 0;
    std::string token;
    while (count < 5 && in >> token) {
      if (!parseInt32(token, values[count])) {
        warnings.push_back("group " + std::to_string(group) + ": \"" + token +
                           "\" is not a 32-bit integer; this group and everything after it "
                           "are ignored");
        return table;
      }
      ++count;
    }
    if (count < 5) {
      // The file ended: cleanly after a group, or with a group cut short.
      if (count > 0) {
        warnings.push_back("group " + std::to_string(group) + " has only " +
                           std::to_string(count) + " of its 5 numbers; it is ignored");
      }
      return table;
    }
    table[values[0]] = Color{static_cast<uint8_t>(values[1]), static_cast<uint8_t>(values[2]),
                             static_cast<uint8_t>(values[3]), static_cast<uint8_t>(values[4])};
  }
}

Color lookup(const TileColorTable& table, int32_t type) {
  auto it = table.find(type);
  return it == table.end() ? Color{0, 0, 0, 255} : it->second;
}

}  // namespace wldmap
