#include "world/world.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>

#include "worldwriter/worldwriter.h"

namespace wldmap {
namespace {

class WorldTest : public ::testing::Test {
 protected:
  static WorldHeader header(int32_t width, int32_t height, const std::string& name = "World") {
    return makeHeader(name, width, height, 12.5, 40.25);
  }

  // Reads a whole world from bytes.
  static TileGrid readAll(const std::string& bytes, WorldHeader* out = nullptr) {
    WorldReader reader(readBytesOf(bytes), bytes.size());
    const WorldHeader& h = reader.readHeader();
    if (out) *out = h;
    return reader.readGrid();
  }

  // Reads only the header of a world's bytes.
  static WorldHeader headerOf(const std::string& bytes) {
    WorldReader reader(readBytesOf(bytes), bytes.size());
    return reader.readHeader();
  }

  // The tile the reader must make of a written one: every field the file carries,
  // and zero for those it does not (the type and extra values of an empty cell, the
  // extra values of an unmarked type, the lava flag of a cell without liquid).
  static Tile asRead(Tile t) {
    if (!t.active) t.type = 0;
    if (!t.active || !hasAux(t.type)) t.aux1 = t.aux2 = 0;
    if (t.liquid == 0) t.lava = false;
    return t;
  }

  // Whether every field of `got` is what reading `written` must give.
  static bool readsAs(const Tile& written, const Tile& got) {
    const Tile want = asRead(written);
    auto fields = [](const Tile& t) {
      return std::make_tuple(t.active, t.type, t.aux1, t.aux2, t.auxFlag, t.wall, t.liquid,
                             t.lava);
    };
    return fields(want) == fields(got);
  }
};

// Which types carry two extra 16-bit values, one character per type 0..99 ('x'
// marks them), checked by decoding cells encoded here byte by byte: a marked type
// whose extra bytes the reader skipped, or an unmarked one whose following bytes
// it swallowed, would decode the sentinel cell after it wrongly.
TEST_F(WorldTest, ExtraValuesFollowExactlyTheMarkedTypes) {
  const std::string marked =
      "...x.x....xxxxxxxxx.xx..x.xxxx.x.xxxx....."  // 0..41
      "x.......x....x.....x.........xxxx..xxx...."  // 42..83
      "................";                           // 84..99
  ASSERT_EQ(100u, marked.size());
  std::string bytes = encodeHeader(header(100, 2));
  for (int type = 0; type < 100; ++type) {
    bytes += {'\x01', char(type)};                   // active, type
    if (marked[type] == 'x') bytes += "\x34\x12\xcd\xab";  // aux1 0x1234, aux2 0xabcd
    bytes += {'\x07', '\x00', '\x00'};                // auxFlag, no wall, no liquid
    bytes += {'\x00', '\x09', '\x01', '\x05', '\x00'};  // sentinel: inactive, wall 5
  }
  const TileGrid grid = readAll(bytes);
  for (int type = 0; type < 100; ++type) {
    SCOPED_TRACE(type);
    EXPECT_EQ(marked[type] == 'x', hasAux(type));
    const Tile& cell = grid.at(type, 0);
    EXPECT_EQ(type, cell.type);
    EXPECT_EQ(7, cell.auxFlag);
    if (marked[type] == 'x') {
      EXPECT_EQ(0x1234, cell.aux1);
      EXPECT_EQ(int16_t(0xabcd), cell.aux2);
    }
    EXPECT_EQ(9, grid.at(type, 1).auxFlag);
    EXPECT_EQ(5, grid.at(type, 1).wall);
  }
  // Outside the table's range nothing is marked.
  for (int type : {-128, -1, 100, 127, 200}) EXPECT_FALSE(hasAux(type)) << type;
}

TEST_F(WorldTest, HeaderValuesAndNames) {
  for (const std::string& name :
       {std::string(), std::string("H"), std::string("Home"), std::string(127, 'n')}) {
    WorldHeader read;
    const TileGrid grid = readAll(encodeWorld(header(2, 3, name), std::vector<Tile>(6)), &read);
    EXPECT_EQ(name, read.name);
    EXPECT_EQ(2, read.width);
    EXPECT_EQ(3, read.height);
    EXPECT_EQ(12.5, read.surfaceLevel);
    EXPECT_EQ(40.25, read.rockLevel);
    EXPECT_EQ(2, grid.width());
    EXPECT_EQ(3, grid.height());
  }
}

TEST_F(WorldTest, HeightIsStoredBeforeWidthAtFixedOffsets) {
  std::string bytes = encodeWorld(header(1, 1, ""), {makeTile(false, 0, 0, 0, false)});
  // Empty name: the 20 skipped bytes start at offset 5, height at 25, width at 29.
  const int32_t height = 1, width = 1;
  EXPECT_EQ(0, std::memcmp(bytes.data() + 25, &height, 4));
  EXPECT_EQ(0, std::memcmp(bytes.data() + 29, &width, 4));
  EXPECT_EQ(105u + 4u, bytes.size());
}

TEST_F(WorldTest, NameIsCutAtItsFirstZeroByte) {
  WorldHeader read;
  readAll(encodeWorld(header(1, 1, std::string("Ho\0me", 5)), std::vector<Tile>(1)), &read);
  EXPECT_EQ("Ho", read.name);
}

TEST_F(WorldTest, RejectsNameLengthOf128OrMore) {
  // The length byte is signed in the format: 128 to 255 are negative lengths.
  for (size_t length : {128, 130, 255}) {
    std::string bytes = encodeWorld(header(1, 1, std::string(length, 'x')), std::vector<Tile>(1));
    EXPECT_THROW(headerOf(bytes), WorldError) << length;
  }
}

TEST_F(WorldTest, RejectsEveryTruncatedHeader) {
  const std::string bytes = encodeWorld(header(1, 1, "Name"), std::vector<Tile>(1));
  for (size_t length = 0; length < 105 + 4; ++length) {
    EXPECT_THROW(headerOf(bytes.substr(0, length)), WorldError) << "length " << length;
  }
  // The message says where the file ends and how far the header goes: at both
  // ends of the fixed start and of the rest.
  for (auto [length, needs] : {std::pair{0, 5}, {4, 5}, {5, 109}, {108, 109}}) {
    try {
      headerOf(bytes.substr(0, size_t(length)));
      ADD_FAILURE() << "length " << length;
    } catch (const WorldError& e) {
      EXPECT_EQ("file ends inside the header (at byte " + std::to_string(length) +
                    ", the header needs " + std::to_string(needs) + ")",
                e.what());
    }
  }
}

TEST_F(WorldTest, RejectsDimensionsThatAreNotPositive) {
  for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {-1, 5}, {5, -3}, {INT32_MIN, INT32_MIN}}) {
    EXPECT_THROW(headerOf(encodeHeader(header(w, h)) + std::string(1000, '\0')), WorldError)
        << w << " x " << h;
  }
}

