#include "app/driver.h"

#include <exception>
#include <functional>
#include <optional>
#include <thread>

#include "app/failure.h"
#include "app/map_guard.h"
#include "app/map_names.h"
#include "app/data_files.h"
#include "app/thumbnailer.h"
#include "colors/colors.h"
#include "core/core.h"
#include "output/output.h"
#include "page/page.h"
#include "render/render.h"
#include "platform/platform.h"
#include "world/world.h"

namespace wldmap {

namespace {

const char kUsage[] =
    "You idiot! Don't run this program directly! You're supposed to click and drag the .wld "
    "over the .exe!";

// What follows "wldmap" on the command line for maps.
const char kMapOperands[] = "WORLD.wld [MORE.wld ...]";

// What follows "wldmap" on the command line for maps and pages.
const char kPageOperands[] = "--html [--open] WORLD.wld [MORE.wld ...]";

// What the run makes of each world besides its map.
struct Extras {
  bool page = false;  // the browser page beside the map
  bool open = false;  // and open it in the user's browser
};

// Writes "Unknown wall type" for every tile whose wall has no colour.
void reportUnknownWalls(const MapPainter& painter, std::ostream& out) {
  // One flush when the stage ends, not one per line: a world full of unknown
  // walls would otherwise spend most of its time in write calls.
  painter.reportUnknownWalls([&out](int wall) { out << "Unknown wall type: " << wall << '\n'; });
  out.flush();
}

// A thread joined when the scope it was started in is left, also by an exception.
class Joined {
 public:
  explicit Joined(std::thread thread) : thread_(std::move(thread)) {}
  ~Joined() { thread_.join(); }
  Joined(const Joined&) = delete;
  Joined& operator=(const Joined&) = delete;

 private:
  std::thread thread_;
};

// One run of the tool over its worlds, and what it keeps from one world to the
// next: the world files of the run and the maps written so far, so that no map
// is written over either, and the colour table, read once.
class Run {
 public:
  Run(const std::vector<std::string>& worlds, std::vector<std::string> colorCandidates,
      std::vector<std::string> namesCandidates, Extras extras, std::ostream& out,
      std::ostream& err)
      : worlds_(worlds), guard_(worlds), colorCandidates_(std::move(colorCandidates)),
        namesCandidates_(std::move(namesCandidates)), extras_(extras), out_(out), err_(err) {}

  // Maps world `index`: the stage lines from "Parsing header" to "Done!", or to
  // the error line. Whether the map (and the page, when asked for) was written.
  // Everything it allocated for the world is released when it returns, before
  // the next world is read.
  bool mapWorld(size_t index) {
    const std::string& worldPath = worlds_[index];
    MapPath page;
    try {
      out_ << "Parsing header" << std::endl;
      WorldSource world =
          blameOn(worldPath, [&] { return WorldSource(guard_.fullPath(index)); });
      // A map or page that may not be written is refused before the world is read.
      const MapPath map = outputPath(index, world.header(), ".png");
      guard_.checkMapPath(index, map.path, map.file);
      blameOn(map.path, [&] { platform::checkReplaceable(map.file); });
      if (extras_.page) {
        page = outputPath(index, world.header(), ".html");
        guard_.checkMapPath(index, page.path, page.file, "page");
        blameOn(page.path, [&] { platform::checkReplaceable(page.file); });
      }
      out_ << "Reading world" << std::endl;
      const TileGrid grid = blameOn(worldPath, [&] { return world.readGrid(); });
      out_ << "Loading colors" << std::endl;
      const TileColorTable& colors = colorTable();
      if (extras_.page && !names_) names_ = readNames(namesCandidates_, err_);
      out_ << "Generating image" << std::endl;
      const MapPainter painter = blameOn(worldPath, [&] {
        return MapPainter(world.header(), grid, colors);
      });
      reportUnknownWalls(painter, out_);
      if (extras_.page) {
        // The page's cells are packed on a second thread while the map is saved.
        PageCells cells;
        std::exception_ptr packingFailed;
        {
          Joined packing(platform::startThread([&] {
            try {
              cells = packCells(grid);
            } catch (...) {
              packingFailed = std::current_exception();
            }
          }));
          saveMap(index, world.header(), painter, map);
        }
        blameOn(page.path, [&] {
          if (packingFailed) std::rethrow_exception(packingFailed);
        });
        savePage(index, world.header(), cells, colors, *names_, page);
      } else {
        saveMap(index, world.header(), painter, map);
      }
    } catch (const Failure& failure) {
      reportFailure(err_, failure);
      return false;
    }
    out_ << "Done!" << std::endl;
    if (extras_.open) {
      try {
        platform::openInBrowser(page.file);
      } catch (const platform::SystemError& e) {
        reportWarning(err_, page.path, e.what());
      }
    }
    return true;
  }

 private:
  // A map's path as the messages give it, and in full.
  struct MapPath {
    std::string path;
    std::string file;
  };

  // The map (`extension` ".png") or page (".html") of world `index`: beside the
  // world, named after the world.
  MapPath outputPath(size_t index, const WorldHeader& header, const char* extension) const {
    const bool windows = platform::kWindowsFileNames;
    const std::string mapName = safeFileName(header.name, windows) + extension;
    return {folderOf(worlds_[index], windows) + mapName,
            folderOf(guard_.fullPath(index), windows) + mapName};
  }

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

