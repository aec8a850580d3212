// A stream over a file's bytes whose reads fail from some byte on, as a disk
// that answers EIO there does: the failure comes as an exception from the
// buffer, which the stream turns into badbit. Seeking works over the whole file,
// so its size can be asked.
#pragma once

#include <algorithm>
#include <stdexcept>
#include <streambuf>
#include <string>

namespace wldmap {

class FailingBuffer : public std::streambuf {
 public:
  // Reads of `bytes` fail from byte `good` on (by default, at the end).
  explicit FailingBuffer(std::string bytes, size_t good = std::string::npos)
      : bytes_(std::move(bytes)), good_(static_cast<off_type>(std::min(good, bytes_.size()))) {
    seekpos(0, std::ios::in);
  }

 protected:
  int_type underflow() override { throw std::runtime_error("Input/output error"); }

  pos_type seekoff(off_type offset, std::ios::seekdir from, std::ios::openmode which) override {
    const off_type here = (gptr() - eback()) + beyond_;
    const off_type base = from == std::ios::beg   ? 0
                          : from == std::ios::cur ? here
                                                  : static_cast<off_type>(bytes_.size());
    return seekpos(pos_type(base + offset), which);
  }

  pos_type seekpos(pos_type position, std::ios::openmode) override {
    const off_type to = position;
    if (to < 0 || to > static_cast<off_type>(bytes_.size())) return pos_type(off_type(-1));
    const off_type inside = std::min(to, good_);
    setg(bytes_.data(), bytes_.data() + inside, bytes_.data() + good_);
    beyond_ = to - inside;
    return position;
  }

 private:
  std::string bytes_;
  off_type good_;
  off_type beyond_ = 0;  // how far past the readable bytes a seek went
};

}  // namespace wldmap
