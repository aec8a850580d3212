#include "explorer/stream_buffer.h"

#include <algorithm>
#include <stdexcept>

namespace wldmap {
namespace explorer {

StreamBuffer::StreamBuffer(IStream* stream) : stream_(stream) {
  STATSTG stat{};
  if (FAILED(stream_->Stat(&stat, STATFLAG_NONAME))) {
    throw std::runtime_error("cannot tell the stream's size");
  }
  size_ = stat.cbSize.QuadPart;
  LARGE_INTEGER start{};
  if (FAILED(stream_->Seek(start, STREAM_SEEK_SET, nullptr))) {
    throw std::runtime_error("cannot move to the stream's start");
  }
}

size_t StreamBuffer::readSource(char* out, size_t count) {
  // One call reads at most what a ULONG counts, and never past the size the
  // stream reported, whatever more it may hold.
  const auto asked = static_cast<ULONG>(
      std::min<uint64_t>({count, size_ - sourceOffset(), uint64_t(1) << 30}));
  if (asked == 0) return 0;
  ULONG got = 0;
  if (FAILED(stream_->Read(out, asked, &got)) || got > asked) {
    throw std::runtime_error("cannot read it");
  }
  return got;
}

}  // namespace explorer
}  // namespace wldmap
