#include "app/output_guard.h"

#include "app/failure.h"
#include "platform/platform.h"

namespace wldmap {

OutputGuard::Resolved OutputGuard::resolve(const std::string& world) {
  Resolved entry;
  try {
    entry.fullPath = platform::fullPath(world);
    entry.id = platform::fileId(entry.fullPath);
  } catch (const platform::SystemError& e) {
    entry.failure = e.what();
  }
  return entry;
}

OutputGuard::OutputGuard(const std::vector<std::string>& worlds) : worlds_(worlds) {
  for (const std::string& world : worlds_) resolved_.push_back(resolve(world));
}

void OutputGuard::addWorld() { resolved_.push_back(resolve(worlds_[resolved_.size()])); }

void OutputGuard::refresh() {
  for (Resolved& world : resolved_) {
    if (world.failure.empty()) world.id = platform::fileId(world.fullPath);
  }
}

const std::string& OutputGuard::fullPath(size_t index) const {
  const Resolved& world = resolved_[index];
  if (!world.failure.empty()) throw Failure(worlds_[index], world.failure);
  return world.fullPath;
}

void OutputGuard::checkOutput(size_t index, const std::string& mapPath, const std::string& mapFile,
                              const std::string& kind) const {
  const std::optional<platform::FileId> map = platform::fileId(mapFile);
  if (!map) return;  // a new file: nothing is written over
  const std::string& world = worlds_[index];
  refuseTheWorldItself(mapPath, map, resolved_[index].id, kind);
  for (const Resolved& other : resolved_) {
    if (other.id == map) {
      throw Failure(world, "its " + kind + " " + mapPath +
                               " is another world file of this run; it is kept, and no " + kind +
                               " is written");
    }
  }
  for (const auto& [of, written] : written_) {
    if (written == *map && of.first != index) {
      throw Failure(world, "its " + kind + " " + mapPath + " was already written for " +
                               worlds_[of.first] + " in this run; it is kept");
    }
  }
}

void OutputGuard::recordOutput(size_t index, const std::string& mapFile, const std::string& kind) {
  if (const std::optional<platform::FileId> written = platform::fileId(mapFile)) {
    written_[{index, kind}] = *written;
  } else {
    written_.erase({index, kind});
  }
}

}  // namespace wldmap
