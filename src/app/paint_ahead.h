// Paints the map on a second thread, a few bands of rows ahead of the encoder.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "model/color.h"
#include "model/large_array.h"
#include "output/output.h"

namespace wldmap {

// The encoder takes rows one at a time on the calling thread and is the slowest
// stage, while painting a band of rows needs nothing but the finished grid. So a
// painter thread fills a ring of band buffers and the encoder takes rows from it:
// on two cores the painting costs no time, and the map is never held whole. The
// painter also picks each row's PNG filter, the encoder's costliest step that
// does not depend on what came before it in the stream.
// The hand-off is the ring: the painter fills band b into slot b % 3 once the
// encoder has moved past band b - 3.
class PaintAhead {
 public:
  // Paints rows top..top+rows-1 into out, one row of `width` pixels after another.
  using PaintBand = std::function<void(uint32_t top, uint32_t rows, Color* out)>;

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
  const uint32_t slots_;  // one band being encoded, the next ones painted
  const PaintBand paint_;
  LargeArray<Color> ring_;  // slots_ bands of bandRows_ rows
  std::unique_ptr<int8_t[]> filters_;  // one per row of the ring

  std::mutex mutex_;
  std::condition_variable changed_;
  uint32_t painted_ = 0;   // bands painted so far
  uint32_t released_ = 0;  // bands before this one may be painted over
  bool stop_ = false;
  std::exception_ptr failure_;

  uint32_t current_ = UINT32_MAX;  // the band the encoder reads
  std::thread painter_;            // started last, once the rest is in place
};

}  // namespace wldmap
