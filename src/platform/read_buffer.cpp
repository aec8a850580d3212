#include "platform/read_buffer.h"

#include <algorithm>
#include <cstring>

namespace wldmap {
namespace platform {

ReadBuffer::ReadBuffer(size_t size) : size_(size), buffer_(new char[size]) { restartAt(0); }

void ReadBuffer::restartAt(uint64_t offset) {
  sourceOffset_ = offset;
  setg(buffer_.get(), buffer_.get(), buffer_.get());
}

ReadBuffer::int_type ReadBuffer::underflow() {
  const size_t got = readSource(buffer_.get(), size_);
  sourceOffset_ += got;
  setg(buffer_.get(), buffer_.get(), buffer_.get() + got);
  return got == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
}

std::streamsize ReadBuffer::xsgetn(char* out, std::streamsize count) {
  std::streamsize done = 0;
  while (done < count) {
    const std::streamsize buffered = egptr() - gptr();
    if (buffered > 0) {
      const std::streamsize step = std::min(buffered, count - done);
      std::memcpy(out + done, gptr(), static_cast<size_t>(step));
      gbump(static_cast<int>(step));
      done += step;
    } else if (static_cast<size_t>(count - done) >= size_) {
      // A caller with a buffer of its own, such as the tile reader, is not
      // buffered twice.
      const size_t got = readSource(out + done, static_cast<size_t>(count - done));
      if (got == 0) break;
      restartAt(sourceOffset_ + got);
      done += static_cast<std::streamsize>(got);
    } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
      break;
    }
  }
  return done;
}

}  // namespace platform
}  // namespace wldmap
