#include "platform/input_stream.h"

#include "platform/read_buffer.h"

namespace wldmap {
namespace platform {

// A read buffer over the file, for small reads such as a header's or a colour
// file's tokens; seeks within what is buffered, and to the end, cost no system
// call.
class InputFileStream::Buffer : public ReadBuffer {
 public:
  explicit Buffer(const std::string& path) : file_(path) {}
  const InputFile& file() const { return file_; }

 protected:
  size_t readSource(char* out, size_t count) override { return file_.read(out, count); }

  pos_type seekoff(off_type offset, std::ios::seekdir from, std::ios::openmode which) override {
    const off_type end = static_cast<off_type>(sourceOffset());
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
    const off_type end = static_cast<off_type>(sourceOffset());
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
  InputFile file_;
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
