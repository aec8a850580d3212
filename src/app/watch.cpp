#include "app/watch.h"

#include <algorithm>

namespace wldmap {

void Settler::writing(size_t world, WatchClock::time_point now) {
  changed_[world] = Changed{true, now};
}

void Settler::written(size_t world, WatchClock::time_point now) {
  changed_[world] = Changed{false, now};
}

void Settler::removed(size_t world) { changed_.erase(world); }

std::vector<size_t> Settler::due(WatchClock::time_point now) {
  std::vector<size_t> ready;
  for (auto it = changed_.begin(); it != changed_.end();) {
    if (now >= dueAt(it->second)) {
      ready.push_back(it->first);
      it = changed_.erase(it);
    } else {
      ++it;
    }
  }
  return ready;
}

std::optional<std::chrono::milliseconds> Settler::untilNext(WatchClock::time_point now) const {
  std::optional<std::chrono::milliseconds> next;
  for (const auto& [world, change] : changed_) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(dueAt(change) - now);
    const auto wait = std::max(left, std::chrono::milliseconds(0));
    if (!next || wait < *next) next = wait;
  }
  return next;
}

}  // namespace wldmap
