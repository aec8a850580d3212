#include "app/driver.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "app/failure.h"
#include "app/output_guard.h"
#include "app/map_names.h"
#include "app/data_files.h"
#include "app/thumbnailer.h"
#include "app/watch.h"
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
const char kPageOperands[] = "--html [--open] [--into FOLDER] WORLD.wld [MORE.wld ...]";

// What follows "wldmap" on the command line for a watch.
const char kWatchOperands[] =
    "--watch [--html] [--into FOLDER] [--settle SECONDS] [--poll SECONDS] WORLD_OR_FOLDER ...";

// What the run makes of each world besides its map, and where.
struct Extras {
  bool page = false;  // the browser page beside the map
  bool open = false;  // and open it in the user's browser
  std::string into;   // the folder every map and page goes into; empty: beside each world
};

// How a watch waits: how long a world must be quiet after a save, and how
// often folders whose changes the system does not tell are looked at.
struct Pace {
  std::chrono::milliseconds settle{2000};
  std::chrono::milliseconds poll{5000};
};

// Writes "Unknown wall type" for every tile whose wall has no colour.
void reportUnknownWalls(const MapPainter& painter, std::ostream& out) {
  // One flush when the stage ends, not one per line: a world full of unknown
  // walls would otherwise spend most of its time in write calls.
  painter.reportUnknownWalls([&out](int wall) { out << "Unknown wall type: " << wall << '\n'; });
  out.flush();
}

// `name` in `folder`, with a separator between them where it has none; in the
// current folder when `folder` is empty.
std::string inFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  const bool ends = last == '/' || (platform::kWindowsFileNames && (last == '\\' || last == ':'));
  return folder + (ends ? "" : platform::kWindowsFileNames ? "\\" : "/") + name;
}

// One run of the tool over its worlds, and what it keeps from one world to the
// next: the world files of the run and the maps written so far, so that no map
// is written over either, and the colour table, read once.
class Run {
 public:
  // Throws Failure when the folder the outputs go into cannot be resolved.
  Run(std::vector<std::string> worlds, std::vector<std::string> colorCandidates,
      std::vector<std::string> namesCandidates, Extras extras, std::ostream& out,
      std::ostream& err)
      : worlds_(std::move(worlds)), guard_(worlds_), colorCandidates_(std::move(colorCandidates)),
        namesCandidates_(std::move(namesCandidates)), extras_(std::move(extras)),
        intoFull_(extras_.into.empty() ? std::string()
                                       : blameOn(extras_.into, [&] {
                                           return platform::fullPath(extras_.into);
                                         })),
        out_(out), err_(err) {}

  // A map's path as the messages give it, and in full.
  struct OutputPath {
    std::string path;
    std::string file;
  };

  const std::vector<std::string>& worlds() const { return worlds_; }
  const std::string& intoFull() const { return intoFull_; }

  // Adds a world to the run (one found later in a watched folder); its index.
  size_t addWorld(const std::string& path) {
    worlds_.push_back(path);
    guard_.addWorld();
    return worlds_.size() - 1;
  }

  // From now on a world that fails is a warning, and its outputs stay as they
  // were: a watch goes on.
  void keepGoing() { keepGoing_ = true; }

