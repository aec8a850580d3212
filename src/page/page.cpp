#include "page/page.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "page/page_assets.h"
#include "render/render.h"

namespace wldmap {

namespace {

// The name as HTML text: the five characters HTML gives meaning to become
// references.
std::string htmlText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// A JSON string inside a script element: control characters, quotes and
// backslashes escaped as JSON asks, and < > & as well, so that no "</script>"
// or comment opener can end the element early.
std::string jsonString(const std::string& text) {
  static const char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || c == '<' || c == '>' || c == '&' || byte == 0x7f) {
      out += "\\u00";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// A number as JSON writes it, the same on every system: the shortest text that
// reads back as the same double; null for one that is not finite.
std::string jsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::string jsonColor(Color c) {
  return "[" + std::to_string(c.red) + "," + std::to_string(c.green) + "," +
         std::to_string(c.blue) + "," + std::to_string(c.alpha) + "]";
}

template <typename Colors>
std::string jsonColors(const Colors& colors) {
  std::string out = "[";
  for (const Color& c : colors) out += (out.size() > 1 ? "," : "") + jsonColor(c);
  return out + "]";
}

// Numbers as a JSON array.
template <typename Numbers>
std::string jsonList(const Numbers& numbers) {
  std::string out = "[";
  for (const auto number : numbers) out += (out.size() > 1 ? "," : "") + std::to_string(number);
  return out + "]";
}

// Type to name, as a JSON object keyed by the type in decimal.
std::string jsonNames(const std::map<int32_t, std::string>& names) {
  std::string out = "{";
  for (const auto& [type, name] : names) {
    out += (out.size() > 1 ? ",\"" : "\"") + std::to_string(type) + "\":" + jsonString(name);
  }
  return out + "}";
}

// What the page's script reads of the world: its name, size and levels, the
// rows where the depths begin, the colours of every layer, the types' names and
// when it was saved.
std::string worldJson(const WorldHeader& header, const TileColorTable& table,
                      const TypeNames& names, int64_t saved) {
  const LayerColors colors = layerColors(header, table);
  return "{\"name\":" + jsonString(header.name) + ",\"width\":" + std::to_string(header.width) +
         ",\"height\":" + std::to_string(header.height) +
         ",\"surfaceLevel\":" + jsonNumber(header.surfaceLevel) +
         ",\"rockLevel\":" + jsonNumber(header.rockLevel) +
         ",\"groundStart\":" + std::to_string(colors.groundStart) +
         ",\"rockStart\":" + std::to_string(colors.rockStart) + ",\"colors\":{\"sky\":" +
         jsonColor(colors.sky) + ",\"underground\":" + jsonColor(colors.underground) +
         ",\"rock\":" + jsonColor(colors.rock) + ",\"walls\":" + jsonColors(colors.walls) +
         ",\"water\":" + jsonColor(colors.water) + ",\"lava\":" + jsonColor(colors.lava) +
         ",\"tiles\":" + jsonColors(colors.tiles) + "},\"names\":{\"tiles\":" +
         jsonNames(names.tiles) + ",\"walls\":" + jsonNames(names.walls) + "},\"auxTypes\":" +
         jsonList(kTypesWithAux) +
         (saved != 0 ? ",\"saved\":" + std::to_string(saved) : std::string()) + "}";
}

// `size` bytes at `data` in base 85 (docs/page-cells.md): every four bytes, the
// first the most significant, as five digits, the most significant first; a
// last group of n bytes as its first n + 1 digits. The digits hold no character
// that could end a script element or mean anything in HTML.
void writeBase85(std::ostream& out, const unsigned char* data, size_t size) {
  static const char digits[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz!#$()*+,-./:=?@[]^_{|}~";
  static_assert(sizeof digits == 86, "85 digits");
  std::string text;
  text.reserve((size + 3) / 4 * 5);
  for (size_t i = 0; i < size; i += 4) {
    const size_t count = std::min<size_t>(4, size - i);
    uint32_t group = 0;
    for (size_t k = 0; k < 4; ++k) group = group << 8 | (k < count ? data[i + k] : 0u);
    char group85[5];
    for (int k = 4; k >= 0; --k, group /= 85) group85[k] = digits[group % 85];
    text.append(group85, count + 1);
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// Why zlib failed, thrown as what it is: no memory, or zlib's own words.
[[noreturn]] void zlibFailed(int status, const z_stream& stream) {
  if (status == Z_MEM_ERROR) throw std::bad_alloc();
  throw std::runtime_error(std::string("zlib cannot pack the page's cells: ") +
                           (stream.msg ? stream.msg : "error " + std::to_string(status)));
}

// One plane of the cells as the page carries it (docs/page-cells.md): pairs of
// a run of cells that hold the same byte as the cell to their left, which the
// page fills by copying from the column to the left, and the bytes of the
// cells up to the next long run, as they are; deflated. Rows of one material
// become long runs, and the page's work is a copy a pair. Deflate's run-length
// matches alone pack the pairs about as well as its slower levels, far faster
// (docs/performance.md).
class Plane {
 public:
  explicit Plane(int32_t height) : left_(static_cast<size_t>(height), 0) {
    // Raw deflate, without zlib's header and check: the browser's own
    // decompression checks the stream's structure, and the page is read whole.
    const int status = deflateInit2(&stream_, Z_BEST_SPEED, Z_DEFLATED, -15, 9, Z_RLE);
    if (status != Z_OK) zlibFailed(status, stream_);
    bytes_.reserve(kLongestBytes);
  }
  ~Plane() { deflateEnd(&stream_); }
  Plane(const Plane&) = delete;
  Plane& operator=(const Plane&) = delete;

  // Adds the next column's bytes, from the top.
  void add(const unsigned char* raw) {
    unsigned char* left = left_.data();
    for (size_t y = 0; y < left_.size(); ++y) {
      const unsigned char byte = raw[y];
      const bool same = byte == left[y];
      left[y] = byte;
      if (same) {
        // Cells like their left among bytes stay bytes until there are enough
        // of them to be a run.
        if (bytes_.empty()) {
          ++run_;
          continue;
        }
        bytes_.push_back(byte);
        if (++trailingRun_ == kShortestRun) {
          bytes_.resize(bytes_.size() - kShortestRun);
          putPair();
          run_ = kShortestRun;
        }
      } else {
        bytes_.push_back(byte);
        trailingRun_ = 0;
      }
      if (bytes_.size() == kLongestBytes) putPair();
    }
  }

  // The plane, deflated, once every column is in.
  std::string finish() {
    if (run_ > 0 || !bytes_.empty()) putPair();
    flush(true);
    return std::move(packed_);
  }

 private:
  // A run shorter than this among bytes is told as bytes: a pair costs more.
  static constexpr size_t kShortestRun = 8;
  // The most bytes of one pair, which bounds what is kept.
  static constexpr size_t kLongestBytes = 1 << 16;

  // Writes the pending pair: the run's length, then the bytes, each count in
  // seven bits a byte, the lowest first, the top bit set on all but the last.
  void putPair() {
    putCount(run_);
    putCount(bytes_.size());
    for (const unsigned char byte : bytes_) put(byte);
    run_ = 0;
    trailingRun_ = 0;
    bytes_.clear();
  }
  void putCount(uint64_t count) {
    for (; count >= 128; count >>= 7) put(static_cast<unsigned char>(count | 128));
    put(static_cast<unsigned char>(count));
  }
  void put(unsigned char byte) {
    chunk_[filled_++] = byte;
    if (filled_ == sizeof chunk_) flush(false);
  }

  void flush(bool last) {
    stream_.next_in = chunk_;
    stream_.avail_in = static_cast<uInt>(filled_);
    unsigned char out[64 << 10];
    int status;
    do {
      stream_.next_out = out;
      stream_.avail_out = sizeof out;
      status = deflate(&stream_, last ? Z_FINISH : Z_NO_FLUSH);
      if (status == Z_STREAM_ERROR) zlibFailed(status, stream_);
      packed_.append(reinterpret_cast<const char*>(out), sizeof out - stream_.avail_out);
    } while (stream_.avail_out == 0 || (last && status != Z_STREAM_END));
    filled_ = 0;
  }

  std::vector<unsigned char> left_;   // the bytes of the column to the left
  uint64_t run_ = 0;                  // the pending pair's run
  std::vector<unsigned char> bytes_;  // and its bytes
  size_t trailingRun_ = 0;            // the cells like their left at the end of those bytes
  z_stream stream_{};
  unsigned char chunk_[256 << 10];
  size_t filled_ = 0;
  std::string packed_;
};

}  // namespace

PageCells packCells(const TileGrid& grid) {
  const auto height = static_cast<size_t>(grid.height());
  std::vector<std::unique_ptr<Plane>> planes;
  for (int i = 0; i < 4; ++i) planes.push_back(std::make_unique<Plane>(grid.height()));
  std::vector<unsigned char> raw(height * 4);
  for (int32_t x = 0; x < grid.width(); ++x) {
    const Tile* column = grid.column(x);
    unsigned char* flags = raw.data();
    unsigned char* types = flags + height;
    unsigned char* walls = types + height;
    unsigned char* liquids = walls + height;
    for (size_t y = 0; y < height; ++y) {
      const Tile& t = column[y];
      flags[y] = static_cast<unsigned char>((t.active ? 1 : 0) | (t.lava && t.liquid ? 2 : 0));
      types[y] = t.active ? static_cast<unsigned char>(t.type) : 0;
      walls[y] = static_cast<unsigned char>(t.wall);
      liquids[y] = t.liquid;
    }
    for (size_t i = 0; i < 4; ++i) planes[i]->add(raw.data() + i * height);
  }
  PageCells cells;
  for (size_t i = 0; i < 4; ++i) cells.planes[i] = planes[i]->finish();
  return cells;
}

void writePage(std::ostream& out, const WorldHeader& header, const PageCells& cells,
               const TileColorTable& colors, const TypeNames& names, int64_t saved) {
  // The template's fields, @NAME@ each, in the order they come.
  const std::string page = kPageHtml;
  size_t at = 0;
  for (;;) {
    const size_t open = page.find('@', at);
    const size_t close = open == std::string::npos ? open : page.find('@', open + 1);
    if (close == std::string::npos) {
      out << page.substr(at);
      return;
    }
    out << page.substr(at, open - at);
    const std::string field = page.substr(open + 1, close - open - 1);
    if (field == "CSP") {
      out << kPageCsp;
    } else if (field == "TITLE") {
      out << htmlText(header.name);
    } else if (field == "STYLE") {
      out << kPageCss;
    } else if (field == "SCRIPT") {
      out << kPageJs;
    } else if (field == "WORLD") {
      out << worldJson(header, colors, names, saved);
    } else if (field == "CELLS") {
      // One plane a line.
      for (size_t i = 0; i < cells.planes.size(); ++i) {
        if (i > 0) out << '\n';
        const std::string& plane = cells.planes[i];
        writeBase85(out, reinterpret_cast<const unsigned char*>(plane.data()), plane.size());
      }
    } else {
      out << '@';  // no field: the next @ may open one
      at = open + 1;
      continue;
    }
    at = close + 1;
  }
}

}  // namespace wldmap
