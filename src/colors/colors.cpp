#include "colors/colors.h"

#include <charconv>
#include <iomanip>

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

// A token as it may be shown on a terminal: bytes outside printable ASCII are
// escaped, and a long token is cut.
std::string escaped(const std::string& token) {
  constexpr size_t kShown = 40;
  static const char kHex[] = "0123456789abcdef";
  std::string shown = "\"";
  for (size_t i = 0; i < token.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(token[i]);
    if (c < 0x20 || c >= 0x7F || c == '\\' || c == '"') {
      shown += c == '\\' || c == '"' ? std::string{'\\', char(c)}
                                    : std::string{'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    } else {
      shown += char(c);
    }
  }
  return shown + (token.size() > kShown ? "...\"" : "\"");
}

// Skips a UTF-8 byte order mark, which Windows editors put at the start of a
// text file. Returns a warning when the file starts like UTF-16 instead.
std::string skipByteOrderMark(std::istream& in) {
  const int first = in.peek();
  if (in.bad()) throw ColorFileError("cannot read it");
  if (first == 0xEF) {
    char mark[3];
    if (in.read(mark, 3) && mark[1] == '\xBB' && mark[2] == '\xBF') return std::string();
    if (in.bad()) throw ColorFileError("cannot read it");
    in.clear();
    in.seekg(0);
  } else if (first == 0xFF || first == 0xFE) {
    return "the file is in UTF-16; save it as plain text (ASCII or UTF-8) to use its colours";
  }
  return std::string();
}

// The number of characters in `text` when it is UTF-8 (no overlong forms, no
// surrogates, nothing past U+10FFFF); -1 when it is not.
long utf8Characters(const std::string& text) {
  long characters = 0;
  for (size_t i = 0; i < text.size(); ++characters) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || text.size() - i < length) return -1;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return -1;
    }
    const auto second = static_cast<unsigned char>(length > 1 ? text[i + 1] : 0);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
      return -1;
    }
    i += length;
  }
  return characters;
}

// `text` without the spaces and tabs at either end.
std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// What is wrong with one line of the names file, or empty when it names a type.
std::string readNameLine(std::string line, TypeNames& names) {
  line = trimmed(line.substr(0, line.find('#')));
  if (line.empty()) return std::string();
  const size_t kindEnd = std::min(line.find_first_of(" \t"), line.size());
  const std::string kind = line.substr(0, kindEnd);
  if (kind != "tile" && kind != "wall") return "it starts with neither \"tile\" nor \"wall\"";
  std::string rest = trimmed(line.substr(kindEnd));
  const size_t numberEnd = std::min(rest.find_first_of(" \t"), rest.size());
  int32_t type = 0;
  if (numberEnd == 0 || !parseInt32(rest.substr(0, numberEnd), type)) {
    return "no type number after \"" + kind + "\"";
  }
  if (type < -128 || type > 127) return "type " + rest.substr(0, numberEnd) + " is not from -128 to 127";
  const std::string name = trimmed(rest.substr(numberEnd));
  if (name.empty()) return "no name after the type";
  const long characters = utf8Characters(name);
  if (characters < 0) return "the name is not UTF-8";
  if (size_t(characters) > kLongestName) {
    return "the name is longer than " + std::to_string(kLongestName) + " characters";
  }
  (kind == "tile" ? names.tiles : names.walls)[type] = name;
  return std::string();
}

}  // namespace

TypeNames loadTypeNames(std::istream& in, std::vector<std::string>& warnings) {
  TypeNames names;
  const std::string encoding = skipByteOrderMark(in);
  if (!encoding.empty()) {
    warnings.push_back(encoding);
    return names;
  }
  for (long number = 1;; ++number) {
    // A line is kept no further than its longest; the rest of a longer one is passed over.
    std::string line;
    bool tooLong = false;
    char c = 0;
    while (in.get(c) && c != '\n') {
      if (line.size() < kLongestLine) line += c;
      else tooLong = true;
    }
    if (in.bad()) throw ColorFileError("cannot read it");
    const bool ended = !in;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string why = tooLong ? "it is longer than " + std::to_string(kLongestLine) + " bytes"
                                    : readNameLine(line, names);
    if (!why.empty()) warnings.push_back("line " + std::to_string(number) + ": " + why + "; it is skipped");
    if (ended) break;
  }
  return names;
}

TileColorTable loadTileColors(std::istream& in, std::vector<std::string>& warnings) {
  static_assert(kLongestToken >= 11, "-2147483648 is a token");
  TileColorTable table;
  const std::string encoding = skipByteOrderMark(in);
  if (!encoding.empty()) {
    warnings.push_back(encoding);
    return table;
  }
  for (long long group = 1;; ++group) {
    int32_t values[5];
    int count = 0;
    std::string token;
    // A token is read no further than one byte past the longest: one that long
    // is no number, and a file of one huge token is never held whole.
    while (count < 5 && in >> std::setw(kLongestToken + 1) >> token) {
      if (token.size() > size_t(kLongestToken) || !parseInt32(token, values[count])) {
        warnings.push_back("group " + std::to_string(group) + ": " + escaped(token) +
                           " is not a 32-bit integer; this group and everything after it "
                           "are ignored");
        return table;
      }
      ++count;
    }
    if (in.bad()) throw ColorFileError("cannot read it");
    if (count < 5) {
      // The file ended: cleanly after a group, or with a group cut short.
      if (count > 0) {
        warnings.push_back("group " + std::to_string(group) + " has only " +
                           std::to_string(count) + " of its 5 numbers; it is ignored");
      }
      return table;
    }
    table.set(values[0], Color{static_cast<uint8_t>(values[1]), static_cast<uint8_t>(values[2]),
                               static_cast<uint8_t>(values[3]), static_cast<uint8_t>(values[4])});
  }
}

TileColorTable::TileColorTable(std::initializer_list<std::pair<int32_t, Color>> entries) {
  for (const auto& [type, color] : entries) set(type, color);
}

void TileColorTable::set(int32_t type, Color color) {
  if (type < kFirstType || type >= kFirstType + kTypes) return;
  const auto at = static_cast<size_t>(type - kFirstType);
  colors_[at] = color;
  present_.set(at);
}

bool TileColorTable::has(int32_t type) const {
  return type >= kFirstType && type < kFirstType + kTypes &&
         present_.test(static_cast<size_t>(type - kFirstType));
}

Color lookup(const TileColorTable& table, int32_t type) {
  return table.has(type) ? table.colors_[static_cast<size_t>(type - TileColorTable::kFirstType)]
                         : Color{0, 0, 0, 255};
}

}  // namespace wldmap