TEST_F(WorldTest, RejectsCellsThatCannotFitInTheFile) {
  // Four bytes a cell at least: 2 x 2 cells need 16 bytes after the header.
  EXPECT_NO_THROW(headerOf(encodeHeader(header(2, 2)) + std::string(16, '\0')));
  EXPECT_THROW(headerOf(encodeHeader(header(2, 2)) + std::string(15, '\0')), WorldError);
  // A product that overflows 32 or 64-bit arithmetic done carelessly.
  EXPECT_THROW(headerOf(encodeHeader(header(INT32_MAX, INT32_MAX)) + std::string(64, '\0')),
               WorldError);
  EXPECT_THROW(headerOf(encodeHeader(header(65536, 65536)) + std::string(64, '\0')), WorldError);
}

TEST_F(WorldTest, CellEncodingsTakeTheirDocumentedSizes) {
  std::string one;
  appendCell(one, makeTile(false, 0, 0, 0, false));
  EXPECT_EQ(4u, one.size());
  std::string marked;
  appendCell(marked, makeTile(true, 3, 1, 255, true));
  EXPECT_EQ(12u, marked.size());
  std::string unmarked;
  appendCell(unmarked, makeTile(true, 4, 1, 255, true));
  EXPECT_EQ(8u, unmarked.size());
}

