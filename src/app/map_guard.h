// The run's protection of its files: no map is written over a world file of the
// run, nor over a map the run has written already.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace wldmap {

class MapGuard {
 public:
  // Resolves each of `worlds` (the paths as given) to its full path and its
  // identity, once and before any map is saved, so that every world file of the
  // run is known and every later call for a world uses its full path, whatever
  // the system makes of a relative one.
  explicit MapGuard(const std::vector<std::string>& worlds);

  // Resolves the world just added to the run's worlds, as the constructor does.
  void addWorld();
  // Takes each world file's identity anew: a world saved again by a rename,
  // or made anew, is another file than it was.
  void refresh();

  // World `index`'s full path; throws Failure about the world when its path
  // could not be resolved.
  const std::string& fullPath(size_t index) const;

  // Refuses, with a Failure, a map path that names world `index` itself, another
  // world file of the run, or a map (or page) this run has written for another
  // world.
  // `mapPath` is the path the messages give, `mapFile` the full one; `kind`
  // names the output in them ("map", "page").
  void checkMapPath(size_t index, const std::string& mapPath, const std::string& mapFile,
                    const std::string& kind = "map") const;

  // Records the map (or page, as `kind` says) just written to `mapFile` for
  // world `index`, in place of the one written for it before.
  void recordMap(size_t index, const std::string& mapFile, const std::string& kind = "map");

 private:
  // A world's full path and identity, or why its path could not be resolved.
  struct Resolved {
    std::string fullPath;
    std::optional<platform::FileId> id;
    std::string failure;
  };

  // Resolves one world's path.
  static Resolved resolve(const std::string& world);

  const std::vector<std::string>& worlds_;
  std::vector<Resolved> resolved_;
  // The last map and page written for each world, by world and kind.
  std::map<std::pair<size_t, std::string>, platform::FileId> written_;
};

}  // namespace wldmap
