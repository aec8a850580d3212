// A read buffer over any source of bytes, for the standard streams the readers
// take: small reads come from the buffer, large ones go straight to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <streambuf>

namespace wldmap {
namespace platform {

class ReadBuffer : public std::streambuf {
 protected:
  // A buffer of `size` bytes, empty, at offset 0 of the source. The default is
  // large enough that small reads seldom reach the source, and small enough
  // that a reader with a larger buffer of its own is passed straight through.
  explicit ReadBuffer(size_t size = 64 << 10);

  // Reads up to `count` bytes at the source's position; 0 only at its end.
  // Whatever it throws passes through the stream to its reader.
  virtual size_t readSource(char* out, size_t count) = 0;

  // The source's offset of the buffer's end: of the next byte read from it.
  uint64_t sourceOffset() const { return sourceOffset_; }
  // Empties the buffer, the source having moved to `offset`.
  void restartAt(uint64_t offset);

  int_type underflow() override;
  std::streamsize xsgetn(char* out, std::streamsize count) override;

 private:
  const size_t size_;
  std::unique_ptr<char[]> buffer_;
  uint64_t sourceOffset_ = 0;
};

}  // namespace platform
}  // namespace wldmap
