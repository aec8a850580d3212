#include "platform/input_stream.h"

#include <algorithm>
#include <cstring>
#include <streambuf>

namespace wldmap {
namespace platform {

// A read buffer over the file, for small reads such as a header's or a colour
// file's tokens. A read of the buffer's size or more goes straight into the
// caller's memory, so a caller with a buffer of its own is not buffered twice;
// seeks within what is buffered, and to the end, cost no system call.
class InputFileStream::Buffer : public std::streambuf {
 public:
  explicit Buffer(const std::string& path) : file_(path), buffer_(new char[kSize]) {
    setg(buffer_.get(), buffer_.get(), buffer_.get());
  }
  const InputFile& file() const { return file_; }

 protected:
  int_type underflow() override {
    const size_t got = file_.read(buffer_.get(), kSize);
    end_ += got;
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
        const size_t got = file_.read(out + done, static_cast<size_t>(count - done));
        if (got == 0) break;
        end_ += got;
        setg(buffer_.get(), buffer_.get(), buffer_.get());
        done += static_cast<std::streamsize>(got);
      } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
        break;
      }
    }
    return done;
  }

  pos_type seekoff(off_type offset, std::ios::seekdir from, std::ios::openmode which) override {
    const off_type here = static_cast<off_type>(end_) - (egptr() - gptr());
    if (from == std::ios::cur && offset == 0) return pos_type(here);  // only asks where
    const off_type base = from == std::ios::beg   ? 0
                          : from == std::ios::cur ? here
                                                  : static_cast<off_type>(file_.size());
    return seekpos(pos_type(base + offset), which);
  }

  pos_type seekpos(pos_type position, std::ios::openmode which) override {
    const off_type to = off_type(position);
    if (!(which & std::ios::in) || to < 0) return pos_type(off_type(-1));
    const off_type bufferStart = static_cast<off_type>(end_) - (egptr() - eback());
    if (to >= bufferStart && to <= static_cast<off_type>(end_)) {
      setg(eback(), eback() + (to - bufferStart), egptr());
    } else {
      file_.seek(static_cast<uint64_t>(to));
      end_ = static_cast<uint64_t>(to);
      setg(buffer_.get(), buffer_.get(), buffer_.get());
    }
    return position;
  }

 private:
  static constexpr size_t kSize = 64 << 10;
  InputFile file_;
  std::unique_ptr<char[]> buffer_;
  uint64_t end_ = 0;  // the file offset of egptr()
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
