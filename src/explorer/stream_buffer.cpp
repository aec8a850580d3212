#include "explorer/stream_buffer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace wldmap {
namespace explorer {

StreamBuffer::StreamBuffer(IStream* stream) : stream_(stream), buffer_(new char[kSize]) {
  STATSTG stat{};
  if (FAILED(stream_->Stat(&stat, STATFLAG_NONAME))) {
    throw std::runtime_error("cannot tell the stream's size");
  }
  size_ = stat.cbSize.QuadPart;
  LARGE_INTEGER start{};
  if (FAILED(stream_->Seek(start, STREAM_SEEK_SET, nullptr))) {
    throw std::runtime_error("cannot move to the stream's start");
  }
  setg(buffer_.get(), buffer_.get(), buffer_.get());
}

size_t StreamBuffer::read(char* out, size_t count) {
  // One call reads at most what a ULONG counts, and never past the size the
  // stream reported, whatever more it may hold.
  const auto asked = static_cast<ULONG>(
      std::min<uint64_t>({count, size_ - position_, uint64_t(1) << 30}));
  if (asked == 0) return 0;
  ULONG got = 0;
  if (FAILED(stream_->Read(out, asked, &got)) || got > asked) {
    throw std::runtime_error("cannot read it");
  }
  position_ += got;
  return got;
}

StreamBuffer::int_type StreamBuffer::underflow() {
  const size_t got = read(buffer_.get(), kSize);
  setg(buffer_.get(), buffer_.get(), buffer_.get() + got);
  return got == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
}

std::streamsize StreamBuffer::xsgetn(char* out, std::streamsize count) {
  std::streamsize done = 0;
  while (done < count) {
    const std::streamsize buffered = egptr() - gptr();
    if (buffered > 0) {
      const std::streamsize step = std::min(buffered, count - done);
      std::memcpy(out + done, gptr(), static_cast<size_t>(step));
      gbump(static_cast<int>(step));
      done += step;
    } else if (static_cast<size_t>(count - done) >= kSize) {
      // A large read, such as the tile reader's, goes straight to the caller.
      const size_t got = read(out + done, static_cast<size_t>(count - done));
      if (got == 0) break;
      done += static_cast<std::streamsize>(got);
    } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
      break;
    }
  }
  return done;
}

}  // namespace explorer
}  // namespace wldmap
