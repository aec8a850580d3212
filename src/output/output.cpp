#include "output/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <png++/png.hpp>

namespace wldmap {

void writePng(std::ostream& out, const Image& image) {
  static_assert(sizeof(Color) == 4, "a pixel is four bytes: red, green, blue, alpha");
  png::writer<std::ostream> writer(out);
  png::image_info info = png::make_image_info<png::rgba_pixel>();
  info.set_width(image.width());
  info.set_height(image.height());
  writer.set_image_info(info);
  writer.write_info();
  for (uint32_t y = 0; y < image.height(); ++y) {
    // libpng copies each row before filtering it; nothing writes through this pointer.
    writer.write_row(const_cast<png::byte*>(reinterpret_cast<const png::byte*>(image.row(y))));
  }
  writer.write_end_info();
}

namespace {

std::string describeErrno(const std::string& what) { return what + ": " + std::strerror(errno); }

// Creates a new file beside `path` under a name no one else holds; the name.
std::string createTemporary(const std::string& path) {
  for (int attempt = 0;; ++attempt) {
    const std::string candidate =
        path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    // Mode 0666 lets the umask decide the map's permissions, as for any new file.
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return candidate;
    }
    if (errno != EEXIST || attempt == 100) {
      throw OutputError(describeErrno("cannot create a temporary file beside it"));
    }
  }
}

}  // namespace

void savePng(const std::string& path, const Image& image) {
  const std::string temporary = createTemporary(path);
  try {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) throw OutputError(describeErrno("cannot open " + temporary));
    errno = 0;
    try {
      writePng(out, image);
    } catch (const png::error& e) {
      // The stream's own failure (errno) says more than png++'s generic message.
      const int cause = errno;
      throw OutputError("cannot write " + temporary + ": " +
                        (cause != 0 ? std::strerror(cause) : e.what()));
    }
    // A buffered write can fail only when it is flushed, so check after closing.
    out.close();
    if (out.fail()) throw OutputError(describeErrno("cannot write " + temporary));
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
      throw OutputError(describeErrno("cannot rename " + temporary + " to it"));
    }
  } catch (...) {
    std::remove(temporary.c_str());
    throw;
  }
}

}  // namespace wldmap
