#include "app/map_names.h"

#include <cctype>

namespace wldmap {

std::string folderOf(const std::string& path, bool windowsRules) {
  const size_t cut = path.find_last_of("/\\");
  if (cut != std::string::npos) return path.substr(0, cut + 1);
  // Z:name is name in the current folder of drive Z:, which is Z: itself.
  const char drive = static_cast<char>(path.empty() ? 0 : path[0] | 0x20);
  const bool driveRelative = windowsRules && path.size() >= 2 && path[1] == ':' && drive >= 'a' &&
                             drive <= 'z';
  return driveRelative ? path.substr(0, 2) : std::string();
}

namespace {

// The length of the valid UTF-8 sequence at p (at most `left` bytes), or 0 when
// the byte there does not start one: no overlong forms, no surrogates, nothing
// above U+10FFFF.
size_t utf8Length(const unsigned char* p, size_t left) {
  const unsigned char b = p[0];
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

// Whether a name's part before its first dot is a Windows device name, which
// would open the device instead of a file: CON, PRN, AUX, NUL, the consoles'
// CONIN$ and CONOUT$, and COM or LPT followed by a digit or a superscript 1, 2
// or 3 (in UTF-8, C2 B9, C2 B2 and C2 B3).
bool isDeviceName(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();  // "CON .png" is CON too
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (stem == device) return true;
  }
  if (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0) return false;
  const std::string number = stem.substr(3);
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace

std::string safeFileName(const std::string& name, bool windowsRules) {
  static const std::string kWindowsReserved = "<>:\"|?*";
  std::string safe;
  const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
  for (size_t i = 0; i < name.size();) {
    const unsigned char b = bytes[i];
    if (b < 0x80) {
      const bool reserved = windowsRules && kWindowsReserved.find(char(b)) != std::string::npos;
      safe += (b < 0x20 || b == 0x7F || b == '/' || b == '\\' || reserved) ? '_' : char(b);
      ++i;
      continue;
    }
    const size_t length = utf8Length(bytes + i, name.size() - i);
    if (length == 0) {
      // A stray byte: a C1 control on any terminal that reads bytes as Latin-1,
      // and no character at all to Windows.
      safe += (windowsRules || b <= 0x9F) ? '_' : char(b);
      ++i;
    } else if (b == 0xC2 && bytes[i + 1] <= 0x9F) {
      safe += '_';  // U+0080 to U+009F, the C1 controls
      i += length;
    } else {
      safe.append(name, i, length);
      i += length;
    }
  }
  if (windowsRules && isDeviceName(safe)) safe.insert(0, "_");
  return safe;
}

}  // namespace wldmap
