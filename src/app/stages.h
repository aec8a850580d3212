// The stages a map and a thumbnail share: reading a world and reading the
// colour table, each failure reported about the one file it concerns.
#pragma once

#include <memory>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "colors/colors.h"
#include "platform/platform.h"
#include "render/thumbnail.h"
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

// Runs `step`; what it throws because of the file (a failed call, a damaged
// world, no memory) is reported as a failure about `file`. A logic error is no
// fault of the file: it passes through as the bug it is.
template <typename Step>
auto about(const std::string& file, Step step) -> decltype(step()) {
  try {
    return step();
  } catch (const Failure&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw Failure(file, "not enough memory");
  } catch (const std::runtime_error& e) {
    throw Failure(file, e.what());
  }
}

// The line a failure is reported with: "error: <file>: <what>".
void reportFailure(std::ostream& err, const Failure& failure);

// The line a warning is reported with: "warning: <file>: <what>".
void reportWarning(std::ostream& err, const std::string& file, const std::string& what);

// A world file open for reading, its header read.
class WorldFile {
 public:
  // Opens the world file given as `path` through its full path `file`, refuses
  // anything but a regular file, and reads the header. Throws Failure about
  // `path`.
  WorldFile(const std::string& path, const std::string& file);
  ~WorldFile();

  const WorldHeader& header() const { return header_; }
  // Reads the world's cells, as the reader does, and closes the file. Throws
  // Failure about the world.
  TileGrid readGrid();
  // The world's thumbnail, as readThumbnail makes it from the cells, and closes
  // the file. Throws Failure about the world.
  BoxMeans readThumbnail(const TileColorTable& colors, uint32_t size);

 private:
  const std::string path_;
  WorldHeader header_;
  std::unique_ptr<platform::InputFile> file_;
  std::unique_ptr<WorldReader> reader_;
};

// The places tilecolors.txt is looked for, in order and without repeats: the
// folder the tool was started from, then each of `dataFolders`.
std::vector<std::string> colorFileCandidates(const std::string& toolFolder,
                                             const std::vector<std::string>& dataFolders);

// The colour table from the first of `candidates` that exists; the file's
// warnings go to `warnings`, when there is one. Throws Failure.
TileColorTable readColors(const std::vector<std::string>& candidates, std::ostream* warnings);

}  // namespace wldmap