  // The map of world `index`, named from its header, for telling two worlds'
  // maps apart before either is written; none when the world cannot be read.
  std::optional<OutputPath> mapOf(size_t index) const {
    try {
      const WorldSource world(guard_.fullPath(index));
      return outputPath(index, world.header(), ".png");
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }

  // Takes each world file's identity anew, before a world saved again is mapped.
  void refreshWorlds() { guard_.refresh(); }

  // Maps world `index`: the stage lines from "Parsing header" to "Done!", or to
  // the error line. Whether the map (and the page, when asked for) was written.
  // Everything it allocated for the world is released when it returns, before
  // the next world is read. `unchanged`, when given, is asked once the world
  // is read, before anything is written: a world saved again meanwhile is
  // left for its next save.
  bool mapWorld(size_t index, const std::function<bool()>& unchanged = nullptr) {
    const std::string& worldPath = worlds_[index];
    OutputPath page;
    try {
      out_ << "Parsing header" << std::endl;
      WorldSource world =
          blameOn(worldPath, [&] { return WorldSource(guard_.fullPath(index)); });
      // A map or page that may not be written is refused before the world is read.
      const OutputPath map = outputPath(index, world.header(), ".png");
      guard_.checkOutput(index, map.path, map.file, "map");
      blameOn(map.path, [&] { platform::checkReplaceable(map.file); });
      if (extras_.page) {
        page = outputPath(index, world.header(), ".html");
        guard_.checkOutput(index, page.path, page.file, "page");
        blameOn(page.path, [&] { platform::checkReplaceable(page.file); });
      }
      out_ << "Reading world" << std::endl;
      const TileGrid grid = blameOn(worldPath, [&] { return world.readGrid(); });
      if (unchanged && !unchanged()) {
        throw Failure(worldPath, "was written to while it was read; it is mapped again once "
                                 "that save is over");
      }
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
          const platform::JoinedThread packing([&] {
            try {
              cells = packCells(grid);
            } catch (...) {
              packingFailed = std::current_exception();
            }
          });
          saveMap(index, world.header(), painter, map);
        }
        blameOn(page.path, [&] {
          if (packingFailed) std::rethrow_exception(packingFailed);
        });
        savePage(index, world.header(), cells, colors, *names_, world.modified(), page);
      } else {
        saveMap(index, world.header(), painter, map);
      }
    } catch (const Failure& failure) {
      if (keepGoing_) {
        reportWarning(err_, failure.file(), std::string(failure.what()) +
                                                "; what was written for this world stays as it was");
      } else {
        reportFailure(err_, failure);
      }
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
  // The map (`extension` ".png") or page (".html") of world `index`: beside the
  // world or in the folder asked for, named after the world.
  OutputPath outputPath(size_t index, const WorldHeader& header, const char* extension) const {
    const bool windows = platform::kWindowsFileNames;
    const std::string mapName = safeFileName(header.name, windows) + extension;
    if (!extras_.into.empty()) return {inFolder(extras_.into, mapName), inFolder(intoFull_, mapName)};
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
               const OutputPath& map) {
    out_ << "Saving image as " << map.path << std::endl;
    blameOn(map.path, [&] {
      savePng(map.file, static_cast<uint32_t>(header.width), static_cast<uint32_t>(header.height),
              std::cref(painter), [this, &map](const std::string& warning) {
                reportWarning(err_, map.path, warning);
              });
    });
    guard_.recordOutput(index, map.file, "map");
  }

  // The stage "Saving page as": the world's browser page beside its map.
  void savePage(size_t index, const WorldHeader& header, const PageCells& cells,
                const TileColorTable& colors, const TypeNames& names, int64_t saved,
                const OutputPath& page) {
    out_ << "Saving page as " << page.path << std::endl;
    blameOn(page.path, [&] {
      saveFile(
          page.file, "page",
          [&](std::ostream& out) { writePage(out, header, cells, colors, names, saved); },
          [this, &page](const std::string& warning) { reportWarning(err_, page.path, warning); });
    });
    guard_.recordOutput(index, page.file, "page");
  }

  std::vector<std::string> worlds_;
  OutputGuard guard_;
  const std::vector<std::string> colorCandidates_;
  const std::vector<std::string> namesCandidates_;
  const Extras extras_;
  const std::string intoFull_;  // the folder asked for, in full
  bool keepGoing_ = false;
  std::optional<TypeNames> names_;  // read at the first page
  std::optional<TileColorTable> colors_;
  std::optional<Failure> colorFailure_;
  std::ostream& out_;
  std::ostream& err_;
};

// A time given in seconds (fractions allowed, up to a day), to the millisecond.
std::optional<std::chrono::milliseconds> secondsOf(const std::string& text) {
  double seconds = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || !(seconds >= 0 && seconds <= 86400)) {
    return std::nullopt;
  }
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
}

