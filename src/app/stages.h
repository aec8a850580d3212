// The stages a map and a thumbnail share: reading a world and reading the
// colour table, each failure reported about the one file it concerns.
#pragma once

#include <new>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "colors/colors.h"
#include "world/world.h"

namespace wldmap {

// A failure of one world's run, about one file: "error: <file>: <what>".
class Failure : public std::runtime_error {
 public:
  Failure(std::string file, const std::string& what)
      : std::runtime_error(what), file_(std::move(file)) {}
  const std::string& file() const { return file_; }

 private:
  std::string file_;
};

// Runs `step`; whatever it throws is reported as a failure about `file`.
template <typename Step>
auto about(const std::string& file, Step step) -> decltype(step()) {
  try {
    return step();
  } catch (const Failure&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw Failure(file, "not enough memory");
  } catch (const std::exception& e) {
    throw Failure(file, e.what());
  }
}

struct World {
  WorldHeader header;
  TileGrid grid;
};

// Reads the world file given as `path` through its full path `file`; writes
// "Reading world" to `progress`, when there is one, between header and tiles.
// Throws Failure about `path`.
World readWorld(const std::string& path, const std::string& file, std::ostream* progress);

// Reads a world from `in`, a stream of `size` bytes from its start, as
// readWorld does. Throws what the world reader throws.
World decodeWorld(std::istream& in, uint64_t size, std::ostream* progress);

// The places tilecolors.txt is looked for, in order and without repeats: the
// folder the tool was started from, then each of `dataFolders`.
std::vector<std::string> colorFileCandidates(const std::string& toolFolder,
                                             const std::vector<std::string>& dataFolders);

// The colour table from the first of `candidates` that exists; the file's
// warnings go to `warnings`, when there is one. Throws Failure.
TileColorTable readColors(const std::vector<std::string>& candidates, std::ostream* warnings);

}  // namespace wldmap
