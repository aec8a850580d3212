#include <algorithm>
#include <cstring>

#include "platform/files.h"

namespace wldmap {
namespace platform {

// A read buffer over the file, for small reads such as a colour file's tokens:
// small reads come from the buffer, large ones go straight to the caller; a
// seek within what is buffered costs no system call, nor does one to the end
// when the buffer reaches it.
class InputFileStream::Buffer : public std::streambuf {
 public:
  explicit Buffer(const std::string& path) : file_(path), buffer_(new char[kSize]) {
    restartAt(0);
  }
  const InputFile& file() const { return file_; }

 protected:
  int_type underflow() override {
    const size_t got = file_.read(buffer_.get(), kSize);
    sourceOffset_ += got;
    setg(buffer_.get(), buffer_.get(), buffer_.get() + got);
    return got == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
  }

  std::streamsize xsgetn(char* out, std::streamsize count) override {
    std::streamsize done = 0;
    while (done < count) {
      const std::streamsize buffered = egptr() - gptr();
      if (buffered > 0) {
        const std::streamsize step = std::min(buffered, count - done);
        std::memcpy(out + done, gptr(), static_cast<size_t>(step));
        gbump(static_cast<int>(step));
        done += step;
      } else if (static_cast<size_t>(count - done) >= kSize) {
        // A caller with a buffer of its own is not buffered twice.
        const size_t got = file_.read(out + done, static_cast<size_t>(count - done));
        if (got == 0) break;
        restartAt(sourceOffset_ + got);
        done += static_cast<std::streamsize>(got);
      } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
        break;
      }
    }
    return done;
  }

  pos_type seekoff(off_type offset, std::ios::seekdir from, std::ios::openmode which) override {
    const auto end = static_cast<off_type>(sourceOffset_);
    const off_type here = end - (egptr() - gptr());
    if (from == std::ios::cur && offset == 0) return pos_type(here);  // only asks where
    const off_type base = from == std::ios::beg   ? 0
                          : from == std::ios::cur ? here
                                                  : static_cast<off_type>(file_.size());
    return seekpos(pos_type(base + offset), which);
  }

  pos_type seekpos(pos_type position, std::ios::openmode which) override {
    const off_type to = off_type(position);
    if (!(which & std::ios::in) || to < 0) return pos_type(off_type(-1));
    const auto end = static_cast<off_type>(sourceOffset_);
    const off_type bufferStart = end - (egptr() - eback());
    if (to >= bufferStart && to <= end) {
      setg(eback(), eback() + (to - bufferStart), egptr());
    } else {
      file_.seek(static_cast<uint64_t>(to));
      restartAt(static_cast<uint64_t>(to));
    }
    return position;
  }

 private:
  // Large enough that small reads seldom reach the file.
  static constexpr size_t kSize = 64 << 10;

  // Empties the buffer, the file having moved to `offset`.
  void restartAt(uint64_t offset) {
    sourceOffset_ = offset;
    setg(buffer_.get(), buffer_.get(), buffer_.get());
  }

  InputFile file_;
  std::unique_ptr<char[]> buffer_;
  uint64_t sourceOffset_ = 0;  // the file's offset of the buffer's end
};

InputFileStream::InputFileStream(const std::string& path)
    : std::istream(nullptr), buffer_(std::make_unique<Buffer>(path)) {
  rdbuf(buffer_.get());
  exceptions(std::ios::badbit);
}

InputFileStream::~InputFileStream() = default;

const InputFile& InputFileStream::file() const { return buffer_->file(); }

}  // namespace platform
}  // namespace wldmap