TEST_F(WorldTest, DecodesEveryKindOfCellInColumnMajorOrder) {
  std::vector<Tile> cells = {
      makeTile(false, 0, 0, 0, false),  makeTile(true, 3, 1, 255, true), makeTile(true, 4, 2, 17, false),
      makeTile(true, 150, 0, 0, false),  // type outside 0..99: no aux values follow
      makeTile(true, -56, 200 - 256, 0, false), makeTile(true, 79, 13, 1, false),
  };
  cells[1].aux1 = -2;
  cells[1].aux2 = 0x1234;
  cells[1].auxFlag = 9;
  cells[5].aux1 = 7;
  WorldHeader h;
  const TileGrid grid = readAll(encodeWorld(header(2, 3), cells), &h);
  for (int x = 0; x < 2; ++x) {
    for (int y = 0; y < 3; ++y) {
      EXPECT_TRUE(readsAs(cells[x * 3 + y], grid.at(x, y))) << x << "," << y;
    }
  }
  EXPECT_EQ(-56, grid.at(1, 1).wall);  // a stored wall byte of 200
  // The reader notes the largest wall byte, so that a pass looking for unusual
  // walls can skip worlds without any; the last cell is decoded apart from the rest.
  EXPECT_EQ(200, grid.largestWall());
  cells = {makeTile(false, 0, 3, 0, false), makeTile(false, 0, 14, 0, false)};
  EXPECT_EQ(14, readAll(encodeWorld(header(1, 2), cells)).largestWall());
}

TEST_F(WorldTest, FlagsOfZeroClearTheirFields) {
  // Hand-made bytes: a wall flag of 0 and a liquid flag of 0 after an active cell,
  // then a liquid flag set with a liquid byte of 0 and a non-zero lava byte.
  std::string bytes = encodeHeader(header(1, 2));
  bytes += std::string("\x01\x04\x00\x00\x00", 5);
  bytes += std::string("\x00\x00\x00\x01\x00\x05", 6);
  const TileGrid grid = readAll(bytes);
  EXPECT_EQ(0, grid.at(0, 0).wall);
  EXPECT_EQ(0, grid.at(0, 0).liquid);
  EXPECT_FALSE(grid.at(0, 0).lava);
  EXPECT_EQ(0, grid.at(0, 1).liquid);
  EXPECT_TRUE(grid.at(0, 1).lava);
}

TEST_F(WorldTest, IgnoresBytesAfterTheLastCell) {
  std::string bytes = encodeWorld(header(1, 1), {makeTile(true, 1, 0, 0, false)}) + "trailing junk";
  EXPECT_EQ(1, readAll(bytes).at(0, 0).type);
}

TEST_F(WorldTest, RejectsEveryTruncatedTileStream) {
  std::vector<Tile> cells = {makeTile(true, 3, 1, 255, true), makeTile(false, 0, 2, 0, false),
                             makeTile(true, 4, 0, 9, false), makeTile(false, 0, 0, 0, false)};
  const std::string bytes = encodeWorld(header(2, 2), cells);
  const size_t headerSize = encodeHeader(header(2, 2)).size();
  // Cut anywhere inside the stream; the header's own size check allows 16 bytes.
  for (size_t length = headerSize + 16; length < bytes.size(); ++length) {
    const std::string cut = bytes.substr(0, length);
    WorldReader reader(readBytesOf(cut), cut.size());
    reader.readHeader();
    EXPECT_THROW(reader.readGrid(), WorldError) << "length " << length;
  }
}

