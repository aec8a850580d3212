// Writes a deterministic sample world: sky over a hilly surface of grass and
// plants on soil, stone below with walled caves and ore, sand deserts, mud and
// moss pockets, pools of water, and ash with lava near the bottom. With --open,
// a plainer world whose map compresses far better: open sky over half the
// height, gently rolling grass on soil, then stone, a few wide lakes, and a sea of
// lava on ash at the bottom, with long runs of one material in every row.
//
//   gensample WIDTH HEIGHT SEED OUTPUT [--open]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "worldwriter/worldwriter.h"

namespace {

using wldmap::Tile;

// Materials, named after how their colours look.
enum Material : int8_t {
  kSoil = 0, kStone = 1, kGrass = 2, kPlant = 3, kTrunk = 5,
  kOreCopper = 6, kOreIron = 7, kOreGold = 8, kOreSilver = 9,
  kSand = 53, kAsh = 57, kDarkRock = 58, kMud = 59, kMoss = 60,
};
constexpr int8_t kGreyWall = 1;
constexpr int8_t kBrownWall = 2;

// The world's shape, as fractions of its height.
constexpr double kSurfaceDepth = 0.28;     // the surface level
constexpr double kRockDepth = 0.40;        // the rock level
constexpr double kWaterBelowLevel = 0.005; // the sea stands this far above the surface level
constexpr double kUnderworldDepth = 0.88;  // ash and lava below here
constexpr double kHillHeight = 0.14;       // the surface's rise and fall
constexpr double kHillsAbove = 0.04;       // the surface's average height over its level
constexpr double kRockEdge = 0.05;         // how far the rock boundary wanders
constexpr double kUnderworldEdge = 0.04;   // how far the underworld's top wanders
constexpr int32_t kDesertSand = 18;        // depth of sand under a desert
constexpr double kTreeChance = 0.05;       // a tree in a column
constexpr double kPlantChance = 0.35;      // a plant on a bare grass column
constexpr double kOreChance = 0.006;       // an ore block among stone
constexpr double kOrePick = 666;           // about 4 / kOreChance: four ores, evenly
constexpr double kOpenSkyDepth = 0.5;      // open world: the sky's average depth
constexpr double kOpenRockDepth = 0.6;     // open world: the rock level
constexpr double kOpenRoll = 0.06;         // open world: the surface's rise and fall
constexpr double kOpenSeaDepth = 0.94;     // open world: the lava sea's top
constexpr int32_t kOpenLakeDepth = 30;     // open world: the lakes' depth in rows

// Salts that give each feature its own noise.
enum Salt : uint64_t {
  kHills = 1, kRockLine, kUnderworldLine, kDeserts, kJungles, kPlants, kPlantLooks, kPools,
  kSoilStone, kOres, kTrees, kTunnels, kCaverns, kUnderworldShape, kUnderworldRock,
};

class Noise {
 public:
  explicit Noise(uint64_t seed) : seed_(seed) {}

  // A uniform value in [0, 1) fixed by the lattice point and a salt.
  double hash(int64_t x, int64_t y, uint64_t salt) const {
    uint64_t h = seed_ ^ (salt * 0x9E3779B97F4A7C15ull);
    h ^= static_cast<uint64_t>(x) * 0xBF58476D1CE4E5B9ull;
    h ^= static_cast<uint64_t>(y) * 0x94D049BB133111EBull;
    h ^= h >> 30; h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27; h *= 0x94D049BB133111EBull;
    h ^= h >> 31;
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
  }

  // Smoothly interpolated value noise in [0, 1).
  double value(double x, double y, uint64_t salt) const {
    const double fx = std::floor(x), fy = std::floor(y);
    const int64_t ix = static_cast<int64_t>(fx), iy = static_cast<int64_t>(fy);
    const double tx = smooth(x - fx), ty = smooth(y - fy);
    const double a = hash(ix, iy, salt), b = hash(ix + 1, iy, salt);
    const double c = hash(ix, iy + 1, salt), d = hash(ix + 1, iy + 1, salt);
    return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
  }

  // Two octaves of value noise, still in [0, 1).
  double fractal(double x, double y, uint64_t salt) const {
    return (value(x, y, salt) * 2 + value(x * 2.03, y * 2.03, salt + 1)) / 3;
  }

