// Paints the map on a second thread, a few bands of rows ahead of the encoder.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "model/color.h"
#include "model/large_array.h"
#include "model/paint_band.h"
#include "platform/platform.h"

namespace wldmap {

// A row for the encoder: its pixels and, for every row after the first, the
// PNG filter chosen for it ahead.
struct EncoderRow {
  static constexpr int kLibpngChooses = -1;
  const Color* pixels;
  int filter = kLibpngChooses;  // a PNG filter type, 0 (none) to 4 (Paeth)
};

// Where the bands of the map go in a ring of `slots` band buffers, and when one
// may be painted: the rule PaintAhead follows, kept apart so that it can be
// checked on its own.
struct BandRing {
  uint32_t slots;
  // The buffer band `band` is painted into.
  uint32_t slot(uint32_t band) const { return band % slots; }
  // Whether band `band` may be painted while the encoder may still read band
  // `reading` and those after it: only into a slot none of them is in.
  bool mayPaint(uint32_t band, uint32_t reading) const { return band < reading + slots; }
};

// The encoder takes rows one at a time on the calling thread and is the slowest
// stage, while painting a band of rows needs nothing from the encoder (only the
// painter's own input: a map's grid, a thumbnail's pixels). So a
// painter thread fills a ring of band buffers and the encoder takes rows from it:
// on two cores the painting costs no time, and the map is never held whole. The
// painter also picks each row's PNG filter, the encoder's costliest step that
// does not depend on what came before it in the stream.
class PaintAhead {
 public:
  // Starts the painter thread on a width x height map.
  PaintAhead(uint32_t width, uint32_t height, PaintBand paint);
  // Stops the painter, also when the encoder gave up part way.
  ~PaintAhead();
  PaintAhead(const PaintAhead&) = delete;
  PaintAhead& operator=(const PaintAhead&) = delete;

  // Row y and its filter, waiting until its band is painted. Rows are taken in
  // order; a row stays readable until a row of a later band is taken. Rethrows
  // what the painting threw.
  EncoderRow row(uint32_t y);

 private:
  void paintAll();
  // Paints band `band` into its slot and chooses its rows' filters.
  void fill(uint32_t band);

  const uint32_t width_, height_, bandRows_, bands_;
  const BandRing ring_;  // one band being encoded, the next ones painted
  const PaintBand paint_;
  LargeArray<Color> pixels_;           // ring_.slots bands of bandRows_ rows
  std::unique_ptr<int8_t[]> filters_;  // one per row of the ring

  std::mutex mutex_;
  std::condition_variable changed_;
  uint32_t painted_ = 0;  // bands painted so far
  uint32_t reading_ = 0;  // the band the encoder last asked for
  bool stop_ = false;
  std::exception_ptr failure_;

  uint32_t current_ = UINT32_MAX;  // the band the encoder reads, on its own thread
  platform::JoinedThread painter_;  // started last, once the rest is in place; joined first
};

}  // namespace wldmap
