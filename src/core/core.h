// What a world becomes, whatever its bytes come from: the one way from a byte
// source (a file, a stream a host hands over, bytes in memory) to the world's
// header and then, in one call, its grid for a map or a page, or its
// thumbnail; and the colour table a module finds beside itself. The command
// line and the file managers' plugins are thin shells over it; the page is
// made from the grid it reads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "colors/colors.h"
#include "render/thumbnail.h"
#include "world/world.h"

namespace wldmap {

namespace platform {
class InputFile;
}

// One world read once from one byte source: the header when it is opened, then
// its cells, as a grid or as a thumbnail, after which the source is released.
// Every call throws WorldError for a damaged world, platform::SystemError for
// a source that cannot be opened or read, and std::bad_alloc.
class WorldSource {
 public:
  // The world whose bytes `read` gives from its start, `size` of them.
  WorldSource(ReadBytes read, uint64_t size);
  // The world file at `path`, opened without waiting on whatever it names;
  // anything but a regular file is refused.
  explicit WorldSource(const std::string& path);
  ~WorldSource();
  WorldSource(WorldSource&&) noexcept;
  WorldSource& operator=(WorldSource&&) noexcept;

  const WorldHeader& header() const { return header_; }
  // When the world file was last written, in seconds since 1970; 0 for a
  // source that is not a file, or where the system does not tell.
  int64_t modified() const { return modified_; }
  // Every cell, for a map or a page.
  TileGrid readGrid();
  // The thumbnail at most `size` pixels a side, the cells painted with
  // `colors` and scaled down as they are read: no grid is held.
  BoxMeans readThumbnail(const TileColorTable& colors, uint32_t size);

 private:
  // Reads the header from `read`.
  void open(ReadBytes read, uint64_t size);
  // Releases the source and the reader's buffer.
  void release();

  std::unique_ptr<platform::InputFile> file_;  // when the source is a file
  std::unique_ptr<WorldReader> reader_;
  WorldHeader header_;
  int64_t modified_ = 0;
};

// The colour table of the colour file at `path`, read as bytes; the file's
// warnings are added to `warnings`. A folder or anything but a regular file is
// refused. Throws platform::SystemError.
TileColorTable loadColorFile(const std::string& path, std::vector<std::string>& warnings);

// The type names of the names file at `path`, read as bytes; the file's bad
// lines are added to `warnings`. A folder or anything but a regular file is
// refused. Throws platform::SystemError.
TypeNames loadNamesFile(const std::string& path, std::vector<std::string>& warnings);

// The colour table in `relativeFolder` (ending in its separator, or empty)
// from the folder of the module (a plugin, a DLL) that holds `address`; none
// when it cannot be found or read. For a host with nobody to tell why.
std::optional<TileColorTable> colorsBesideModule(const void* address,
                                                 const std::string& relativeFolder);

}  // namespace wldmap
