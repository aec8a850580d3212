// Writes .wld world files: the header and the tile stream the reader expects.
#pragma once

#include <string>
#include <vector>

#include "world/world.h"

namespace wldmap {

// Header values for a world of this name and size, with the given levels.
WorldHeader makeHeader(const std::string& name, int32_t width, int32_t height,
                       double surfaceLevel, double rockLevel);

// A tile with the fields that decide its colour; the others are zero.
Tile makeTile(bool active, int type, int wall, int liquid, bool lava);

// The header bytes for these values, with the name's length as its length byte.
// Bytes the reader skips are filled with a fixed non-zero pattern.
std::string encodeHeader(const WorldHeader& header);

// Appends one cell: a wall flag only when wall != 0, liquid bytes only when
// liquid != 0, aux values only for types marked in typeHasAux.
void appendCell(std::string& out, const Tile& tile);

// A whole world file; `cells` holds width x height tiles in column-major order.
std::string encodeWorld(const WorldHeader& header, const std::vector<Tile>& cells);

// The bytes of a world file in memory as the reader's source, from their
// start; `bytes` must outlive it.
ReadBytes readBytesOf(const std::string& bytes);

}  // namespace wldmap
