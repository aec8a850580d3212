#include "app/driver.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <new>
#include <sstream>
#include <stdexcept>

#include "app/paint_ahead.h"
#include "colors/colors.h"
#include "output/output.h"
#include "render/render.h"
#include "platform/input_stream.h"
#include "platform/platform.h"
#include "world/world.h"

namespace wldmap {

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "You idiot! Don't run this program directly! You're supposed to click and drag the .wld "
    "over the .exe!";
const char kColorFileName[] = "tilecolors.txt";

// A failure found by the driver itself; reported against the file in hand.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string firstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    std::error_code error;
    if (fs::is_regular_file(fs::u8path(path), error)) return path;
  }
  return std::string();
}

std::string join(const std::vector<std::string>& items) {
  std::string all;
  for (const std::string& item : items) all += (all.empty() ? "" : ", ") + item;
  return all;
}

}  // namespace

std::string folderOf(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
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
// would open the device instead of a file.
bool isDeviceName(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();  // "CON .png" is CON too
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
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

std::vector<std::string> colorFileCandidates(const std::string& toolFolder,
                                             const std::vector<std::string>& dataFolders) {
  std::vector<std::string> candidates{toolFolder + kColorFileName};
  for (const std::string& folder : dataFolders) {
    const std::string path = folder + kColorFileName;
    if (std::find(candidates.begin(), candidates.end(), path) == candidates.end()) {
      candidates.push_back(path);
    }
  }
  return candidates;
}

namespace {

// Maps one world, with tilecolors.txt from the first of `colorCandidates` that
// exists: the stage lines from "Parsing header" to "Saving image as", or to the
// error line. Whether the map was written. Everything it allocated is released
// when it returns.
bool mapWorld(const std::string& worldPath, const std::vector<std::string>& colorCandidates,
              std::ostream& out, std::ostream& err) {
  out << "Parsing header" << std::endl;
  std::string subject = worldPath;  // the file a failure is reported against
  // All of it is released on return, before the next world is read.
  WorldHeader header;
  TileGrid grid;
  TileColorTable colors;
  try {
    platform::InputFileStream world(worldPath);
    if (world.file().isFolder()) throw Failure("is a folder, not a world file");
    if (!world.file().isRegular()) throw Failure("not a regular file");
    const std::string inputFolder = folderOf(worldPath);
    header = readHeader(world);

    out << "Reading world" << std::endl;
    grid = readTiles(world, header);

    out << "Loading colors" << std::endl;
    const std::string colorPath = firstExisting(colorCandidates);
    if (colorPath.empty()) {
      subject = kColorFileName;
      throw Failure("not found; looked for " + join(colorCandidates));
    }
    subject = colorPath;
    // Read as bytes on every system: a text mode would end the file at a Ctrl-Z.
    platform::InputFileStream colorFile(colorPath);
    if (!colorFile.file().isRegular()) throw Failure("not a regular file");
    std::vector<std::string> warnings;
    colors = loadTileColors(colorFile, warnings);
    for (const std::string& warning : warnings) {
      err << "warning: " << colorPath << ": " << warning << std::endl;
    }

    out << "Generating image" << std::endl;
    subject = worldPath;
    const MapPainter painter(header, grid, colors);
    const auto width = static_cast<uint32_t>(header.width);
    const auto height = static_cast<uint32_t>(header.height);
    // The painter thread starts at once; its first bands are ready by the time
    // the encoder asks for them.
    PaintAhead paintAhead(width, height, [&painter](uint32_t top, uint32_t rows, Color* pixels) {
      painter.paint(top, rows, pixels);
    });
    // One flush when the stage ends, not one per line: a world full of unknown
    // walls would otherwise spend most of its time in write calls.
    painter.reportUnknownWalls([&out](int wall) { out << "Unknown wall type: " << wall << '\n'; });
    out.flush();

    const std::string outputPath =
        inputFolder + safeFileName(header.name, platform::kWindowsFileNames) + ".png";
    out << "Saving image as " << outputPath << std::endl;
    subject = outputPath;
    if (platform::sameFile(outputPath, worldPath)) {
      throw Failure("is the world file itself; it is kept, and no map is written");
    }
    savePng(
        outputPath, width, height, [&paintAhead](uint32_t y) { return paintAhead.row(y); },
        [&err, &outputPath](const std::string& warning) {
          err << "warning: " << outputPath << ": " << warning << std::endl;
        });
  } catch (const std::bad_alloc&) {
    err << "error: " << subject << ": not enough memory" << std::endl;
    return false;
  } catch (const std::exception& e) {
    err << "error: " << subject << ": " << e.what() << std::endl;
    return false;
  }
  return true;
}

// The words of `text` in lines of at most 80 columns.
std::string wrapped(const std::string& text) {
  std::string out, line, word;
  std::istringstream words(text);
  while (words >> word) {
    if (!line.empty() && line.size() + 1 + word.size() > 80) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return out + line + "\n";
}

std::string helpText() {
  std::string places = "the folder of the path it was started by";
  for (const std::string& folder : platform::dataFolders("")) {
    places += folder.empty() ? ", then the folder of the running executable"
                             : ", then " + folder + " from there";
  }
  return std::string("Usage: wldmap WORLD.wld [MORE.wld ...]\n"
         "Turns each saved tile world into a PNG map, one pixel per cell: a background by\n"
         "depth, then the cell's wall, tile and water or lava.\n"
         "\n"
         "Each map goes beside its world file and is named after the world's own name, the\n"
         "one stored in the file: FOLDER/NAME.png. An existing map of that name is replaced.\n"
         "Worlds are mapped in the order given; one that fails does not stop the others.\n"
         "After the last one the tool waits for Enter, so a window opened for a drop stays.\n"
         "\n") +
         wrapped("Tile colours come from tilecolors.txt, looked for in " + places + ".") +
         "\n"
         "Exit status: 0 when every map was written, 1 when no world was given, 2 when\n"
         "any world failed.\n"
         "\n"
         "  -h, --help     show this help and exit\n"
         "  --version      show the version and exit\n"
         "A world file whose name starts with '-' is given with its folder: ./--help\n";
}

}  // namespace

int runDriver(const std::vector<std::string>& args, const std::string& exePath, std::istream& in,
              std::ostream& out, std::ostream& err) {
  // Every path ends by waiting for one character, so a console opened for a
  // dropped file stays readable until the user presses Enter.
  auto finish = [&in](int status) {
    in.get();
    return status;
  };
  if (args.size() < 2) {
    out << kUsage << std::endl;
    return finish(1);
  }
  // Typed in a terminal, not dropped: they answer at once, without waiting.
  if (args[1] == "--help" || args[1] == "-h") {
    out << helpText() << std::flush;
    return 0;
  }
  if (args[1] == "--version") {
    out << "wldmap " << WLDMAP_VERSION << std::endl;
    return 0;
  }
  const std::vector<std::string> colorCandidates = colorFileCandidates(
      folderOf(args[0]), exePath.empty() ? std::vector<std::string>()
                                         : platform::dataFolders(folderOf(exePath)));
  bool allWritten = true;
  for (size_t i = 1; i < args.size(); ++i) {
    if (mapWorld(args[i], colorCandidates, out, err)) {
      out << "Done!" << std::endl;
    } else {
      allWritten = false;
    }
  }
  return finish(allWritten ? 0 : 2);
}

}  // namespace wldmap
