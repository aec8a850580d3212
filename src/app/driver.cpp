#include "app/driver.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>

#include "app/stages.h"
#include "app/thumbnailer.h"
#include "colors/colors.h"
#include "output/output.h"
#include "render/render.h"
#include "platform/platform.h"
#include "world/world.h"

namespace wldmap {

namespace {

const char kUsage[] =
    "You idiot! Don't run this program directly! You're supposed to click and drag the .wld "
    "over the .exe!";
const char kColorFileName[] = "tilecolors.txt";

}  // namespace

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

// Writes "Unknown wall type" for every tile whose wall has no colour.
void reportUnknownWalls(const MapPainter& painter, std::ostream& out) {
  // One flush when the stage ends, not one per line: a world full of unknown
  // walls would otherwise spend most of its time in write calls.
  painter.reportUnknownWalls([&out](int wall) { out << "Unknown wall type: " << wall << '\n'; });
  out.flush();
}

// One run of the tool over its worlds, and what it keeps from one world to the
// next: the world files of the run and the maps written so far, so that no map
// is written over either, and the colour table, read once.
class Run {
 public:
  Run(const std::vector<std::string>& worlds, std::vector<std::string> colorCandidates,
      std::ostream& out, std::ostream& err)
      : worlds_(worlds), colorCandidates_(std::move(colorCandidates)), out_(out), err_(err) {
    // Each world's path is resolved once, before any map is saved, so that every
    // world file of the run is known, and every later call for a world uses its
    // full path whatever the system makes of a relative one.
    for (const std::string& world : worlds_) {
      Resolved entry;
      try {
        entry.fullPath = platform::fullPath(world);
        entry.id = platform::fileId(entry.fullPath);
      } catch (const platform::SystemError& e) {
        entry.failure = e.what();
      }
      resolved_.push_back(std::move(entry));
    }
  }

  // Maps world `index`: the stage lines from "Parsing header" to "Done!", or to
  // the error line. Whether the map was written. Everything it allocated for the
  // world is released when it returns, before the next world is read.
  bool mapWorld(size_t index) {
    const std::string& worldPath = worlds_[index];
    try {
      out_ << "Parsing header" << std::endl;
      const World world = readWorld(worldPath, resolved(index).fullPath, &out_);
      out_ << "Loading colors" << std::endl;
      const TileColorTable& colors = colorTable();
      out_ << "Generating image" << std::endl;
      const MapPainter painter = about(worldPath, [&] {
        return MapPainter(world.header, world.grid, colors);
      });
      reportUnknownWalls(painter, out_);
      saveMap(index, world, painter);
    } catch (const Failure& failure) {
      err_ << "error: " << failure.file() << ": " << failure.what() << std::endl;
      return false;
    }
    out_ << "Done!" << std::endl;
    return true;
  }

 private:
  // The colour table, read from its file at the first world that needs it; a
  // failure to read it fails every world that needs it.
  const TileColorTable& colorTable() {
    if (!colors_ && !colorFailure_) {
      try {
        colors_ = readColors(colorCandidates_, &err_);
      } catch (const Failure& failure) {
        colorFailure_ = failure;
      }
    }
    if (colorFailure_) throw *colorFailure_;
    return *colors_;
  }

  // A world's full path and identity, or why its path could not be resolved.
  struct Resolved {
    std::string fullPath;
    std::optional<platform::FileId> id;
    std::string failure;
  };

  // World `index` resolved; throws the failure to resolve it.
  const Resolved& resolved(size_t index) const {
    const Resolved& world = resolved_[index];
    if (!world.failure.empty()) throw Failure(worlds_[index], world.failure);
    return world;
  }

  // Refuses a map path that names the world itself, another world file of the
  // run, or a map this run has written already. `mapPath` is the path the
  // messages give, `mapFile` the full one.
  void checkMapPath(size_t index, const std::string& mapPath, const std::string& mapFile) const {
    const std::optional<platform::FileId> map = platform::fileId(mapFile);
    if (!map) return;  // a new file: nothing is written over
    const std::string& world = worlds_[index];
    if (map == resolved_[index].id) {
      throw Failure(mapPath, "is the world file itself; it is kept, and no map is written");
    }
    for (const Resolved& other : resolved_) {
      if (other.id == map) {
        throw Failure(world, "its map " + mapPath +
                                 " is another world file of this run; it is kept, and no map "
                                 "is written");
      }
    }
    for (const auto& [written, earlier] : written_) {
      if (written == *map) {
        throw Failure(world, "its map " + mapPath + " was already written for " + earlier +
                                 " in this run; it is kept");
      }
    }
  }

