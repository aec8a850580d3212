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

}  // namespace

// The reader's one buffer: bytes from the source, kept from where the decoder is
// to as far as the source has been read.
class WorldReader::Buffer {
 public:
  explicit Buffer(ReadBytes read)
      : read_(std::move(read)), data_(new unsigned char[kTileChunkBytes]) {
    p = end = data_.get();
  }

  // Makes at least `wanted` bytes (at most a chunk) readable from p, reading as
  // many as fit; fewer only where the source ends. Returns how many there are.
  size_t fill(size_t wanted) {
    size_t have = static_cast<size_t>(end - p);
    if (have >= wanted) return have;
    unsigned char* base = data_.get();
    std::memmove(base, p, have);
    p = base;
    while (have < wanted && !ended_) {
      const size_t got = read_(reinterpret_cast<char*>(base + have), kTileChunkBytes - have);
      ended_ = got == 0;
      have += got;
    }
    end = base + have;
    return have;
  }

  // Decodes the `count` cells of column x from row `top` on into `out`, and
  // raises `largestWall` to the largest wall byte among them.
  void decodeRun(const WorldHeader& header, const bool* aux, int32_t x, int32_t top,
                 int32_t count, Tile* out, unsigned char& largestWall);

  const unsigned char* p;    // the next byte to decode
  const unsigned char* end;  // the end of the bytes read

 private:
  const ReadBytes read_;
  std::unique_ptr<unsigned char[]> data_;  // left uninitialised: the source fills it
  bool ended_ = false;
};

WorldReader::WorldReader(ReadBytes read, uint64_t size)
    : buffer_(std::make_unique<Buffer>(std::move(read))), size_(size) {}

WorldReader::~WorldReader() = default;

const WorldHeader& WorldReader::readHeader() {
  Buffer& in = *buffer_;
  // Both parts must be there in full, or the message says where the file ends.
  auto need = [&in](size_t bytes) {
    const size_t have = in.fill(bytes);
    if (have < bytes) {
      throw WorldError("file ends inside the header (at byte " + std::to_string(have) +
                       ", the header needs " + std::to_string(bytes) + ")");
    }
  };
  need(kBeforeName);
  const unsigned nameLength = in.p[4];
  if (nameLength >= 128) {
    throw WorldError("name length byte is " + std::to_string(nameLength) +
                     "; a world name holds at most 127 bytes");
  }
  const size_t headerBytes = kBeforeName + nameLength + kAfterName;
  need(headerBytes);

  WorldHeader& header = header_;
  // The name is a zero-terminated string: a zero byte inside it ends it.
  const char* name = reinterpret_cast<const char*>(in.p + kBeforeName);
  header.name.assign(name, strnlen(name, nameLength));
  const unsigned char* values = in.p + kBeforeName + nameLength + 20;
  header.height = readInt32(values);
  header.width = readInt32(values + 4);
  header.surfaceLevel = readDouble(values + 16);
  header.rockLevel = readDouble(values + 24);
  in.p += headerBytes;

  if (header.width <= 0 || header.height <= 0) {
    throw WorldError("world size " + std::to_string(header.width) + " x " +
                     std::to_string(header.height) +
                     " is not valid; width and height must be at least 1");
  }
  const uint64_t cells = uint64_t(header.width) * uint64_t(header.height);
  const uint64_t left = size_ > headerBytes ? size_ - headerBytes : 0;
  if (cells > left / kMinCellBytes) {
    throw WorldError("header declares " + std::to_string(header.width) + " x " +
                     std::to_string(header.height) + " cells, but only " +
                     std::to_string(left) + " bytes follow the header (each cell takes at least " +
                     std::to_string(kMinCellBytes) + ")");
  }
  return header;
}

namespace {

// One flag per stored type byte, so the hot loop indexes instead of range-checking.
struct AuxFlags {
  bool of[256];
  AuxFlags() {
    for (int type = 0; type < 256; ++type) of[type] = hasAux(type);
  }
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

}  // namespace

void WorldReader::Buffer::decodeRun(const WorldHeader& header, const bool* aux, int32_t x,
                                    int32_t top, int32_t count, Tile* out,
                                    unsigned char& largestWall) {
  // Bytes that must be readable at a cell: the longest cell.
  constexpr size_t kLookahead = kMaxCellBytes;
  // Kept in locals: the stores into the tiles could otherwise alias them.
  const unsigned char* at = p;
  const unsigned char* stop = end;
  unsigned char largest = largestWall;
  for (int32_t i = 0; i < count; ++i) {
    if (static_cast<size_t>(stop - at) < kLookahead) {
      p = at;
      const size_t left = fill(kLookahead);
      at = p;
      stop = end;
      if (left < kLookahead) {
        // The source's last bytes: decode a zero-padded copy, then check that
        // the cell did not reach into the padding.
        unsigned char tail[kLookahead] = {};
        std::memcpy(tail, at, left);
        const size_t used = static_cast<size_t>(decodeCell(tail, aux, out[i], largest) - tail);
        if (used > left) {
          throw WorldError("tile data ends early, inside the cell at column " +
                           std::to_string(x) + ", row " + std::to_string(top + i) + " of " +
                           std::to_string(header.width) + " x " + std::to_string(header.height));
        }
        at += used;
        continue;
      }
    }
    at = decodeCell(at, aux, out[i], largest);
  }
  p = at;
  largestWall = largest;
}

TileGrid WorldReader::readGrid() {
  const WorldHeader& header = header_;
  LargeArray<Tile> tiles = tileBlock(header.width, header.height, Populate::kByCaller);
  const AuxFlags aux;
  unsigned char largestWall = 0;
  {
    // Fresh pages are zeroed by the system as they are made present, a third of
    // the read on a large world; a helper thread does that ahead of the decoder,
    // on the second core. It never writes to the tiles, so there is nothing to
    // hand over: the decoder takes a page fault on any page it reaches first.
    // It is given the block itself, which stays where it is, and is joined
    // before the block is handed on.
    Tile* const block = tiles.get();
    const size_t bytes = tiles.get_deleter().bytes;
    const platform::JoinedThread populating([block, bytes] { populateLarge(block, bytes); });
    for (int32_t x = 0; x < header.width; ++x) {
      Tile* column = block + static_cast<size_t>(x) * static_cast<size_t>(header.height);
      buffer_->decodeRun(header, aux.of, x, 0, header.height, column, largestWall);
    }
  }
  return TileGrid(header.width, header.height, std::move(tiles), largestWall);
}

void WorldReader::readRuns(const CellRun& onRun) {
  const WorldHeader& header = header_;
  const AuxFlags aux;
  std::unique_ptr<Tile[]> run(new Tile[size_t(std::min(kCellRun, header.height))]);
  unsigned char largestWall = 0;
  for (int32_t x = 0; x < header.width; ++x) {
    for (int32_t top = 0; top < header.height; top += kCellRun) {
      const int32_t count = std::min(kCellRun, header.height - top);
      buffer_->decodeRun(header, aux.of, x, top, count, run.get(), largestWall);
      onRun(x, top, run.get(), count);
    }
  }
}

}  // namespace wldmap