// A read that fails is reported as such, not as a file that ends early: in the
// header, at the first cell, and inside the tile stream, for the grid and for
// runs alike, the source's own error passes through.
TEST_F(WorldTest, FailedReadIsAnErrorNotAnEarlyEnd) {
  const std::string bytes = encodeWorld(header(3, 2), std::vector<Tile>(6));
  const size_t headerSize = encodeHeader(header(3, 2)).size();
  for (size_t good : {size_t(3), headerSize, headerSize + 9}) {
    for (const bool runs : {false, true}) {
      // The bytes up to `good`, then a disk that answers EIO.
      const std::string readable = bytes.substr(0, good);
      WorldReader reader(
          [read = readBytesOf(readable)](char* out, size_t count) {
            const size_t got = read(out, count);
            return got > 0 ? got : throw std::runtime_error("Input/output error");
          },
          bytes.size());
      try {
        reader.readHeader();
        if (runs) reader.readRuns([](int32_t, int32_t, const Tile*, int32_t) {});
        if (!runs) reader.readGrid();
        ADD_FAILURE() << "no error after " << good << " bytes";
      } catch (const WorldError& e) {
        ADD_FAILURE() << "taken for a damaged world: " << e.what();
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Input/output error", e.what()) << good;
      }
    }
  }
}

// Every size a cell can have, 4 to 12 bytes, starting at every offset from 12
// bytes before the end of the reader's first chunk to its end: the cells that
// straddle it are decoded whole, and so is everything after them. The first
// chunk holds the header too.
TEST_F(WorldTest, CellsStraddlingTheEndOfAChunkDecodeWhole) {
  Tile marked = makeTile(true, 3, 0, 0, false);  // a type with two extra values
  marked.aux1 = -300;
  marked.aux2 = 0x5a5a;
  auto with = [](Tile t, int wall, int liquid, bool lava) {
    t.wall = static_cast<int8_t>(wall);
    t.liquid = static_cast<uint8_t>(liquid);
    t.lava = lava;
    return t;
  };
  const Tile plain = makeTile(true, 4, 0, 0, false), empty = makeTile(false, 0, 0, 0, false);
  const Tile sized[] = {empty,                             // 4 bytes
                        plain,                             // 5
                        with(plain, 7, 0, false),          // 6
                        with(plain, 0, 9, true),           // 7
                        with(plain, 7, 9, true),           // 8
                        marked,                            // 9
                        with(marked, -56, 0, false),       // 10
                        with(marked, 0, 200, true),        // 11
                        with(marked, 13, 255, true)};      // 12
  std::vector<std::string> encodings;
  for (const Tile& t : sized) appendCell(encodings.emplace_back(), t);
  for (size_t size = 4; size <= 12; ++size) {
    ASSERT_EQ(size, encodings[size - 4].size());
    for (size_t before = 0; before <= 12; ++before) {
      // Empty cells of 4 bytes, after one a little longer, up to `before` bytes
      // short of the chunk's end; the cell; then a few of every size.
      const size_t start = kTileChunkBytes - encodeHeader(header(1, 1)).size() - before;
      std::vector<Tile> cells{sized[start % 4]};
      while (cells.size() * 4 + start % 4 < start) cells.push_back(empty);
      const size_t at = cells.size();
      cells.push_back(sized[size - 4]);
      for (int round = 0; round < 3; ++round) cells.insert(cells.end(), std::begin(sized), std::end(sized));
      const int32_t height = static_cast<int32_t>(cells.size());
      const std::string bytes = encodeWorld(header(1, height), cells);
      ASSERT_EQ(encodings[size - 4], bytes.substr(encodeHeader(header(1, height)).size() + start, size));
      const TileGrid grid = readAll(bytes);
      for (size_t y = at; y < cells.size(); ++y) {
        ASSERT_TRUE(readsAs(cells[y], grid.at(0, int32_t(y))))
            << size << "-byte cell " << before << " bytes before the chunk's end; cell " << y - at;
      }
    }
  }
}

