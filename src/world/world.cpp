#include "world/world.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "platform/platform.h"

namespace wldmap {

namespace {

// Room for width x height tiles, uninitialised: whoever fills it writes every one.
LargeArray<Tile> tileBlock(int32_t width, int32_t height, Populate populate) {
  return makeLargeArray<Tile>(
      checkedProduct(static_cast<size_t>(width), static_cast<size_t>(height)), populate);
}

}  // namespace

TileGrid::TileGrid(int32_t width, int32_t height)
    : width_(width), height_(height), tiles_(tileBlock(width, height, Populate::kNow)) {}

TileGrid::TileGrid(int32_t width, int32_t height, LargeArray<Tile> tiles, uint8_t largestWall)
    : width_(width), height_(height), largestWall_(largestWall), tiles_(std::move(tiles)) {}

namespace {

// The fixed part of the header around the name, in bytes.
constexpr int kBeforeName = 5;       // 4 discarded bytes and the name length
constexpr int kAfterName = 100;      // skip 20, height, width, skip 8, levels, skip 48
constexpr uint64_t kMinCellBytes = 4;  // an empty cell: active, auxFlag, wall and liquid flags
constexpr size_t kMaxCellBytes = 12;   // active, type, aux1, aux2, auxFlag, wall, liquid, lava

int32_t readInt32(const unsigned char* p) {
  uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  return static_cast<int32_t>(v);
}

double readDouble(const unsigned char* p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = bits << 8 | p[i];
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

int16_t readInt16(const unsigned char* p) {
  return static_cast<int16_t>(uint16_t(p[0]) | uint16_t(p[1]) << 8);
}

// Reads exactly n bytes or reports where the header ends.
void readExactly(std::istream& in, unsigned char* out, size_t n, uint64_t offset) {
  in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
  if (in.bad()) throw WorldError("cannot read it");
  if (static_cast<size_t>(in.gcount()) != n) {
    throw WorldError("file ends inside the header (at byte " +
                     std::to_string(offset + static_cast<uint64_t>(in.gcount())) +
                     ", the header needs " + std::to_string(offset + n) + ")");
  }
}

// Bytes between the current position and the end of a stream whose size is not
// known, found by seeking to its end and back.
uint64_t bytesLeft(std::istream& in) {
  const std::streampos here = in.tellg();
  if (here == std::streampos(-1) || !in.seekg(0, std::ios::end)) {
    throw WorldError("cannot tell the file's size (not a regular file?)");
  }
  const std::streampos end = in.tellg();
  in.seekg(here);
  if (end == std::streampos(-1) || !in) throw WorldError("cannot tell the file's size");
  return static_cast<uint64_t>(end - here);
}

}  // namespace

WorldHeader readHeader(std::istream& in, std::optional<uint64_t> size) {
  unsigned char start[kBeforeName];
  readExactly(in, start, kBeforeName, 0);
  const unsigned nameLength = start[4];
  if (nameLength >= 128) {
    throw WorldError("name length byte is " + std::to_string(nameLength) +
                     "; a world name holds at most 127 bytes");
  }
  unsigned char rest[127 + kAfterName];
  readExactly(in, rest, nameLength + kAfterName, kBeforeName);

  WorldHeader header;
  // The name is a zero-terminated string: a zero byte inside it ends it.
  const char* name = reinterpret_cast<const char*>(rest);
  header.name.assign(name, strnlen(name, nameLength));
  const unsigned char* values = rest + nameLength + 20;
  header.height = readInt32(values);
  header.width = readInt32(values + 4);
  header.surfaceLevel = readDouble(values + 16);
  header.rockLevel = readDouble(values + 24);

  if (header.width <= 0 || header.height <= 0) {
    throw WorldError("world size " + std::to_string(header.width) + " x " +
                     std::to_string(header.height) +
                     " is not valid; width and height must be at least 1");
  }
  const uint64_t cells = uint64_t(header.width) * uint64_t(header.height);
  const uint64_t headerBytes = kBeforeName + nameLength + kAfterName;
  const uint64_t left = !size                 ? bytesLeft(in)
                        : *size > headerBytes ? *size - headerBytes
                                              : 0;
  if (cells > left / kMinCellBytes) {
    throw WorldError("header declares " + std::to_string(header.width) + " x " +
                     std::to_string(header.height) + " cells, but only " +
                     std::to_string(left) + " bytes follow the header (each cell takes at least " +
                     std::to_string(kMinCellBytes) + ")");
  }
  return header;
}

namespace {

// Runs a job on its own thread, joined when the helper goes out of scope, also
// when the scope is left by an exception.
class Helper {
 public:
  explicit Helper(std::function<void()> job) : thread_(platform::startThread(std::move(job))) {}
  ~Helper() { thread_.join(); }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

