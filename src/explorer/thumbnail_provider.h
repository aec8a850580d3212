// The object Explorer asks for a world file's thumbnail: IInitializeWithStream
// hands it the file's bytes, IThumbnailProvider paints them.
#pragma once

#include <windows.h>
#include <propsys.h>
#include <thumbcache.h>

#include <atomic>

namespace wldmap {
namespace explorer {

// Live objects, class factory references and server locks: the DLL may be
// unloaded only when none is left.
extern std::atomic<long> moduleUsers;

class ThumbnailProvider final : public IThumbnailProvider, public IInitializeWithStream {
 public:
  ThumbnailProvider();  // with one reference, the caller's

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // Keeps `stream` (a world file's bytes) for GetThumbnail; once only.
  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD mode) override;

  // A top-down 32-bit BGRA DIB section of the world's thumbnail, at most `cx`
  // pixels a side, the pixels wldmap --thumbnail writes, alpha 255 (WTSAT_RGB).
  // A world that cannot be read, a damaged one and a missing colour file give a
  // failing HRESULT and no bitmap. Nothing is thrown, shown or written.
  HRESULT STDMETHODCALLTYPE GetThumbnail(UINT cx, HBITMAP* bitmap,
                                         WTS_ALPHATYPE* alpha) override;

 private:
  ~ThumbnailProvider();

  std::atomic<ULONG> references_{1};
  IStream* stream_ = nullptr;
};

}  // namespace explorer
}  // namespace wldmap
