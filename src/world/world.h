// The in-memory world and the reader of .wld world files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "model/large_array.h"

namespace wldmap {

// One cell of the world, as decoded from the tile stream. The two 16-bit values
// come first so that the record packs into 10 bytes without padding.
struct Tile {
  int16_t aux1;     // extra values carried only by types marked in typeHasAux
  int16_t aux2;
  bool active;      // the cell holds a tile
  bool lava;        // the liquid is lava rather than water
  uint8_t auxFlag;  // carried by every cell, kept as read
  uint8_t liquid;   // 0 = no liquid
  int8_t type;      // tile type, meaningful only when active
  int8_t wall;      // wall type, 0 = no wall
};

// The reader and renderer stream over millions of these; ten bytes, no padding.
static_assert(sizeof(Tile) == 10, "Tile packs into 10 bytes");

// The header values the tool keeps.
struct WorldHeader {
  std::string name;  // cut at its first zero byte
  int32_t height = 0;
  int32_t width = 0;
  double surfaceLevel = 0;
  double rockLevel = 0;
};

// The tiles, column-major: `width` columns of `height` tiles, each column one
// contiguous run of one block.
class TileGrid {
 public:
  TileGrid() = default;
  // A grid of width x height tiles, uninitialised, for the caller to fill;
  // largestWall() is then 255, the most it can be.
  TileGrid(int32_t width, int32_t height);
  // A grid made of tiles already filled, column-major, no wall byte of which
  // (read as unsigned) is above `largestWall`.
  TileGrid(int32_t width, int32_t height, LargeArray<Tile> tiles, uint8_t largestWall);

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  // The tiles of column x, rows 0..height-1.
  Tile* column(int32_t x) {
    return tiles_.get() + static_cast<size_t>(x) * static_cast<size_t>(height_);
  }
  const Tile* column(int32_t x) const {
    return tiles_.get() + static_cast<size_t>(x) * static_cast<size_t>(height_);
  }
  // The tile at column x, row y.
  const Tile& at(int32_t x, int32_t y) const { return column(x)[y]; }
  // No tile's wall byte, read as unsigned, is above this.
  uint8_t largestWall() const { return largestWall_; }

 private:
  int32_t width_ = 0;
  int32_t height_ = 0;
  uint8_t largestWall_ = 255;
  LargeArray<Tile> tiles_;
};

// A world file that cannot be read; what() says what is wrong with it.
class WorldError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Number of tile types that typeHasAux covers (0..99).
constexpr int kTypeHasAuxSize = 100;

namespace detail {
template <size_t N>
constexpr std::array<bool, kTypeHasAuxSize> markTypes(const std::array<int, N>& types) {
  std::array<bool, kTypeHasAuxSize> marked{};
  for (int type : types) marked[static_cast<size_t>(type)] = true;
  return marked;
}
}  // namespace detail

// The tile types whose cells carry aux1 and aux2 in the file. The world's page
// carries them too, for the tools that write worlds (docs/page-cells.md).
inline constexpr std::array<int, 34> kTypesWithAux = {3,  5,  10, 11, 12, 13, 14, 15, 16, 17, 18,
                                                      20, 21, 24, 26, 27, 28, 29, 31, 33, 34, 35,
                                                      36, 42, 50, 55, 61, 71, 72, 73, 74, 77, 78, 79};

// For each tile type 0..99, whether its cells carry aux1 and aux2 in the file.
// A constant: it needs no set-up before a world is read.
inline constexpr std::array<bool, kTypeHasAuxSize> typeHasAux = detail::markTypes(kTypesWithAux);

// Whether a cell of this type carries aux1 and aux2; false outside 0..99.
constexpr bool hasAux(int type) {
  return type >= 0 && type < kTypeHasAuxSize && typeHasAux[static_cast<size_t>(type)];
}

// Reads up to `count` bytes at the source's position into `out` and returns
// how many it read; 0 only at the source's end. A read that fails throws, and
// is never taken for an end. The one callback between a world's bytes and the
// reader, over a file or a stream alike.
using ReadBytes = std::function<size_t(char* out, size_t count)>;

// The reader's one buffer between the source and the decoder: the cells are
// decoded from chunks of this many bytes, read one after another; a cell may
// straddle two.
constexpr size_t kTileChunkBytes = 256 << 10;  // stays in the second-level cache

// The most cells readRuns hands on at once.
constexpr int32_t kCellRun = 4096;

// Receives cells of column x, rows top..top+count-1; they are valid during the
// call only.
using CellRun = std::function<void(int32_t x, int32_t top, const Tile* cells, int32_t count)>;

// A world file read from one source through one buffer: the header first, then
// the cells, either into a whole grid or in runs handed on as they are decoded.
class WorldReader {
 public:
  // `read` gives the world file's bytes from its start; `size` is how many
  // there are.
  WorldReader(ReadBytes read, uint64_t size);
  ~WorldReader();
  WorldReader(const WorldReader&) = delete;
  WorldReader& operator=(const WorldReader&) = delete;

  // Reads the header; call it once, first. Throws WorldError when the header is
  // cut short, a dimension is not positive, the name length byte is 128 or
  // more, or the declared cells cannot fit in the bytes that follow it; passes
  // on what the source throws.
  const WorldHeader& readHeader();
  // The header readHeader read.
  const WorldHeader& header() const { return header_; }

  // Reads every cell into a grid. Throws WorldError naming the cell where the
  // bytes end early; passes on what the source throws.
  TileGrid readGrid();
  // Reads the cells column by column, top to bottom, handing them to `onRun`
  // in runs of at most kCellRun as they are decoded; the grid is never held.
  // Throws as readGrid does, and what `onRun` throws.
  void readRuns(const CellRun& onRun);

 private:
  class Buffer;
  std::unique_ptr<Buffer> buffer_;
  uint64_t size_;
  WorldHeader header_;
};

}  // namespace wldmap
