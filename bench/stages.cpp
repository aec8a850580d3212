// Times the stages in-process, several times each, on one world file and prints
// the best time per cell of each: reading; the painter thread's work, painting
// and choosing each row's filter, here on one thread; and saving to nowhere as
// the tool saves, the painter thread and the encoder together. The painter
// thread costs nothing while its work per cell stays below the save's. A quick
// loop for tuning the stages.
//
//   wldmap_stages WORLD.wld COLORS.txt [REPETITIONS]
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <streambuf>
#include <vector>

#include "colors/colors.h"
#include "output/filter_choice.h"
#include "output/output.h"
#include "render/render.h"
#include "world/world.h"

namespace {

// Counts what is written and keeps none of it.
class NullBuffer : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: " << argv[0] << " WORLD.wld COLORS.txt [REPETITIONS]\n";
    return 1;
  }
  using Clock = std::chrono::steady_clock;
  auto since = [](Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  const int repetitions = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  std::ifstream colorFile(argv[2]);
  std::vector<std::string> warnings;
  const wldmap::TileColorTable colors = wldmap::loadTileColors(colorFile, warnings);

  double bestRead = 1e9, bestPaint = 1e9, bestSave = 1e9;
  double cells = 0;
  for (int i = 0; i < repetitions; ++i) {
    std::ifstream world(argv[1], std::ios::binary);
    Clock::time_point start = Clock::now();
    // Reads of the reader's chunk size go straight to the file.
    wldmap::WorldReader reader(
        [&world](char* out, size_t count) {
          world.read(out, static_cast<std::streamsize>(count));
          return static_cast<size_t>(world.gcount());
        },
        std::filesystem::file_size(argv[1]));
    const wldmap::WorldHeader header = reader.readHeader();
    const wldmap::TileGrid grid = reader.readGrid();
    bestRead = std::min(bestRead, since(start));

    // The painter thread's work, on this thread: bands of 64 rows, then a filter
    // for every row after the first.
    const auto width = static_cast<uint32_t>(header.width);
    const auto height = static_cast<uint32_t>(header.height);
    cells = double(width) * height;
    const wldmap::MapPainter painter(header, grid, colors);
    std::vector<wldmap::Color> band(size_t(width) * 64), above(width);
    int filters = 0;
    start = Clock::now();
    for (uint32_t top = 0; top < height; top += 64) {
      const uint32_t rows = std::min(64u, height - top);
      painter(top, rows, band.data());
      for (uint32_t i = 0; i < rows; ++i) {
        const wldmap::Color* row = band.data() + size_t(i) * width;
        if (top + i > 0) filters += wldmap::chooseFilter(row, i == 0 ? above.data() : row - width, width);
      }
      std::copy(band.data() + size_t(rows - 1) * width, band.data() + size_t(rows) * width,
                above.begin());
    }
    bestPaint = std::min(bestPaint, since(start));

    NullBuffer nothing;
    std::ostream out(&nothing);
    start = Clock::now();
    wldmap::writePng(out, width, height, std::cref(painter), [](const std::string&) {});
    bestSave = std::min(bestSave, since(start));
    if (filters < 0) std::cout << "";  // keeps the filter choice from being left out
  }
  std::cout << "read          " << bestRead * 1e9 / cells << " ns/cell (" << bestRead << " s)\n"
            << "paint+filters " << bestPaint * 1e9 / cells << " ns/cell (" << bestPaint << " s)\n"
            << "save          " << bestSave * 1e9 / cells << " ns/cell (" << bestSave << " s)\n";
  return 0;
}
