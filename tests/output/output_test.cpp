#include "output/output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>
#include <streambuf>

#include "support/image.h"
#include "support/tempdir.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace wldmap {
namespace {

const PngWarningHandler noWarnings = [](const std::string& warning) { ADD_FAILURE() << warning; };

Image pattern(uint32_t width, uint32_t height) {
  Image image(width, height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      image.row(y)[x] = Color{uint8_t(x * 7), uint8_t(y * 13), uint8_t(x ^ y), uint8_t(255 - x)};
    }
  }
  return image;
}

uint32_t bigEndian(const std::string& bytes, size_t at) {
  return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
         uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
}

// The chunk types of a PNG file, in order.
std::vector<std::string> chunkTypes(const std::string& png) {
  std::vector<std::string> types;
  for (size_t at = 8; at + 8 <= png.size();) {
    types.push_back(png.substr(at + 4, 4));
    at += 12 + bigEndian(png, at);
  }
  return types;
}

// The image as the encoder's painter.
PaintBand painterOf(const Image& image) {
  return [&image](uint32_t top, uint32_t rows, Color* out) { image.paint(top, rows, out); };
}

TEST(OutputTest, WritesAPlainRgbaPngThatDecodesToTheSamePixels) {
  for (auto size : {std::pair<uint32_t, uint32_t>{1, 1}, {100, 50}}) {
    TempDir dir;
    const Image image = pattern(size.first, size.second);
    savePng(dir / "map.png", image.width, image.height, painterOf(image), noWarnings);
    const std::string bytes = readFile(dir / "map.png");
    ASSERT_GT(bytes.size(), 33u);
    EXPECT_EQ(image.width, bigEndian(bytes, 16));
    EXPECT_EQ(image.height, bigEndian(bytes, 20));
    EXPECT_EQ(8, bytes[24]);   // bit depth
    EXPECT_EQ(6, bytes[25]);   // RGB with alpha
    EXPECT_EQ(0, bytes[26]);   // compression
    EXPECT_EQ(0, bytes[27]);   // filter method
    EXPECT_EQ(0, bytes[28]);   // no interlace
    for (const std::string& type : chunkTypes(bytes)) {
      EXPECT_TRUE(type == "IHDR" || type == "IDAT" || type == "IEND") << type;
    }
    EXPECT_EQ(image.pixels, decodePng(bytes).pixels);
    EXPECT_EQ((std::vector<std::string>{"map.png"}), listDir(dir.path()));
  }
}

// libpng refuses more than 1,000,000 pixels a side unless told otherwise; a world
// may be wider than that.
TEST(OutputTest, WritesImagesWiderThanAMillionPixels) {
  const uint32_t width = 1000001;
  std::ostringstream out;
  writePng(
      out, width, 2,
      [](uint32_t, uint32_t rows, Color* pixels) {
        std::fill(pixels, pixels + size_t(rows) * width, Color{1, 2, 3, 255});
      },
      noWarnings);
  EXPECT_EQ(width, bigEndian(out.str(), 16));
  EXPECT_EQ("IEND", chunkTypes(out.str()).back());
}

// Rows made so that each of the five PNG filters suits some of them best: small
// bytes (none), ramps (sub), the row above again (up), the average and the Paeth
// prediction of the bytes to the left and above, noise, and bytes at the ends of
// their range, where predictions overflow a byte.
Image filterMosaic(uint32_t width, uint32_t height, std::mt19937& random) {
  Image image(width, height);
  const size_t bytes = size_t(width) * 4;
  std::vector<uint8_t> above(bytes, 0);
  for (uint32_t y = 0; y < height; ++y) {
    auto* x = reinterpret_cast<uint8_t*>(image.row(y));
    const uint32_t kind = random() % 7, offset = random();
    const uint8_t extremes[] = {0, 1, 2, 127, 128, 129, 253, 254, 255};
    for (size_t i = 0; i < bytes; ++i) {
      const int a = i >= 4 ? x[i - 4] : 0, b = above[i], c = i >= 4 ? above[i - 4] : 0;
      const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
      const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      const uint8_t values[7] = {uint8_t(random() % 4),    uint8_t(i * 5 + offset),
                                 uint8_t(b + random() % 2), uint8_t((a + b) >> 1),
                                 uint8_t(paeth),            uint8_t(random()),
                                 extremes[random() % 9]};
      x[i] = values[kind];
    }
    above.assign(x, x + bytes);
  }
  return image;
}

