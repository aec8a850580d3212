#include "output/output.h"

#include <memory>
#include <stdexcept>

#include <png++/png.hpp>

#include "output/paint_ahead.h"
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

// An output stream buffer over a file being written: the PNG goes through the
// very handle that opened the file, never through a second open by name.
template <typename File>
class FileBuffer : public std::streambuf {
 public:
  explicit FileBuffer(File& file) : file_(file) {
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
  File& file_;
  std::unique_ptr<char[]> buffer_{new char[kSize]};
};

// Encodes the rows that the painter hands over; see writePng.
void encode(std::ostream& out, uint32_t width, uint32_t height, PaintAhead& rows,
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
    const EncoderRow row = rows.row(y);
    // The first row is left to libpng: it fixes zlib's strategy by the filters
    // allowed then. After it, the filter chosen ahead is the only one allowed.
    if (row.filter != EncoderRow::kLibpngChooses) {
      png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE << row.filter);
    }
    // libpng copies each row before filtering it; nothing writes through this pointer.
    writer.write_row(const_cast<png::byte*>(reinterpret_cast<const png::byte*>(row.pixels)));
  }
  writer.write_end_info();
}

// Writes what `write` writes into `file` (a new file or an output), through
// the very handle that made it, and commits it.
template <typename File>
void writeThrough(File& file, const std::function<void(std::ostream&)>& write) {
  FileBuffer<File> buffer(file);
  std::ostream out(&buffer);
  // The stream rethrows the file's own error ("cannot write it: File too
  // large"), which png++ turns into a png::error carrying its text.
  out.exceptions(std::ios::badbit);
  write(out);
  buffer.drain();
  file.commit();
}

}  // namespace

void writePng(std::ostream& out, uint32_t width, uint32_t height, const PaintBand& paintBand,
              const PngWarningHandler& onWarning) {
  try {
    PaintAhead rows(width, height, paintBand);
    encode(out, width, height, rows, onWarning);
  } catch (const png::error& e) {
    throw PngError(e.what());  // callers need not know png++'s types
  }
}

void savePng(const std::string& path, uint32_t width, uint32_t height,
             const PaintBand& paintBand, const PngWarningHandler& onWarning) {
  platform::PendingFile file(path, "map", onWarning);
  writeThrough(file, [&](std::ostream& out) { writePng(out, width, height, paintBand, onWarning); });
}

void saveFile(const std::string& path, const std::string& product,
              const std::function<void(std::ostream&)>& write, const PngWarningHandler& onWarning) {
  platform::PendingFile file(path, product, onWarning);
  writeThrough(file, write);
}

void writePngOutput(const std::string& path, uint32_t width, uint32_t height,
                    const PaintBand& paintBand, const PngWarningHandler& onWarning) {
  platform::OutputFile file(path, onWarning);
  writeThrough(file, [&](std::ostream& out) { writePng(out, width, height, paintBand, onWarning); });
}

}  // namespace wldmap
