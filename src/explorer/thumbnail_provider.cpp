#include "explorer/thumbnail_provider.h"

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/core.h"
#include "model/paint_band.h"
#include "platform/platform.h"

namespace wldmap {
namespace explorer {

std::atomic<long> moduleUsers{0};

namespace {

// The colour table from tilecolors.txt beside the DLL, read at the first
// thumbnail of this loaded DLL; null when it cannot be read.
const TileColorTable* colorTable() {
  static const std::optional<TileColorTable> table =
      colorsBesideModule(reinterpret_cast<const void*>(&colorTable), "");
  return table ? &*table : nullptr;
}

// The world's bytes from the stream, from its start to the size it reports and
// never past it, whatever more it may hold. Throws std::runtime_error when the
// stream cannot tell its size, move to its start or read.
ReadBytes streamReader(IStream* stream, uint64_t& size) {
  STATSTG stat{};
  LARGE_INTEGER start{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) ||
      FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) {
    throw std::runtime_error("cannot read the stream");
  }
  size = stat.cbSize.QuadPart;
  return [stream, size, offset = uint64_t(0)](char* out, size_t count) mutable -> size_t {
    // One call reads at most what a ULONG counts.
    const auto asked = static_cast<ULONG>(
        std::min<uint64_t>({count, size - offset, uint64_t{platform::kLargestCall}}));
    if (asked == 0) return 0;
    ULONG got = 0;
    if (FAILED(stream->Read(out, asked, &got)) || got > asked) {
      throw std::runtime_error("cannot read it");
    }
    offset += got;
    return got;
  };
}

// A top-down 32-bit DIB section of `size`, painted by `paint` and turned from
// RGBA into the BGRA order of a DIB. Throws std::bad_alloc when the system has
// no room for it, and what `paint` throws; the bitmap is deleted then.
HBITMAP makeBitmap(ThumbnailSize size, const PaintBand& paint) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(size.width);
  info.bmiHeader.biHeight = -static_cast<LONG>(size.height);  // negative: top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    if (bitmap) DeleteObject(bitmap);
    throw std::bad_alloc();
  }
  try {
    auto* pixels = static_cast<Color*>(bits);  // 32-bit rows have no padding
    paint(0, size.height, pixels);
    const size_t count = size_t(size.width) * size.height;
    for (size_t i = 0; i < count; ++i) std::swap(pixels[i].red, pixels[i].blue);
  } catch (...) {
    DeleteObject(bitmap);
    throw;
  }
  return bitmap;
}

}  // namespace

ThumbnailProvider::ThumbnailProvider() { ++moduleUsers; }

ThumbnailProvider::~ThumbnailProvider() {
  if (stream_) stream_->Release();
  --moduleUsers;
}

HRESULT ThumbnailProvider::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IThumbnailProvider))) {
    *out = static_cast<IThumbnailProvider*>(this);
  } else if (IsEqualIID(riid, __uuidof(IInitializeWithStream))) {
    *out = static_cast<IInitializeWithStream*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG ThumbnailProvider::AddRef() { return ++references_; }

ULONG ThumbnailProvider::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT ThumbnailProvider::Initialize(IStream* stream, DWORD) {
  if (!stream) return E_INVALIDARG;
  if (stream_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
  stream_ = stream;
  stream_->AddRef();
  return S_OK;
}

HRESULT ThumbnailProvider::GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) {
  if (!bitmap || !alpha) return E_POINTER;
  *bitmap = nullptr;
  *alpha = WTSAT_UNKNOWN;
  if (!stream_) return E_UNEXPECTED;
  if (cx == 0) return E_INVALIDARG;
  try {
    const TileColorTable* colors = colorTable();
    if (!colors) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    uint64_t size = 0;
    ReadBytes read = streamReader(stream_, size);
    WorldSource world(std::move(read), size);
    const BoxMeans thumbnail = world.readThumbnail(*colors, cx);
    *bitmap = makeBitmap(thumbnail.size(), std::cref(thumbnail));
    *alpha = WTSAT_RGB;
    return S_OK;
  } catch (const WorldError&) {
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace explorer
}  // namespace wldmap