// A map as wide as 1300 pixels whose bytes lie near 128, below a row of zeros,
// so that every filter but sub costs nearly its most on each byte: sums that
// only a careful count keeps from overflowing.
Image nearHalfway(uint32_t width, uint32_t height, std::mt19937& random) {
  Image image(width, height);
  for (uint32_t y = 1; y < height; ++y) {
    auto* bytes = reinterpret_cast<uint8_t*>(image.row(y));
    for (size_t i = 0; i < size_t(width) * 4; ++i) bytes[i] = uint8_t(98 + random() % 61);
  }
  return image;
}

// Two rows where, at the second pixel of the second, Paeth's distances to the
// pixel above and to the one above-left are equal: the predictor takes the one
// above, which makes Paeth cost as much as up, and libpng then takes up, the
// lower type; taking the one above-left would make Paeth the cheapest.
Image paethTie() {
  Image image(2, 2);
  const uint8_t bytes[2][2] = {{100, 80}, {110, 100}};  // [row][pixel], every channel alike
  for (uint32_t y = 0; y < 2; ++y) {
    for (uint32_t x = 0; x < 2; ++x) {
      const uint8_t v = bytes[y][x];
      image.row(y)[x] = Color{v, v, v, v};
    }
  }
  return image;
}

// The file the tool saves, its filters chosen on the painter thread band by
// band, is byte for byte what png++ writes of the same image with libpng's
// defaults: for maps of one band, one band and a row, and several turns of the
// painter's ring, each a mosaic that makes every filter the best somewhere.
TEST(OutputTest, SavedBytesEqualPngPlusPlusWritingTheSameImage) {
  std::mt19937 random(5);
  int used[5] = {};
  for (auto size : {std::pair<uint32_t, uint32_t>{300, 1}, {300, 64}, {37, 65}, {1, 200},
                    {2, 200}, {37, 700}, {1300, 3}, {2, 2}}) {
    TempDir dir;
    const Image image = size.first == 300    ? pattern(size.first, size.second)
                        : size.first == 1300 ? nearHalfway(size.first, size.second, random)
                        : size.second == 2   ? paethTie()
                                             : filterMosaic(size.first, size.second, random);
    savePng(dir / "map.png", image.width, image.height, painterOf(image), noWarnings);
    const std::string saved = readFile(dir / "map.png");
    EXPECT_EQ(pngByPngPlusPlus(image), saved) << image.width << " x " << image.height;
    for (int filter : rowFilters(saved)) ++used[filter];
  }
  for (int filter = 0; filter < 5; ++filter) EXPECT_GT(used[filter], 10) << "filter " << filter;
}

TEST(OutputTest, ReplacesAnExistingFile) {
  TempDir dir;
  writeFile(dir / "map.png", "old");
  const Image image = pattern(3, 2);
  savePng(dir / "map.png", 3, 2, painterOf(image), noWarnings);
  EXPECT_EQ(image.pixels, decodePng(readFile(dir / "map.png")).pixels);
}

#ifdef _WIN32
// Points every import of `from` by this program at `to`; false when it has none.
bool redirectImport(void* from, void* to) {
  auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleW(nullptr));
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  bool found = false;
  for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); module->Name;
       ++module) {
    for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
         slot->u1.Function != 0; ++slot) {
      if (slot->u1.Function != reinterpret_cast<ULONG_PTR>(from)) continue;
      DWORD was = 0;
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &was);
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(to);
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, was, &was);
      found = true;
    }
  }
  return found;
}

decltype(&MoveFileExW) realMove = nullptr;
DWORD movedWith = 0;
BOOL WINAPI recordMove(LPCWSTR from, LPCWSTR to, DWORD flags) {
  movedWith = flags;
  return realMove(from, to, flags);
}

