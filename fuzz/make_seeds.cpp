// Writes the hand-made seed inputs of the fuzz corpora:
//   make_seeds CORPUS_DIR
// CORPUS_DIR gets world/, colors/ and pipeline/ entries. Sample worlds that
// gensample wrote into CORPUS_DIR/world beforehand are added to pipeline/ as well.
#include <fstream>
#include <iterator>
#include <iostream>
#include <string>
#include <vector>

#include "worldwriter/worldwriter.h"

namespace {

using wldmap::Tile;
using wldmap::WorldHeader;

void save(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

WorldHeader header(const std::string& name, int32_t width, int32_t height) {
  return wldmap::makeHeader(name, width, height, height / 3.0, height / 2.0);
}

Tile cell(bool active, int type, int wall, int liquid, bool lava) {
  Tile t = wldmap::makeTile(active, type, wall, liquid, lava);
  t.aux1 = 0x1234;
  t.aux2 = -2;
  return t;
}

// Every kind of cell: empty, marked and unmarked types, types outside the table,
// known and unknown walls, water and lava.
std::vector<Tile> mixedCells(size_t count) {
  const Tile kinds[] = {cell(false, 0, 0, 0, false), cell(true, 3, 1, 255, true),
                        cell(true, 4, 2, 9, false),  cell(true, 150, 0, 0, false),
                        cell(true, -56, -56, 0, false), cell(true, 79, 13, 1, false),
                        cell(false, 0, 14, 0, false), cell(true, 1, 0, 0, false)};
  std::vector<Tile> cells;
  for (size_t i = 0; i < count; ++i) cells.push_back(kinds[(i * 5 + i / 3) % 8]);
  return cells;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " CORPUS_DIR\n";
    return 1;
  }
  const std::string dir = argv[1];

  std::vector<std::pair<std::string, std::string>> worlds = {
      {"one-cell", wldmap::encodeWorld(header("", 1, 1), {cell(true, 0, 0, 0, false)})},
      {"mixed-6x4", wldmap::encodeWorld(header("Home", 6, 4), mixedCells(24))},
      {"long-name", wldmap::encodeWorld(header(std::string(127, 'n'), 2, 2), mixedCells(4))},
      {"zero-in-name", wldmap::encodeWorld(header(std::string("Ho\0me", 5), 3, 1), mixedCells(3))},
      {"trailing-bytes",
       wldmap::encodeWorld(header("T", 2, 3), mixedCells(6)) + std::string(40, '\x7f')},
  };
  const std::string mixed = worlds[1].second;
  worlds.push_back({"truncated-tiles", mixed.substr(0, mixed.size() - 3)});
  worlds.push_back({"truncated-header", mixed.substr(0, 60)});
  worlds.push_back({"huge-size", wldmap::encodeHeader(header("H", 1 << 30, 1 << 30)) + "\0\0\0\0"});
  worlds.push_back({"negative-size", wldmap::encodeHeader(header("N", -5, 3)) + std::string(60, 0)});
  std::string longLength = mixed;
  longLength[4] = static_cast<char>(200);
  worlds.push_back({"name-length-200", longLength});

  const std::string shipped = "0 151 107 75 255\n1 128 128 128 255\n51 192 202 203 128\n";
  const std::vector<std::pair<std::string, std::string>> colors = {
      {"shipped-excerpt", shipped},
      {"no-final-newline", "0 151 107 75 255"},
      {"one-line", "7 9 9 9 9 7 1 2 3 4 5 300 -1 0 128"},
      {"bad-token", "1 1 1 1 1\n2 2 x 2 2\n"},
      {"overflow", "4294967296 1 2 3 4\n"},
      {"incomplete", "1 10 20 30 40\n2 50 60\n"},
      {"blank", " \n\t\r\n"},
      {"extremes", "2147483647 0 0 0 0 -2147483648 +1 +2 +3 +4"},
      {"spanning-lines", "0\n151\n107 75\r\n255 1\t2\n3 4 5\n\n"},
  };

  for (const auto& [name, bytes] : worlds) {
    if (name.rfind("sample-", 0) != 0) save(dir + "/world/" + name, bytes);
  }
  for (const auto& [name, text] : colors) save(dir + "/colors/" + name, text);
  // The colour target reads its input as a names file too.
  save(dir + "/colors/names",
       "\xef\xbb\xbf# names\ntile 1 Grey stone\nwall -5  Mud wall  # old\ntile 300 x\ntile 2 \xff\nwall\n");
  // Sample worlds written by gensample into world/ join the pipeline corpus too.
  for (const char* sample : {"sample-16x40", "sample-24x48"}) {
    std::ifstream in(dir + "/world/" + sample, std::ios::binary);
    if (in) worlds.push_back({sample, std::string(std::istreambuf_iterator<char>(in), {})});
  }
  for (size_t i = 0; i < worlds.size(); ++i) {
    const std::string& text = colors[i % colors.size()].second;
    save(dir + "/pipeline/" + worlds[i].first,
         std::string(1, static_cast<char>(text.size())) + text + worlds[i].second);
  }
  return 0;
}
