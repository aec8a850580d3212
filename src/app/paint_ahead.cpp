#include "app/paint_ahead.h"

#include <algorithm>

#include "platform/platform.h"

namespace wldmap {

namespace {

// Rows a band holds: the painter's own band height, so each band is one sweep
// across the grid's columns.
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
      slots_(std::min(kSlots, bands_)),
      paint_(std::move(paint)),
      ring_(makeLargeArray<Color>(checkedProduct(checkedProduct(width, bandRows_), slots_))),
      filters_(new int8_t[size_t(bandRows_) * slots_]),
      painter_(platform::startThread([this] { paintAll(); })) {}

PaintAhead::~PaintAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  painter_.join();
}

void PaintAhead::paintAll() {
  for (uint32_t band = 0; band < bands_; ++band) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || band < released_ + slots_; });
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
  Color* pixels = ring_.get() + (band % slots_) * slotPixels;
  int8_t* filters = filters_.get() + (band % slots_) * bandRows_;
  paint_(top, rows, pixels);
  // The row above a band's first is the last of the band before, whose slot is
  // not painted over until the encoder is past this band's.
  const Color* above = band == 0 ? nullptr
                                 : ring_.get() + ((band - 1) % slots_) * slotPixels +
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
    released_ = band;
    changed_.notify_all();
    changed_.wait(lock, [&] { return painted_ > band || failure_; });
    if (painted_ <= band) std::rethrow_exception(failure_);
    current_ = band;
  }
  const size_t at = (band % slots_) * bandRows_ + y % bandRows_;
  return EncoderRow{ring_.get() + at * width_, filters_[at]};
}

}  // namespace wldmap