 private:
  std::thread thread_;
};

// Buffered forward reader: the tile stream is decoded from large chunks rather
// than with one stream call per field. This is the tile bytes' one buffer: each
// refill asks for more than an input stream buffers, which such a stream reads
// straight into it, so only the bytes already buffered behind the header are
// copied from the stream's own buffer.
class ChunkReader {
 public:
  explicit ChunkReader(std::istream& in)
      : in_(in), buffer_(new unsigned char[kTileChunkBytes]), end_(buffer_.get()) {}

  // Keeps the bytes from p on and appends more from the stream, as many as fit.
  // Returns the new position of p; end() tells how far the bytes go.
  const unsigned char* refill(const unsigned char* p) {
    const size_t kept = static_cast<size_t>(end_ - p);
    unsigned char* base = buffer_.get();
    std::memmove(base, p, kept);
    in_.read(reinterpret_cast<char*>(base + kept),
             static_cast<std::streamsize>(kTileChunkBytes - kept));
    // A failed read is no end of the file, whatever it left in the buffer.
    if (in_.bad()) throw WorldError("cannot read it");
    end_ = base + kept + static_cast<size_t>(in_.gcount());
    return base;
  }
  const unsigned char* end() const { return end_; }

 private:
  std::istream& in_;
  std::unique_ptr<unsigned char[]> buffer_;  // left uninitialised: read() fills it
  const unsigned char* end_;
};

// Decodes one cell starting at p into t and returns the byte after it. At least
// kMaxCellBytes must be readable from p. Every field is written, so the fields the
// file does not carry read as zero.
inline const unsigned char* decodeCell(const unsigned char* p, const bool* aux, Tile& t,
                                       unsigned char& largestWall) {
  Tile c{};
  if (p[0] != 0) {
    c.active = true;
    c.type = static_cast<int8_t>(p[1]);
    if (aux[p[1]]) {
      c.aux1 = readInt16(p + 2);
      c.aux2 = readInt16(p + 4);
      p += 6;
    } else {
      p += 2;
    }
  } else {
    p += 1;
  }
  c.auxFlag = p[0];
  if (p[1] != 0) {
    c.wall = static_cast<int8_t>(p[2]);
    largestWall = std::max(largestWall, p[2]);
    p += 3;
  } else {
    p += 2;
  }
  if (p[0] != 0) {
    c.liquid = p[1];
    c.lava = p[2] != 0;
    p += 3;
  } else {
    p += 1;
  }
  t = c;
  return p;
}

// Decodes width x height cells from `reader` into `tiles`, column by column, and
// returns the largest wall byte among them.
unsigned char decodeTiles(ChunkReader& reader, const WorldHeader& header, Tile* tiles) {
  // One flag per stored type byte, so the hot loop indexes instead of range-checking.
  bool aux[256];
  for (int type = 0; type < 256; ++type) aux[type] = hasAux(type);
  // Bytes that must be readable at a cell: the longest cell.
  constexpr size_t kLookahead = kMaxCellBytes;
  unsigned char largestWall = 0;
  const unsigned char* p = reader.end();
  for (int32_t x = 0; x < header.width; ++x) {
    Tile* column = tiles + static_cast<size_t>(x) * static_cast<size_t>(header.height);
    for (int32_t y = 0; y < header.height; ++y) {
      if (static_cast<size_t>(reader.end() - p) < kLookahead) {
        p = reader.refill(p);
        const size_t left = static_cast<size_t>(reader.end() - p);
        if (left < kLookahead) {
          // The stream's last bytes: decode a zero-padded copy, then check that
          // the cell did not reach into the padding.
          unsigned char tail[kLookahead] = {};
          std::memcpy(tail, p, left);
          const size_t used =
              static_cast<size_t>(decodeCell(tail, aux, column[y], largestWall) - tail);
          if (used > left) {
            throw WorldError("tile data ends early, inside the cell at column " +
                             std::to_string(x) + ", row " + std::to_string(y) + " of " +
                             std::to_string(header.width) + " x " +
                             std::to_string(header.height));
          }
          p += used;
          continue;
        }
      }
      p = decodeCell(p, aux, column[y], largestWall);
    }
  }
  return largestWall;
}

}  // namespace

TileGrid readTiles(std::istream& in, const WorldHeader& header) {
  LargeArray<Tile> tiles = tileBlock(header.width, header.height, Populate::kByCaller);
  unsigned char largestWall;
  {
    // Fresh pages are zeroed by the system as they are made present, a third of
    // the read on a large world; a helper thread does that ahead of the decoder,
    // on the second core. It never writes to the tiles, so there is nothing to
    // hand over: the decoder takes a page fault on any page it reaches first.
    // It is given the block itself, which stays where it is, and is joined
    // before the block is handed on.
    Tile* const block = tiles.get();
    const size_t bytes = tiles.get_deleter().bytes;
    const Helper populating([block, bytes] { populateLarge(block, bytes); });
    ChunkReader reader(in);
    largestWall = decodeTiles(reader, header, block);
  }
  return TileGrid(header.width, header.height, std::move(tiles), largestWall);
}

}  // namespace wldmap