// A new map is renamed into place written through: after a power cut, a map the
// run called done is there.
TEST(OutputTest, NewMapIsRenamedIntoPlaceWrittenThrough) {
  realMove = reinterpret_cast<decltype(&MoveFileExW)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "MoveFileExW")));
  ASSERT_TRUE(redirectImport(reinterpret_cast<void*>(realMove), reinterpret_cast<void*>(&recordMove)));
  TempDir dir;
  const Image image = pattern(3, 2);
  savePng(dir / "map.png", 3, 2, painterOf(image), noWarnings);
  redirectImport(reinterpret_cast<void*>(&recordMove), reinterpret_cast<void*>(realMove));
  EXPECT_EQ(DWORD(MOVEFILE_WRITE_THROUGH), movedWith & MOVEFILE_WRITE_THROUGH);
  EXPECT_EQ(image.pixels, decodePng(readFile(dir / "map.png")).pixels);
}
#endif

TEST(OutputTest, FailedRenameLeavesTheTargetAndNoTemporaryFile) {
  TempDir dir;
  std::filesystem::create_directory(dir / "map.png");
  writeFile(dir / "map.png/keep", "x");
  const Image image = pattern(3, 2);
  EXPECT_THROW(savePng(dir / "map.png", 3, 2, painterOf(image), noWarnings), std::runtime_error);
  EXPECT_EQ((std::vector<std::string>{"map.png"}), listDir(dir.path()));
  EXPECT_EQ("x", readFile(dir / "map.png/keep"));
}

TEST(OutputTest, MissingFolderIsAnError) {
  TempDir dir;
  const Image image = pattern(1, 1);
  EXPECT_THROW(savePng(dir / "no/such/map.png", 1, 1, painterOf(image), noWarnings), std::runtime_error);
}

// A stream that accepts `room` bytes and then fails every write.
class FullBuffer : public std::streambuf {
 public:
  explicit FullBuffer(size_t room) : room_(room) {}

 protected:
  int_type overflow(int_type c) override {
    if (room_ == 0) return traits_type::eof();
    --room_;
    return traits_type::not_eof(c);
  }

 private:
  size_t room_;
};

TEST(OutputTest, StreamFailureIsReportedAsAnException) {
  const Image image = pattern(64, 64);
  for (size_t room : {size_t(0), size_t(20), size_t(100)}) {
    FullBuffer buffer(room);
    std::ostream out(&buffer);
    EXPECT_THROW(writePng(out, 64, 64, painterOf(image), noWarnings), std::runtime_error) << room;
  }
}

// Painting that fails fails the save, which leaves nothing behind, and the
// write in place, which leaves the file as it was: also once megabytes of the
// new image have been written.
TEST(OutputTest, PaintingThatFailsLeavesNoFile) {
  TempDir dir;
  const PaintBand failing = [](uint32_t top, uint32_t, Color*) {
    if (top > 0) throw std::runtime_error("no more paint");
  };
  EXPECT_THROW(savePng(dir / "map.png", 5, 200, failing, noWarnings), std::runtime_error);
  EXPECT_TRUE(listDir(dir.path()).empty());
  Image noise(2000, 1000);
  std::mt19937 random(5);
  for (Color& pixel : noise.pixels) pixel = Color{uint8_t(random()), uint8_t(random()), 0, 255};
  const PaintBand failingLate = [&noise](uint32_t top, uint32_t rows, Color* out) {
    if (top >= 600) throw std::runtime_error("no more paint");
    noise.paint(top, rows, out);
  };
  writeFile(dir / "thumb.png", "the old thumbnail");
  EXPECT_THROW(writePngOutput(dir / "thumb.png", 2000, 1000, failingLate, noWarnings),
               std::runtime_error);
  EXPECT_EQ("the old thumbnail", readFile(dir / "thumb.png"));
  EXPECT_THROW(writePngOutput(dir / "new.png", 2000, 1000, failingLate, noWarnings),
               std::runtime_error);
  EXPECT_EQ((std::vector<std::string>{"thumb.png"}), listDir(dir.path()));
}

}  // namespace
}  // namespace wldmap
