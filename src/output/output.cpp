#include "output/output.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <png++/png.hpp>

#include "output/filter_costs.h"
#include "platform/platform.h"

namespace wldmap {

namespace {

// png++'s writer with libpng's warnings collected rather than printed, and with
// the size limits raised to what PNG itself allows (libpng stops at 1,000,000
// pixels a side by default).
class MapWriter : public png::writer<std::ostream> {
 public:
  MapWriter(std::ostream& out, const PngWarningHandler& onWarning)
      : png::writer<std::ostream>(out), onWarning_(onWarning) {
    png_struct* png = get_png_struct();
    png_set_error_fn(png, png_get_error_ptr(png), raise_error, collectWarning);
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  }

 private:
  static void collectWarning(png_struct* png, const char* message) {
    auto* self = static_cast<MapWriter*>(static_cast<png::io_base*>(png_get_error_ptr(png)));
    self->onWarning_(message);
  }
  const PngWarningHandler& onWarning_;
};

// An output stream buffer over the pending file: the PNG goes through the very
// handle that created the file, never through a second open by name.
class PendingFileBuffer : public std::streambuf {
 public:
  explicit PendingFileBuffer(platform::PendingFile& file) : file_(file) {
    setp(buffer_.get(), buffer_.get() + kSize);
  }
  // Writes what is buffered; rethrows the file's own error, which says more than
  // the stream's failure flag.
  void drain() {
    file_.write(pbase(), static_cast<size_t>(pptr() - pbase()));
    setp(buffer_.get(), buffer_.get() + kSize);
  }

 protected:
  int_type overflow(int_type c) override {
    drain();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override {
    drain();
    return 0;
  }

 private:
  static constexpr size_t kSize = 256 << 10;
  platform::PendingFile& file_;
  std::unique_ptr<char[]> buffer_{new char[kSize]};
};

// What the heuristic charges for a filtered byte: its magnitude read as signed.
inline uint8_t cost(uint8_t v) { return std::min(v, uint8_t(-v)); }

// The PNG Paeth predictor, with libpng's order of preference on ties.
inline uint8_t paeth(uint8_t a, uint8_t b, uint8_t c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// floor((a + b) / 2) without leaving 8 bits.
inline uint8_t average(uint8_t a, uint8_t b) { return uint8_t((a & b) + ((a ^ b) >> 1)); }

using detail::kFilterBpp;
using detail::kFilters;

// Adds the five filters' costs of byte v, with a to its left, b above it and c
// above a.
inline void addCosts(uint8_t v, uint8_t a, uint8_t b, uint8_t c, uint64_t* sums) {
  sums[0] += cost(v);
  sums[1] += cost(uint8_t(v - a));
  sums[2] += cost(uint8_t(v - b));
  sums[3] += cost(uint8_t(v - average(a, b)));
  sums[4] += cost(uint8_t(v - paeth(a, b, c)));
}

// The image's own rows, each left to libpng's choice of filter.
RowSource rowsOf(const Image& image) {
  return [&image](uint32_t y) { return EncoderRow{image.row(y)}; };
}

}  // namespace

int chooseFilter(const Color* row, const Color* above, uint32_t width) {
  const auto* x = reinterpret_cast<const uint8_t*>(row);
  const auto* up = reinterpret_cast<const uint8_t*>(above);
  uint64_t sums[kFilters] = {};
  if (width == 0) return 0;  // no bytes: every filter costs nothing
  // The first pixel has nothing to its left: the filters see zeros there.
  for (size_t i = 0; i < kFilterBpp; ++i) addCosts(x[i], 0, up[i], 0, sums);
  const size_t bytes = size_t(width) * kFilterBpp;
  for (size_t i = detail::addCostsFast(x, up, kFilterBpp, bytes, sums); i < bytes; ++i) {
    addCosts(x[i], x[i - kFilterBpp], up[i], up[i - kFilterBpp], sums);
  }
  // libpng leaves out the filters that look left on an image one pixel wide.
  constexpr int kNone = 0, kUp = 2;
  int best = kNone;
  for (int filter = 1; filter < kFilters; ++filter) {
    if (width == 1 && filter != kUp) continue;
    if (sums[filter] < sums[best]) best = filter;
  }
  return best;
}

void writePng(std::ostream& out, uint32_t width, uint32_t height, const RowSource& rows,
              const PngWarningHandler& onWarning) {
  static_assert(sizeof(Color) == 4, "a pixel is four bytes: red, green, blue, alpha");
  MapWriter writer(out, onWarning);
  png::image_info info = png::make_image_info<png::rgba_pixel>();
  info.set_width(width);
  info.set_height(height);
  writer.set_image_info(info);
  writer.write_info();
  png_struct* png = writer.get_png_struct();
  for (uint32_t y = 0; y < height; ++y) {
    const EncoderRow row = rows(y);
    // The first row is left to libpng: it fixes zlib's strategy by the filters
    // allowed then. After it, a filter chosen ahead is the only one allowed.
    if (y > 0 && row.filter != EncoderRow::kLibpngChooses) {
      png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE << row.filter);
    }
    // libpng copies each row before filtering it; nothing writes through this pointer.
    writer.write_row(const_cast<png::byte*>(reinterpret_cast<const png::byte*>(row.pixels)));
  }
  writer.write_end_info();
}

void writePng(std::ostream& out, const Image& image, const PngWarningHandler& onWarning) {
  writePng(out, image.width(), image.height(), rowsOf(image), onWarning);
}

void savePng(const std::string& path, uint32_t width, uint32_t height, const RowSource& rows,
             const PngWarningHandler& onWarning) {
  try {
    platform::PendingFile file(path);
    PendingFileBuffer buffer(file);
    std::ostream out(&buffer);
    // The stream rethrows the file's own error, which png++ turns into a
    // png::error carrying its text ("cannot write ...: File too large").
    out.exceptions(std::ios::badbit);
    writePng(out, width, height, rows, onWarning);
    buffer.drain();
    file.commit();
  } catch (const platform::SystemError& e) {
    throw OutputError(e.what());
  } catch (const png::error& e) {
    throw OutputError(e.what());
  }
}

void savePng(const std::string& path, const Image& image, const PngWarningHandler& onWarning) {
  savePng(path, image.width(), image.height(), rowsOf(image), onWarning);
}

}  // namespace wldmap
