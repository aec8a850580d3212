#include "app/map_guard.h"

#include "app/failure.h"
#include "platform/platform.h"

namespace wldmap {

MapGuard::MapGuard(const std::vector<std::string>& worlds) : worlds_(worlds) {
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

const std::string& MapGuard::fullPath(size_t index) const {
  const Resolved& world = resolved_[index];
  if (!world.failure.empty()) throw Failure(worlds_[index], world.failure);
  return world.fullPath;
}

void MapGuard::checkMapPath(size_t index, const std::string& mapPath, const std::string& mapFile,
                            const std::string& kind) const {
  const std::optional<platform::FileId> map = platform::fileId(mapFile);
  if (!map) return;  // a new file: nothing is written over
  const std::string& world = worlds_[index];
  if (map == resolved_[index].id) {
    throw outputIsTheWorld(mapPath, kind);
  }
  for (const Resolved& other : resolved_) {
    if (other.id == map) {
      throw Failure(world, "its " + kind + " " + mapPath +
                               " is another world file of this run; it is kept, and no " + kind +
                               " is written");
    }
  }
  for (const auto& [written, earlier] : written_) {
    if (written == *map) {
      throw Failure(world, "its " + kind + " " + mapPath + " was already written for " +
                               earlier + " in this run; it is kept");
    }
  }
}

void MapGuard::recordMap(size_t index, const std::string& mapFile) {
  if (const std::optional<platform::FileId> written = platform::fileId(mapFile)) {
    written_.emplace_back(*written, worlds_[index]);
  }
}

}  // namespace wldmap
