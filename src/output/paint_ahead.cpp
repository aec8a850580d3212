#include "output/paint_ahead.h"

#include <algorithm>

#include "output/filter_choice.h"
#include "platform/platform.h"

namespace wldmap {

namespace {

// Rows a band holds; the painter paints each band in one sweep across the
// grid's columns, reading a short run of every column and writing whole
// stretches of a few image rows, so neither side is walked with a stride.
constexpr uint32_t kBandRows = 64;
// Bands in the ring: one being encoded and two painted ahead; fewer when the map
// has fewer, so a map of a few very wide rows takes no more than its own size.
constexpr uint32_t kSlots = 3;

}  // namespace

PaintAhead::PaintAhead(uint32_t width, uint32_t height, PaintBand paint)
    : width_(width),
      height_(height),
      // A map of no rows has no bands, but the band height must not be 0.
      bandRows_(std::max(1u, std::min(kBandRows, height))),
      bands_((height + bandRows_ - 1) / bandRows_),
      ring_{std::max(1u, std::min(kSlots, bands_))},
      paint_(std::move(paint)),
      pixels_(makeLargeArray<Color>(checkedProduct(checkedProduct(width, bandRows_), ring_.slots))),
      filters_(new int8_t[size_t(bandRows_) * ring_.slots]),
      painter_([this] { paintAll(); }) {}

PaintAhead::~PaintAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  // painter_, the last member, is joined as the first to go.
}

void PaintAhead::paintAll() {
  for (uint32_t band = 0; band < bands_; ++band) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || ring_.mayPaint(band, reading_); });
      if (stop_) return;
    }
    std::exception_ptr failure;
    try {
      fill(band);
    } catch (...) {
      failure = std::current_exception();
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (failure) {
        failure_ = failure;
      } else {
        painted_ = band + 1;
      }
    }
    changed_.notify_all();
    if (failure) return;
  }
}

void PaintAhead::fill(uint32_t band) {
  const size_t slotPixels = size_t(width_) * bandRows_;
  const uint32_t top = band * bandRows_;
  const uint32_t rows = std::min(bandRows_, height_ - top);
  Color* pixels = pixels_.get() + ring_.slot(band) * slotPixels;
  int8_t* filters = filters_.get() + ring_.slot(band) * bandRows_;
  paint_(top, rows, pixels);
  // The row above a band's first is the last of the band before, whose slot is
  // not painted over until the encoder is past this band's.
  const Color* above = band == 0 ? nullptr
                                 : pixels_.get() + ring_.slot(band - 1) * slotPixels +
                                       size_t(bandRows_ - 1) * width_;
  for (uint32_t i = 0; i < rows; ++i) {
    const Color* row = pixels + size_t(i) * width_;
    filters[i] = static_cast<int8_t>(
        top + i == 0 ? EncoderRow::kLibpngChooses : chooseFilter(row, above, width_));
    above = row;
  }
}

EncoderRow PaintAhead::row(uint32_t y) {
  const uint32_t band = y / bandRows_;
  if (band != current_) {
    std::unique_lock<std::mutex> lock(mutex_);
    reading_ = band;
    changed_.notify_all();
    changed_.wait(lock, [&] { return painted_ > band || failure_; });
    if (painted_ <= band) std::rethrow_exception(failure_);
    current_ = band;
  }
  const size_t at = size_t(ring_.slot(band)) * bandRows_ + y % bandRows_;
  return EncoderRow{pixels_.get() + at * width_, filters_[at]};
}

}  // namespace wldmap
