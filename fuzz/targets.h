// The fuzzed entry points, shared by the libFuzzer programs and the regression
// test that replays every committed corpus and regression input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wldmap {

// Reads a world from arbitrary bytes; a malformed world may only be rejected.
void fuzzWorldReader(const uint8_t* data, size_t size);

// Loads a colour table, and a names file, from arbitrary text.
void fuzzColorLoader(const uint8_t* data, size_t size);

// Reads a world, loads colours, paints the map and encodes it as the tool does,
// which must give png++'s own bytes for the same map. The first byte gives the
// length of the colour text that follows it; the rest is the world file.
void fuzzPipeline(const uint8_t* data, size_t size);

// Makes a thumbnail as file managers have it made, from arbitrary bytes: the
// first byte picks the size (1, 2, 7, 64 or 256 pixels), the rest is the world
// file, read as its cells are decoded. A world no larger than the size must
// give its map exactly.
void fuzzThumbnail(const uint8_t* data, size_t size);

}  // namespace wldmap
