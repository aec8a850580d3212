// The run's protection of its files: no output (map or page) is written over a
// world file of the run, nor over an output the run has written for another
// world.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace wldmap {

class OutputGuard {
 public:
  // Resolves each of `worlds` (the paths as given) to its full path and its
  // identity, once and before any map is saved, so that every world file of the
  // run is known and every later call for a world uses its full path, whatever
  // the system makes of a relative one.
  explicit OutputGuard(const std::vector<std::string>& worlds);

  // Resolves the world just added to the run's worlds, as the constructor does.
  void addWorld();
  // Takes each world file's identity anew: a world saved again by a rename,
  // or made anew, is another file than it was.
  void refresh();

  // World `index`'s full path; throws Failure about the world when its path
  // could not be resolved.
  const std::string& fullPath(size_t index) const;

  // Refuses, with a Failure, an output path that names world `index` itself,
  // another world file of the run, or an output this run has written for
  // another world. `path` is the path the messages give, `file` the full one;
  // `kind` names the output in them ("map", "page").
  void checkOutput(size_t index, const std::string& path, const std::string& file,
                   const std::string& kind) const;

  // Records the output (`kind` "map" or "page") just written to `file` for
  // world `index`, in place of the one written for it before.
  void recordOutput(size_t index, const std::string& file, const std::string& kind);

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
