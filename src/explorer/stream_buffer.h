// A world's bytes as Explorer hands them over: a read buffer over an IStream.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <memory>
#include <streambuf>

namespace wldmap {
namespace explorer {

// Reads an IStream from its start to the size it reports, never past it. A read
// that fails throws std::runtime_error ("cannot read it"), which an istream
// whose exception mask holds badbit passes on: a failed read is never an end.
class StreamBuffer : public std::streambuf {
 public:
  // Takes the stream's size and moves to its start; throws std::runtime_error
  // when the stream can do neither. The stream must outlive the buffer.
  explicit StreamBuffer(IStream* stream);

  // The stream's size in bytes.
  uint64_t size() const { return size_; }

 protected:
  int_type underflow() override;
  std::streamsize xsgetn(char* out, std::streamsize count) override;

 private:
  // Reads up to `count` bytes, at most to the stream's size; 0 only at its end.
  size_t read(char* out, size_t count);

  static constexpr size_t kSize = 64 << 10;
  IStream* const stream_;
  uint64_t size_ = 0;
  uint64_t position_ = 0;  // bytes taken from the stream so far
  std::unique_ptr<char[]> buffer_;
};

}  // namespace explorer
}  // namespace wldmap
