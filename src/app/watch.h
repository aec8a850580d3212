// When a watched world is due to be mapped again: once a save of it is over
// (its writer let it go) and it has been quiet for a while since.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <vector>

namespace wldmap {

using WatchClock = std::chrono::steady_clock;

// Keeps, for each world that changed, whether a writer may still be writing
// it and when it last changed; a world becomes due `settle` after its last
// change, or, while a writer may still be writing it, kOpenFor settles after:
// a writer that stopped without letting go (one that crashed) is not waited
// for without end. A world is forgotten once it is due or removed, so nothing
// is kept for worlds at rest.
class Settler {
 public:
  explicit Settler(std::chrono::milliseconds settle) : settle_(settle) {}

  // How many settles a world still open for writing is waited for.
  static constexpr int kOpenFor = 15;

  // World `world` is being written (and may stay open for writing), at `now`.
  void writing(size_t world, WatchClock::time_point now);
  // World `world` was written whole (closed after writing, renamed into
  // place, or seen changed by looking), at `now`.
  void written(size_t world, WatchClock::time_point now);
  // World `world` is gone: nothing is due for it until it is written again.
  void removed(size_t world);
  // The worlds due at `now`, in order; they are then at rest.
  std::vector<size_t> due(WatchClock::time_point now);
  // How long until the next world may be due; nullopt when none may.
  std::optional<std::chrono::milliseconds> untilNext(WatchClock::time_point now) const;

 private:
  struct Changed {
    bool open;                     // a writer may still be writing it
    WatchClock::time_point last;   // its last change
  };
  // When a world changed at `last` is due.
  WatchClock::time_point dueAt(const Changed& change) const {
    return change.last + (change.open ? kOpenFor * settle_ : settle_);
  }

  const std::chrono::milliseconds settle_;
  std::map<size_t, Changed> changed_;
};

}  // namespace wldmap