 private:
  static double smooth(double t) { return t * t * (3 - 2 * t); }
  uint64_t seed_;
};

Tile solid(int8_t type, int8_t wall = 0) { return wldmap::makeTile(true, type, wall, 0, false); }

Tile liquid(bool lava, int8_t wall = 0) { return wldmap::makeTile(false, 0, wall, 255, lava); }

class Generator {
 public:
  Generator(int32_t width, int32_t height, uint64_t seed, bool open)
      : width_(width), height_(height), noise_(seed) {
    surfaceLevel_ = std::floor(height * (open ? kOpenSkyDepth : kSurfaceDepth));
    rockLevel_ = std::floor(height * (open ? kOpenRockDepth : kRockDepth));
    waterLine_ = surfaceLevel_ - height * kWaterBelowLevel;
    hellTop_ = height * kUnderworldDepth;
  }

  wldmap::WorldHeader header() const {
    return wldmap::makeHeader("Sample", width_, height_, surfaceLevel_, rockLevel_);
  }

  // Appends the cells of column x of the open world, top to bottom.
  void openColumn(int32_t x, std::string& out) const {
    const int32_t surface = static_cast<int32_t>(
        height_ * kOpenSkyDepth + (noise_.value(x / 900.0, 0, kHills) - 0.5) * height_ * kOpenRoll);
    const int32_t rockTop = static_cast<int32_t>(rockLevel_);
    const int32_t seaTop = static_cast<int32_t>(height_ * kOpenSeaDepth);
    const bool lake = noise_.value(x / 1200.0, 0, kPools) > 0.7;
    for (int32_t y = 0; y < height_; ++y) {
      Tile t{};
      if (y < surface) {
        if (lake && y >= surface - kOpenLakeDepth) t = liquid(false);
      } else if (y < surface + 2) {
        t = solid(kGrass);
      } else if (y <= rockTop) {
        t = solid(kSoil, kBrownWall);
      } else if (y < seaTop) {
        t = solid(kStone, kGreyWall);
      } else if (y < height_ - 3) {
        t = liquid(true);
      } else {
        t = solid(kAsh);
      }
      wldmap::appendCell(out, t);
    }
  }

  // Appends the cells of column x, top to bottom.
  void column(int32_t x, std::string& out) {
    const int32_t surface = surfaceAt(x);
    const int32_t rockTop = static_cast<int32_t>(
        rockLevel_ + (noise_.value(x / 90.0, 0, kRockLine) - 0.5) * height_ * kRockEdge);
    const int32_t hellTop = static_cast<int32_t>(
        hellTop_ + (noise_.value(x / 70.0, 0, kUnderworldLine) - 0.5) * height_ * kUnderworldEdge);
    const bool desert = noise_.value(x / 700.0, 0, kDeserts) > 0.66;
    const bool jungle = !desert && noise_.value(x / 500.0, 0, kJungles) > 0.76;

    cave_.assign(static_cast<size_t>(height_) + 2, false);
    for (int32_t y = surface + 4; y < height_ - 2; ++y) cave_[y] = isCave(x, y, surface);

    const int32_t treeTop = treeTopAt(x, surface, desert);
    const bool canopy = treeTopAt(x - 1, surfaceAt(x - 1), desert) >= 0 ||
                        treeTopAt(x + 1, surfaceAt(x + 1), desert) >= 0;
    for (int32_t y = 0; y < height_; ++y) {
      Tile t{};
      if (y < surface) {
        if (y > waterLine_) {
          t = liquid(false);
        } else if (treeTop >= 0 && y >= treeTop && y < surface) {
          t = solid(static_cast<int8_t>(y - treeTop < 3 ? kPlant : kTrunk));
          t.aux1 = static_cast<int16_t>(y - treeTop);
        } else if (canopy && treeTop < 0 && y >= surface - 14 && y < surface - 11 &&
                   neighbourCanopy(x, y, desert)) {
          t = solid(kPlant);
        } else if (y == surface - 1 && !desert && treeTop < 0 &&
                   noise_.hash(x, 0, kPlants) < kPlantChance) {
          t = solid(kPlant);
          t.aux1 = static_cast<int16_t>(noise_.hash(x, 0, kPlantLooks) * 8);
        }
      } else if (y >= hellTop) {
        t = underworld(x, y, hellTop);
      } else if (cave_[y]) {
        const int8_t wall = y > rockTop ? kGreyWall : kBrownWall;
        const bool pool = y > rockTop && (!cave_[y + 1] || !cave_[y + 2]) &&
                          noise_.value(x / 60.0, y / 60.0, kPools) > 0.55;
        t = pool ? liquid(false, wall) : Tile{};
        t.wall = wall;
      } else if (y < surface + (desert ? kDesertSand : 1)) {
        t = solid(static_cast<int8_t>(desert ? kSand : kGrass));
      } else if (y <= rockTop) {
        t = solid(noise_.hash(x, y, kSoilStone) < 0.01 ? kStone : kSoil,
                  y > surface + 3 ? kBrownWall : 0);
      } else if (jungle && y < hellTop - 60) {
        t = solid(static_cast<int8_t>(cave_[y - 1] ? kMoss : kMud));
      } else {
        // Below kOreChance, the roll also picks one of the four ores evenly.
        const double roll = noise_.hash(x, y, kOres);
        const int ore = kOreCopper + static_cast<int>(roll * kOrePick);
        t = solid(static_cast<int8_t>(roll < kOreChance ? ore : kStone));
      }
      wldmap::appendCell(out, t);
    }
  }