// Cells of mixed sizes, many of which straddle the reader's chunks, read into a
// grid and in runs: runs come column by column, top to bottom, at most
// kCellRun long, and hold the grid's cells.
TEST_F(WorldTest, DecodesAcrossBufferBoundaries) {
  std::mt19937 random(7);
  for (const std::pair<int32_t, int32_t>& shape : {std::pair{700, 500}, {3, 2 * kCellRun + 123}}) {
    const int32_t width = shape.first, height = shape.second;
    std::vector<Tile> cells(static_cast<size_t>(width) * height);
    for (Tile& t : cells) {
      const uint32_t r = random();
      t = makeTile(r & 1, static_cast<int8_t>(r >> 8), (r & 2) ? static_cast<int8_t>(r >> 16) : 0,
                   (r & 4) ? (r >> 24) : 0, r & 8);
      t.aux1 = static_cast<int16_t>(r);
      t.aux2 = static_cast<int16_t>(r >> 3);
      t.auxFlag = static_cast<uint8_t>(r >> 5);
    }
    const std::string bytes = encodeWorld(header(width, height), cells);
    const TileGrid grid = readAll(bytes);
    int mismatches = 0;
    for (int32_t x = 0; x < width && mismatches < 5; ++x) {
      for (int32_t y = 0; y < height; ++y) {
        if (!readsAs(cells[static_cast<size_t>(x) * height + y], grid.at(x, y))) {
          ++mismatches;
          ADD_FAILURE() << "cell " << x << "," << y;
        }
      }
    }
    EXPECT_EQ(0, mismatches);
    WorldReader reader(readBytesOf(bytes), bytes.size());
    reader.readHeader();
    int64_t next = 0;  // the next cell, column-major
    reader.readRuns([&](int32_t x, int32_t top, const Tile* run, int32_t count) {
      ASSERT_EQ(next, int64_t(x) * height + top);
      ASSERT_TRUE(count > 0 && count <= kCellRun && top + count <= height);
      EXPECT_EQ(0, std::memcmp(run, &grid.at(x, top), sizeof(Tile) * size_t(count))) << x;
      next += count;
    });
    EXPECT_EQ(int64_t(width) * height, next);
  }
}

TEST_F(WorldTest, NeighboursThatDifferInOneLateByteDecodeApart) {
  // Long runs of one cell, for cells of 4, 7, 5, 8 and 12 bytes, each broken now
  // and then by a neighbour that differs in a byte near its end.
  Tile marked = makeTile(true, 3, 5, 200, false);
  marked.aux1 = 11;
  marked.aux2 = 22;
  const std::vector<std::pair<Tile, Tile>> runs = [&] {
    std::vector<std::pair<Tile, Tile>> all;
    Tile other = makeTile(false, 0, 0, 0, false);
    other.auxFlag = 1;
    all.push_back({makeTile(false, 0, 0, 0, false), other});               // 4 bytes
    all.push_back({makeTile(false, 0, 7, 9, false), makeTile(false, 0, 7, 10, false)});  // 7
    other = makeTile(true, 4, 0, 0, false);
    other.auxFlag = 2;
    all.push_back({makeTile(true, 4, 0, 0, false), other});                // 5
    all.push_back({makeTile(true, 4, 2, 9, false), makeTile(true, 4, 2, 9, true)});      // 8
    other = marked;
    other.aux2 = 23;
    all.push_back({marked, other});                                        // 12 bytes
    return all;
  }();
  const int32_t width = 40, height = 5000;
  std::vector<Tile> cells;
  for (int32_t i = 0; i < width * height; ++i) {
    const auto& [base, odd] = runs[static_cast<size_t>(i / 4001) % runs.size()];
    cells.push_back(i % 997 == 0 ? odd : base);
  }
  const TileGrid grid = readAll(encodeWorld(header(width, height), cells));
  int mismatches = 0;
  for (int32_t i = 0; i < width * height && mismatches < 5; ++i) {
    if (!readsAs(cells[static_cast<size_t>(i)], grid.at(i / height, i % height))) {
      ++mismatches;
      ADD_FAILURE() << "cell " << i;
    }
  }
}

}  // namespace
}  // namespace wldmap