  // The stage "Saving image as": paints the map as it is encoded and saves it
  // beside the world, named after the world.
  void saveMap(size_t index, const World& world, const MapPainter& painter) {
    const std::string& worldPath = worlds_[index];
    const bool windows = platform::kWindowsFileNames;
    const std::string mapName = safeFileName(world.header.name, windows) + ".png";
    const std::string mapPath = folderOf(worldPath, windows) + mapName;
    const std::string mapFile = folderOf(resolved_[index].fullPath, windows) + mapName;
    out_ << "Saving image as " << mapPath << std::endl;
    checkMapPath(index, mapPath, mapFile);
    about(mapPath, [&] {
      savePng(
          mapFile, static_cast<uint32_t>(world.header.width),
          static_cast<uint32_t>(world.header.height),
          [&painter](uint32_t top, uint32_t rows, Color* pixels) {
            painter.paint(top, rows, pixels);
          },
          [this, &mapPath](const std::string& warning) {
            err_ << "warning: " << mapPath << ": " << warning << std::endl;
          });
    });
    if (const std::optional<platform::FileId> written = platform::fileId(mapFile)) {
      written_.emplace_back(*written, worldPath);
    }
  }

  const std::vector<std::string>& worlds_;
  std::vector<Resolved> resolved_;
  std::vector<std::pair<platform::FileId, std::string>> written_;  // each map, and its world
  const std::vector<std::string> colorCandidates_;
  std::optional<TileColorTable> colors_;
  std::optional<Failure> colorFailure_;
  std::ostream& out_;
  std::ostream& err_;
};

std::string helpText() {
  // One place a line; the data folders are the system's (../share/wldmap/
  // where an install puts it).
  std::string places =
      "  the folder of the path wldmap was started by: the current folder when it was\n"
      "    started by a bare name, found along PATH or run by a desktop entry\n";
  for (const std::string& folder : platform::dataFolders("")) {
    places += folder.empty() ? "  the folder of the running executable\n"
                             : "  " + folder + " from the running executable's folder\n";
  }
  return "Usage: wldmap WORLD.wld [MORE.wld ...]\n"
         "Turns each saved tile world into a PNG map, one pixel per cell: a background by\n"
         "depth, then the cell's wall, tile and water or lava.\n"
         "\n"
         "Each map goes beside its world file and is named after the world's own name, the\n"
         "one stored in the file: FOLDER/NAME.png. A world named \"\", \".\" or \"..\" gets a\n"
         "map named .png, ..png or ...png, which file managers hide. A map from an earlier\n"
         "run is replaced; a world file, or a map written earlier in the same run, never.\n"
         "Worlds are mapped in the order given; one that fails does not stop the others.\n"
         "After the last one the tool waits for Enter, so that a window opened for a drop\n"
         "stays open.\n"
         "\n"
         "Tile colours come from tilecolors.txt, the first found of:\n" +
         places +
         "Tile and wall types are signed bytes: a type stored as 200 is written -56 in\n"
         "tilecolors.txt, and a wall stored as 200 is reported as\n"
         "\"Unknown wall type: -56\".\n"
         "\n"
         "Exit status: 0 when every map was written, 1 when no world was given, 2 when\n"
         "any world failed.\n"
         "\n"
         "  -h, --help     show this help and exit\n"
         "  --version      show the version and exit\n"
         "  --thumbnail SIZE WORLD.wld OUTPUT.png\n"
         "                 write to OUTPUT the map scaled down to at most SIZE pixels a\n"
         "                 side, and nothing else; for file managers' thumbnail\n"
         "                 services (wldmap.thumbnailer). Windows Explorer is not\n"
         "                 covered: it needs a shell extension.\n"
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
    err << "usage: wldmap WORLD.wld [MORE.wld ...]; wldmap --help explains" << std::endl;
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
  const bool windows = platform::kWindowsFileNames;
  std::vector<std::string> colorCandidates = colorFileCandidates(
      folderOf(args[0], windows),
      exePath.empty() ? std::vector<std::string>()
                      : platform::dataFolders(folderOf(exePath, windows)));
  // Run by a thumbnail service: no progress, no waiting for Enter.
  if (args[1] == "--thumbnail") return runThumbnailer(args, colorCandidates, err);
  const std::vector<std::string> worlds(args.begin() + 1, args.end());
  Run run(worlds, std::move(colorCandidates), out, err);
  bool allWritten = true;
  for (size_t i = 0; i < worlds.size(); ++i) allWritten = run.mapWorld(i) && allWritten;
  return finish(allWritten ? 0 : 2);
}

}  // namespace wldmap
