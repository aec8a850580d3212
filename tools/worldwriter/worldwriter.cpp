#include "worldwriter/worldwriter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace wldmap {

namespace {

constexpr char kFiller = static_cast<char>(0xA5);

void appendLittleEndian(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

void appendDouble(std::string& out, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  appendLittleEndian(out, bits, 8);
}

}  // namespace

WorldHeader makeHeader(const std::string& name, int32_t width, int32_t height,
                       double surfaceLevel, double rockLevel) {
  WorldHeader h;
  h.name = name;
  h.width = width;
  h.height = height;
  h.surfaceLevel = surfaceLevel;
  h.rockLevel = rockLevel;
  return h;
}

Tile makeTile(bool active, int type, int wall, int liquid, bool lava) {
  Tile t{};
  t.active = active;
  t.type = static_cast<int8_t>(type);
  t.wall = static_cast<int8_t>(wall);
  t.liquid = static_cast<uint8_t>(liquid);
  t.lava = lava;
  return t;
}

std::string encodeHeader(const WorldHeader& header) {
  std::string out;
  appendLittleEndian(out, 1, 4);
  out.push_back(static_cast<char>(header.name.size()));
  out += header.name;
  out.append(20, kFiller);
  appendLittleEndian(out, static_cast<uint32_t>(header.height), 4);
  appendLittleEndian(out, static_cast<uint32_t>(header.width), 4);
  out.append(8, kFiller);
  appendDouble(out, header.surfaceLevel);
  appendDouble(out, header.rockLevel);
  out.append(48, kFiller);
  return out;
}

void appendCell(std::string& out, const Tile& tile) {
  out.push_back(tile.active ? 1 : 0);
  if (tile.active) {
    out.push_back(static_cast<char>(tile.type));
    if (hasAux(tile.type)) {
      appendLittleEndian(out, static_cast<uint16_t>(tile.aux1), 2);
      appendLittleEndian(out, static_cast<uint16_t>(tile.aux2), 2);
    }
  }
  out.push_back(static_cast<char>(tile.auxFlag));
  out.push_back(tile.wall != 0 ? 1 : 0);
  if (tile.wall != 0) out.push_back(static_cast<char>(tile.wall));
  out.push_back(tile.liquid != 0 ? 1 : 0);
  if (tile.liquid != 0) {
    out.push_back(static_cast<char>(tile.liquid));
    out.push_back(tile.lava ? 1 : 0);
  }
}

std::string encodeWorld(const WorldHeader& header, const std::vector<Tile>& cells) {
  std::string out = encodeHeader(header);
  for (const Tile& tile : cells) appendCell(out, tile);
  return out;
}

ReadBytes readBytesOf(const std::string& bytes) {
  return [&bytes, offset = size_t(0)](char* out, size_t count) mutable {
    const size_t step = std::min(count, bytes.size() - offset);
    std::memcpy(out, bytes.data() + offset, step);
    offset += step;
    return step;
  };
}

}  // namespace wldmap