  // The stage "Saving image as": paints the map as it is encoded and saves it
  // beside the world, named after the world.
  void saveMap(size_t index, const WorldHeader& header, const MapPainter& painter,
               const MapPath& map) {
    out_ << "Saving image as " << map.path << std::endl;
    blameOn(map.path, [&] {
      savePng(map.file, static_cast<uint32_t>(header.width), static_cast<uint32_t>(header.height),
              std::cref(painter), [this, &map](const std::string& warning) {
                reportWarning(err_, map.path, warning);
              });
    });
    guard_.recordMap(index, map.file);
  }

  // The stage "Saving page as": the world's browser page beside its map.
  void savePage(size_t index, const WorldHeader& header, const PageCells& cells,
                const TileColorTable& colors, const TypeNames& names, const MapPath& page) {
    out_ << "Saving page as " << page.path << std::endl;
    blameOn(page.path, [&] {
      saveFile(
          page.file, [&](std::ostream& out) { writePage(out, header, cells, colors, names); },
          [this, &page](const std::string& warning) { reportWarning(err_, page.path, warning); });
    });
    guard_.recordMap(index, page.file);
  }

  const std::vector<std::string>& worlds_;
  MapGuard guard_;
  const std::vector<std::string> colorCandidates_;
  const std::vector<std::string> namesCandidates_;
  const Extras extras_;
  std::optional<TypeNames> names_;  // read at the first page
  std::optional<TileColorTable> colors_;
  std::optional<Failure> colorFailure_;
  std::ostream& out_;
  std::ostream& err_;
};

// Where the user's own tilenames.txt goes, as the help tells it.
std::string configPlace() {
  return platform::kWindowsFileNames ? "%APPDATA%\\wldmap\\" : "~/.config/wldmap/";
}

std::string helpText() {
  // One place a line; the data folders are the system's (the install's data
  // folder as seen from its binary folder).
  std::string places =
      "  the folder of the path wldmap was started by: the current folder when it was\n"
      "    started by a bare name, found along PATH or run by a desktop entry\n";
  for (const std::string& folder : platform::dataFolders("")) {
    places += folder.empty() ? "  the folder of the running executable\n"
                             : "  " + folder + " from the running executable's folder\n";
  }
  return std::string("Usage: wldmap ") + kMapOperands + "\n" +
         "       wldmap " + kPageOperands + "\n"
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
         "  --html         also write each world's page, FOLDER/NAME.html, beside its\n"
         "                 map: one file that a browser shows offline, on a computer\n"
         "                 or a phone, to zoom, show what a cell holds, find tiles by\n"
         "                 name or number (every match marked, nearest first), show or\n"
         "                 hide layers and count everything by depth. Types are named\n"
         "                 from tilenames.txt, looked for first in " + configPlace() + ",\n"
         "                 then where tilecolors.txt is\n"
         "  --open         with --html, open each page in the default browser\n"
         "  -h, --help     show this help and exit\n"
         "  --version      show the version and exit\n"
         "  " + kThumbnailOperands + "\n"
         "                 write to OUTPUT the map scaled down to at most SIZE pixels a\n"
         "                 side, and nothing else; for file managers' thumbnail\n"
         "                 services (wldmap.thumbnailer). Windows Explorer's come from\n"
         "                 wldmap-thumbnails.dll in the Windows zip (register.cmd).\n"
         "A world file whose name starts with '-' is given with its folder: ./--help\n"
         "\n"
         "Every rule in full: man wldmap (MANUAL.txt in the Windows zip).\n";
}

}  // namespace

int runDriver(const std::vector<std::string>& args, const std::string& exePath, std::istream& in,
              std::ostream& out, std::ostream& err) {
  // A run over worlds, and a start without one, ends by waiting for one
  // character, so a console opened for a drop stays readable until the user
  // presses Enter; help, version and thumbnails answer without waiting.
  auto finish = [&in](int status) {
    in.get();
    return status;
  };
  if (args.size() < 2) {
    out << kUsage << std::endl;
    err << "usage: wldmap " << kMapOperands << "; wldmap --help explains" << std::endl;
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
  // --html and --open come before the worlds, in either order.
  Extras extras;
  size_t first = 1;
  for (; first < args.size() && (args[first] == "--html" || args[first] == "--open"); ++first) {
    (args[first] == "--html" ? extras.page : extras.open) = true;
  }
  if (first == args.size() || (extras.open && !extras.page)) {
    err << "usage: wldmap " << kPageOperands << std::endl;
    return finish(1);
  }
  const std::vector<std::string> worlds(args.begin() + static_cast<std::ptrdiff_t>(first),
                                        args.end());
  std::vector<std::string> namesCandidates =
      namesFileCandidates(platform::userConfigFolder(), colorCandidates);
  Run run(worlds, std::move(colorCandidates), std::move(namesCandidates), extras, out, err);
  bool allWritten = true;
  for (size_t i = 0; i < worlds.size(); ++i) allWritten = run.mapWorld(i) && allWritten;
  return finish(allWritten ? 0 : 2);
}

}  // namespace wldmap