 private:
  int32_t surfaceAt(int32_t x) const {
    const double hills = noise_.fractal(x / 160.0, 0.5, kHills) - 0.5;
    return static_cast<int32_t>(surfaceLevel_ - height_ * kHillsAbove + hills * height_ * kHillHeight);
  }

  // The top row of a tree trunk standing in column x, or -1 when there is none.
  int32_t treeTopAt(int32_t x, int32_t surface, bool desert) const {
    if (desert || surface > waterLine_ || noise_.hash(x, 1, kTrees) >= kTreeChance) return -1;
    return surface - 8 - static_cast<int32_t>(noise_.hash(x, 2, kTrees) * 6);
  }

  bool neighbourCanopy(int32_t x, int32_t y, bool desert) const {
    for (int32_t dx : {-1, 1}) {
      const int32_t top = treeTopAt(x + dx, surfaceAt(x + dx), desert);
      if (top >= 0 && y >= top && y < top + 3) return true;
    }
    return false;
  }

  bool isCave(int32_t x, int32_t y, int32_t surface) const {
    const double depth = static_cast<double>(y - surface) / height_;
    const double n = noise_.fractal(x / 48.0, y / 22.0, kTunnels);
    const double tunnel = std::fabs(n - 0.5);
    return tunnel < 0.02 + 0.03 * std::min(depth * 3, 1.0) ||
           noise_.value(x / 30.0, y / 30.0, kCaverns) > 0.86;
  }

  Tile underworld(int32_t x, int32_t y, int32_t hellTop) const {
    if (y >= height_ - 3) return solid(kDarkRock);
    const double n = noise_.fractal(x / 40.0, y / 18.0, kUnderworldShape);
    if (n > 0.6) return y > hellTop + (height_ - hellTop) * 0.45 ? liquid(true) : Tile{};
    return solid(static_cast<int8_t>(noise_.value(x / 25.0, y / 25.0, kUnderworldRock) > 0.6
                                         ? kDarkRock
                                         : kAsh));
  }

  int32_t width_, height_;
  Noise noise_;
  double surfaceLevel_, rockLevel_, waterLine_, hellTop_;
  std::vector<bool> cave_;
};

}  // namespace

int main(int argc, char** argv) {
  const bool open = argc == 6 && std::string(argv[5]) == "--open";
  if (argc != 5 && !open) {
    std::fprintf(stderr, "usage: %s WIDTH HEIGHT SEED OUTPUT [--open]\n", argv[0]);
    return 1;
  }
  const long width = std::strtol(argv[1], nullptr, 10);
  const long height = std::strtol(argv[2], nullptr, 10);
  const unsigned long long seed = std::strtoull(argv[3], nullptr, 10);
  // The layers need some height to show; the cap keeps a typo from filling the disk.
  constexpr long kMinHeight = 40, kMaxSide = 100000;
  if (width < 1 || height < kMinHeight || width > kMaxSide || height > kMaxSide) {
    std::fprintf(stderr, "gensample: width must be 1..%ld and height %ld..%ld\n", kMaxSide,
                 kMinHeight, kMaxSide);
    return 1;
  }
  Generator generator(static_cast<int32_t>(width), static_cast<int32_t>(height), seed, open);
  std::ofstream out(argv[4], std::ios::binary | std::ios::trunc);
  std::string buffer = wldmap::encodeHeader(generator.header());
  for (int32_t x = 0; x < width; ++x) {
    if (open) {
      generator.openColumn(x, buffer);
    } else {
      generator.column(x, buffer);
    }
    if (buffer.size() > (1u << 20)) {
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      buffer.clear();
    }
  }
  out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  out.close();
  if (!out) {
    std::perror(argv[4]);
    return 1;
  }
  return 0;
}
