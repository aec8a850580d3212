#include "app/paint_ahead.h"

#include <algorithm>

namespace wldmap {

namespace {

// Rows a band holds: the painter's own band height, so each band is one sweep
// across the grid's columns.
constexpr uint32_t kBandRows = 64;

}  // namespace

PaintAhead::PaintAhead(uint32_t width, uint32_t height, PaintBand paint)
    : width_(width),
      height_(height),
      bandRows_(std::min(kBandRows, height)),
      bands_((height + bandRows_ - 1) / bandRows_),
      paint_(std::move(paint)),
      ring_(makeLargeArray<Color>(checkedProduct(checkedProduct(width, bandRows_), kSlots))),
      painter_(&PaintAhead::paintAll, this) {}

PaintAhead::~PaintAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  painter_.join();
}

void PaintAhead::paintAll() {
  const size_t slotPixels = size_t(width_) * bandRows_;
  for (uint32_t band = 0; band < bands_; ++band) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || band < released_ + kSlots; });
      if (stop_) return;
    }
    const uint32_t top = band * bandRows_;
    try {
      paint_(top, std::min(bandRows_, height_ - top), ring_.get() + (band % kSlots) * slotPixels);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(mutex_);
      failure_ = std::current_exception();
      stop_ = true;
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!failure_) painted_ = band + 1;
    }
    changed_.notify_all();
    if (failure_) return;
  }
}

const Color* PaintAhead::row(uint32_t y) {
  const uint32_t band = y / bandRows_;
  if (band != current_) {
    std::unique_lock<std::mutex> lock(mutex_);
    released_ = band;
    changed_.notify_all();
    changed_.wait(lock, [&] { return painted_ > band || failure_; });
    if (painted_ <= band) std::rethrow_exception(failure_);
    current_ = band;
  }
  const size_t slot = band % kSlots;
  return ring_.get() + (slot * bandRows_ + y % bandRows_) * size_t(width_);
}

}  // namespace wldmap
