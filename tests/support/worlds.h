// The worlds the checks share, made by the world writer.
#pragma once

#include <cstdint>
#include <string>

#include "support/image.h"
#include "worldwriter/worldwriter.h"

namespace wldmap {

// The header of a world of this name and size, surface at row 0, rock at 1.
WorldHeader header(const std::string& name, int32_t width, int32_t height);

// A 2 x 3 world covering each layer: rows are sky, underground and rock.
std::string smallWorld(const std::string& name);

// smallWorld's map with the shipped colours.
extern const Pixels kSmallWorldPixels;

// A world of random tiles, whose map compresses badly and takes a while to save.
std::string noisyWorld(const std::string& name, int32_t width, int32_t height);

// A world of every kind of cell, walls the tool has no colour for among them,
// the surface a quarter of the way down and the rock at half.
std::string mixedWorld(const std::string& name, int32_t width, int32_t height);

}  // namespace wldmap