// A name to compare maps by: Windows folds case.
std::string sameName(const std::string& path) {
  if (!platform::kWindowsFileNames) return path;
  std::string folded = path;
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

// Refuses worlds whose maps would be one file (where every map goes into one
// folder, or in a watch): each world after the first gets an error line.
// Whether the maps all differ; when they do not, nothing is to be written.
bool mapsDiffer(const Run& run, std::ostream& err) {
  std::map<std::string, size_t> firstOf;
  bool differ = true;
  for (size_t i = 0; i < run.worlds().size(); ++i) {
    const std::optional<Run::OutputPath> map = run.mapOf(i);
    if (!map) continue;  // its own error comes when it is mapped
    const auto [first, added] = firstOf.emplace(sameName(map->file), i);
    if (added) continue;
    reportFailure(err, Failure(run.worlds()[i], "its map and " + run.worlds()[first->second] +
                                                    "'s would both be " + map->path +
                                                    "; no map is written"));
    differ = false;
  }
  return differ;
}

// Whether a file's name is a world's: it ends in .wld, in any case.
bool isWorldName(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string end = name.substr(name.size() - 4);
  for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == ".wld";
}

// A file's size and last change, to tell a file written since from one at rest.
struct Stamp {
  std::uintmax_t size;
  std::filesystem::file_time_type time;
  bool operator==(const Stamp& other) const { return size == other.size && time == other.time; }
};

// The stamp of the file at `path`; none when it cannot be had (it is gone).
std::optional<Stamp> stampOf(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path file = fs::u8path(path);
  const auto size = fs::file_size(file, error);
  if (error) return std::nullopt;
  const auto time = fs::last_write_time(file, error);
  if (error) return std::nullopt;
  return Stamp{size, time};
}

// Keeps the maps (and pages) of a run's worlds current as they are saved: each
// world named and each *.wld of each folder named (found there later too) is
// mapped at once, then again once each save of it is over and has settled,
// until a clean-up signal ends the watch. Nothing it keeps grows with the
// saves: a world's state is dropped once it is mapped.
class Watch {
 public:
  Watch(Run& run, Pace pace, std::ostream& out, std::ostream& err)
      : run_(run), pace_(pace), settler_(pace.settle), out_(out), err_(err) {}

  // Watches `targets`, world files and folders: the exit status. One that is
  // missing or cannot be read, or two worlds whose maps would be one file,
  // and the watch does not start (status 2, an error line for each, nothing
  // written); else it ends on a clean-up signal with status 0.
  int watch(const std::vector<std::string>& targets) {
    if (!findTargets(targets) || !mapsDiffer(run_, err_)) return 2;
    platform::FolderWatch system;
    for (Folder& folder : folders_) {
      folder.polled = !system.add(folder.full);
      if (folder.polled) {
        out_ << (folder.shown.empty() ? "." : folder.shown)
             << ": this file system does not tell of changes; it is looked at every "
             << seconds(pace_.poll) << std::endl;
      }
    }
    out_ << "Watching " << targetsText(targets) << ": each world is mapped again once a save of it "
         << "has been quiet for " << seconds(pace_.settle) << ". Ctrl+C stops." << std::endl;
    run_.keepGoing();
    admitted_.assign(admitted_.size(), true);
    for (size_t world = 0; world < run_.worlds().size(); ++world) render(world);
    auto nextLook = WatchClock::now() + pace_.poll;
    const bool looking = std::any_of(folders_.begin(), folders_.end(), [](const Folder& f) { return f.polled; });
    for (;;) {
      auto now = WatchClock::now();
      std::optional<std::chrono::milliseconds> timeout = settler_.untilNext(now);
      if (looking) {
        const auto untilLook = std::chrono::ceil<std::chrono::milliseconds>(nextLook - now);
        timeout = std::max(std::chrono::milliseconds(0), timeout ? std::min(*timeout, untilLook) : untilLook);
      }
      const auto changes = system.wait(timeout ? *timeout : std::chrono::milliseconds(-1));
      if (!changes) return 0;
      now = WatchClock::now();
      for (const platform::FolderChange& change : *changes) told(change, now);
      if (looking && now >= nextLook) {
        look(now);
        nextLook = now + pace_.poll;
      }
      for (const size_t world : settler_.due(now)) render(world);
    }
  }

 private:
  // A folder watched: named, or holding a world named.
  struct Folder {
    std::string shown;  // as the messages give it
    std::string full;   // in full
    bool every = false;  // every world in it is watched, not only those named
    bool polled = false;  // its changes are looked for, not told
  };

  static std::string seconds(std::chrono::milliseconds time) {
    const auto count = time.count();
    std::string text = std::to_string(count / 1000);
    if (count % 1000 != 0) {
      std::string fraction = std::to_string(1000 + count % 1000).substr(1);
      text += "." + fraction.erase(fraction.find_last_not_of('0') + 1);
    }
    return text + " s";
  }

  static std::string targetsText(const std::vector<std::string>& targets) {
    std::string text;
    for (size_t i = 0; i < targets.size(); ++i) {
      text += (i == 0 ? "" : i + 1 == targets.size() ? " and " : ", ") + targets[i];
    }
    return text;
  }

  // Sorts the targets into worlds and folders, each checked: whether all are there and readable.
  bool findTargets(const std::vector<std::string>& targets) {
    const bool windows = platform::kWindowsFileNames;
    bool found = true;
    for (const std::string& target : targets) {
      try {
        const std::string full = platform::fullPath(target);
        const platform::InputFile file(full);
        if (file.isFolder()) {
          const size_t folder = folderAt(target, full);
          folders_[folder].every = true;
          std::vector<std::string> names;
          if (!listWorlds(folder, names)) {
            found = false;
            continue;
          }
          for (const std::string& name : names) addWorld(folder, name);
        } else if (file.isRegular()) {
          const std::string folder = folderOf(full, windows);
          addWorld(folderAt(folderOf(target, windows), folder), full.substr(folder.size()), target);
        } else {
          reportFailure(err_, Failure(target, "is neither a world file nor a folder"));
          found = false;
        }
      } catch (const platform::SystemError& e) {
        reportFailure(err_, Failure(target, e.what()));
        found = false;
      }
    }
    return found;
  }

  // The folder `full` (shown as `shown`), watched already or from now on: its index.
  size_t folderAt(const std::string& shown, std::string full) {
    // One folder, whether named with a separator at its end or not.
    while (full.size() > 1 && (full.back() == '/' || (platform::kWindowsFileNames && full.back() == '\\'))) {
      full.pop_back();
    }
    for (size_t folder = 0; folder < folders_.size(); ++folder) {
      if (sameName(folders_[folder].full) == sameName(full)) return folder;
    }
    folders_.push_back(Folder{shown, full.empty() ? "." : full});
    return folders_.size() - 1;
  }

  // The world files in folder `folder`, by name; false, with an error line,
  // when it cannot be listed.
  bool listWorlds(size_t folder, std::vector<std::string>& names) {
    namespace fs = std::filesystem;
    std::error_code error;
    for (fs::directory_iterator it(fs::u8path(folders_[folder].full), error), end;
         !error && it != end; it.increment(error)) {
      const std::string name = it->path().filename().u8string();
      if (isWorldName(name)) names.push_back(name);
    }
    if (error) {
      reportFailure(err_, Failure(folders_[folder].shown.empty() ? "." : folders_[folder].shown,
                                  "cannot list it: " + error.message()));
      return false;
    }
    std::sort(names.begin(), names.end());
    return true;
  }

  // The world `name` in folder `folder` (named `shown`, if it was named), added
  // to the run unless it is there already: its index.
  size_t addWorld(size_t folder, const std::string& name, const std::string& shown = "") {
    const auto known = worldAt_.find({folder, name});
    if (known != worldAt_.end()) return known->second;
    const size_t world = run_.addWorld(shown.empty() ? inFolder(folders_[folder].shown, name) : shown);
    worldAt_[{folder, name}] = world;
    fullPaths_.push_back(inFolder(folders_[folder].full, name));
    // Not yet seen: a world that a look finds is written, and due its first map.
    stamps_.push_back(std::nullopt);
    admitted_.push_back(false);
    return world;
  }

  // What the system told of a change in a watched folder.
  void told(const platform::FolderChange& change, WatchClock::time_point now) {
    if (change.kind == platform::FolderChange::kUnknown) {
      if (folders_[change.folder].every) findNew(change.folder);
      for (const auto& [where, world] : worldAt_) {
        if (where.first == change.folder) settler_.written(world, now);
      }
      return;
    }
    auto known = worldAt_.find({change.folder, change.name});
    if (known == worldAt_.end()) {
      if (change.kind == platform::FolderChange::kRemoved || !folders_[change.folder].every ||
          !isWorldName(change.name) || !newWorld(change.folder, change.name)) {
        return;
      }
      known = worldAt_.find({change.folder, change.name});
    }
    switch (change.kind) {
      case platform::FolderChange::kWriting: settler_.writing(known->second, now); break;
      case platform::FolderChange::kWritten: settler_.written(known->second, now); break;
      default: settler_.removed(known->second); break;
    }
  }

  // A world found in a watched folder, added to the watch; it is mapped once
  // its save is over, unless its map would be another world's. Whether it was
  // added.
  bool newWorld(size_t folder, const std::string& name) {
    if (refused_.count({folder, name})) return false;
    addWorld(folder, name);
    return true;
  }

  // Whether world `world`, found after the start, may be mapped: not when its
  // map would be another world's (a warning, once; it is no longer watched).
  bool admitted(size_t world) {
    if (admitted_[world]) return true;
    const std::optional<Run::OutputPath> map = run_.mapOf(world);
    for (size_t other = 0; map && other < run_.worlds().size(); ++other) {
      if (other == world || !fullPaths_[other].size()) continue;
      const std::optional<Run::OutputPath> theirs = run_.mapOf(other);
      if (theirs && sameName(theirs->file) == sameName(map->file)) {
        reportWarning(err_, run_.worlds()[world], "its map, " + map->path + ", would be " +
                                                      run_.worlds()[other] + "'s too; it is not watched");
        for (auto it = worldAt_.begin(); it != worldAt_.end(); ++it) {
          if (it->second != world) continue;
          refused_.insert(it->first);
          worldAt_.erase(it);
          break;
        }
        fullPaths_[world].clear();
        settler_.removed(world);
        return false;
      }
    }
    admitted_[world] = true;
    return true;
  }

  // Worlds saved into folder `folder` that are new to the watch.
  void findNew(size_t folder) {
    std::vector<std::string> names;
    if (!listWorlds(folder, names)) return;
    for (const std::string& name : names) {
      if (!worldAt_.count({folder, name})) newWorld(folder, name);
    }
  }

  // Looks at the folders whose changes are not told: a world whose size or
  // time changed has been written.
  void look(WatchClock::time_point now) {
    for (size_t folder = 0; folder < folders_.size(); ++folder) {
      if (folders_[folder].polled && folders_[folder].every) findNew(folder);
    }
    for (const auto& [where, world] : worldAt_) {
      if (!folders_[where.first].polled) continue;
      const std::optional<Stamp> now_ = stampOf(fullPaths_[world]);
      if (now_ && !(stamps_[world] && *stamps_[world] == *now_)) {
        stamps_[world] = now_;
        settler_.written(world, now);
      }
    }
  }

  // Maps world `world` again, if its writers have let it go (else it waits
  // another settle) and it is there; from what it holds now, and only if it
  // does not change while it is read.
  void render(size_t world) {
    const std::string& path = fullPaths_[world];
    if (path.empty()) return;  // refused
    if (!platform::writersDone(path)) {
      settler_.written(world, WatchClock::now());
      return;
    }
    const std::optional<Stamp> before = stampOf(path);
    if (!before || !admitted(world)) return;  // gone, its map kept; or refused
    stamps_[world] = before;
    run_.refreshWorlds();
    run_.mapWorld(world, [&] { return stampOf(path) == before; });
  }

  Run& run_;
  const Pace pace_;
  Settler settler_;
  std::vector<Folder> folders_;
  std::map<std::pair<size_t, std::string>, size_t> worldAt_;  // (folder, name) to world
  std::set<std::pair<size_t, std::string>> refused_;  // worlds found whose maps were another's
  std::vector<bool> admitted_;  // by world: its map differs from the others' (those of the start do)
  std::vector<std::string> fullPaths_;  // by world; empty once refused
  std::vector<std::optional<Stamp>> stamps_;  // by world: as last seen
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
         "       wldmap --watch [--html] [--into FOLDER] [--settle SECONDS]\n"
         "                      [--poll SECONDS] WORLD_OR_FOLDER ...\n"
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
         "  --into FOLDER  write the maps and pages into FOLDER, not beside the worlds;\n"
         "                 two worlds whose maps would be one file there are refused\n"
         "                 before anything is written\n"
         "  --watch        keep the maps (and with --html the pages) current: map each\n"
         "                 world named and each *.wld of each folder named, then again\n"
         "                 once each save of it is over, until Ctrl+C or a signal\n"
         "                 (status 0); no waiting for Enter\n"
         "  --settle SECONDS  with --watch, how long a save must be quiet first (2)\n"
         "  --poll SECONDS    with --watch, how often folders whose changes the system\n"
         "                 does not tell (network shares, FUSE) are looked at (5)\n"
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
  // The options come before the worlds, in any order.
  Extras extras;
  Pace pace;
  bool watching = false, paced = false, wrong = false;
  size_t first = 1;
  for (; first < args.size() && !wrong; ++first) {
    const std::string& option = args[first];
    if (option == "--html") {
      extras.page = true;
    } else if (option == "--open") {
      extras.open = true;
    } else if (option == "--watch") {
      watching = true;
    } else if (option == "--into" || option == "--settle" || option == "--poll") {
      if (++first == args.size()) {
        wrong = true;
      } else if (option == "--into") {
        extras.into = args[first];
        wrong = extras.into.empty();
      } else {
        paced = true;
        const std::optional<std::chrono::milliseconds> time = secondsOf(args[first]);
        wrong = !time || (option == "--poll" && time->count() == 0);
        (option == "--settle" ? pace.settle : pace.poll) = time.value_or(pace.poll);
      }
    } else {
      break;
    }
  }
  const bool asked = first < args.size();
  if (wrong || !asked || (extras.open && (!extras.page || watching)) || (paced && !watching)) {
    err << "usage: wldmap " << (watching ? kWatchOperands : kPageOperands) << std::endl;
    return watching ? 1 : finish(1);
  }
  const std::vector<std::string> worlds(args.begin() + static_cast<std::ptrdiff_t>(first),
                                        args.end());
  std::vector<std::string> namesCandidates =
      namesFileCandidates(platform::userConfigFolder(), colorCandidates);
  std::optional<Run> run;
  try {
    run.emplace(watching ? std::vector<std::string>() : worlds, std::move(colorCandidates),
                std::move(namesCandidates), extras, out, err);
    if (!extras.into.empty()) {
      const platform::InputFile folder(run->intoFull());
      if (!folder.isFolder()) throw Failure(extras.into, "is not a folder");
    }
  } catch (const platform::SystemError& e) {
    reportFailure(err, Failure(extras.into, e.what()));
    return watching ? 2 : finish(2);
  } catch (const Failure& failure) {
    reportFailure(err, failure);
    return watching ? 2 : finish(2);
  }
  // A watch never waits for Enter: it is stopped, by Ctrl+C or a signal.
  if (watching) return Watch(*run, pace, out, err).watch(worlds);
  // Every map in one folder: two worlds of one name are refused before either is written.
  if (!extras.into.empty() && !mapsDiffer(*run, err)) return finish(2);
  bool allWritten = true;
  for (size_t i = 0; i < worlds.size(); ++i) allWritten = run->mapWorld(i) && allWritten;
  return finish(allWritten ? 0 : 2);
}

bool waitsForEnter(int argc, char** argv) {
  if (argc < 2) return true;
  const std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "--version" || first == "--thumbnail") {
    return false;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--watch") return false;
    if (option == "--into" || option == "--settle" || option == "--poll") ++i;
    else if (option != "--html" && option != "--open") break;
  }
  return true;
}

}  // namespace wldmap
