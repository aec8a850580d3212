// Times the reading and rendering stages in-process, several times each, on one
// world file; prints the best time per cell. A quick loop for tuning those stages.
//
//   wldmap_stages WORLD.wld COLORS.txt [REPETITIONS]
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "colors/colors.h"
#include "render/render.h"
#include "world/world.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: " << argv[0] << " WORLD.wld COLORS.txt [REPETITIONS]\n";
    return 1;
  }
  using Clock = std::chrono::steady_clock;
  const int repetitions = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  std::ifstream colorFile(argv[2]);
  std::vector<std::string> warnings;
  const wldmap::TileColorTable colors = wldmap::loadTileColors(colorFile, warnings);

  double bestRead = 1e9, bestRender = 1e9;
  double cells = 0;
  for (int i = 0; i < repetitions; ++i) {
    std::ifstream world(argv[1], std::ios::binary);
    const Clock::time_point start = Clock::now();
    const wldmap::WorldHeader header = wldmap::readHeader(world);
    const wldmap::TileGrid grid = wldmap::readTiles(world, header);
    const Clock::time_point read = Clock::now();
    const wldmap::Image image = wldmap::renderMap(header, grid, colors, [](int) {});
    const Clock::time_point rendered = Clock::now();
    cells = double(header.width) * header.height;
    bestRead = std::min(bestRead, std::chrono::duration<double>(read - start).count());
    bestRender = std::min(bestRender, std::chrono::duration<double>(rendered - read).count());
  }
  std::cout << "read   " << bestRead * 1e9 / cells << " ns/cell (" << bestRead << " s)\n"
            << "render " << bestRender * 1e9 / cells << " ns/cell (" << bestRender << " s)\n";
  return 0;
}
