// wldmap-thumbnails.dll as Explorer uses it: loaded by hand and through the
// registry, handed world files as streams, asked for thumbnails.
#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/image.h"
#include "support/process.h"
#include "support/tempdir.h"
#include "support/worlds.h"

namespace wldmap {
namespace {

namespace fs = std::filesystem;

const char kHandlerKey[] =
    "Software\\Classes\\.wld\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

std::wstring wide(const std::string& utf8) { return fs::u8path(utf8).wstring(); }

CLSID providerClass() {
  CLSID clsid{};
  EXPECT_EQ(S_OK, CLSIDFromString(WLDMAP_THUMBNAIL_CLSID, &clsid));
  return clsid;
}

// The DLL's class factory, reached the way COM reaches it: by name.
IClassFactory* loadFactory() {
  static HMODULE dll = LoadLibraryW(wide(WLDMAP_THUMBNAILS_DLL).c_str());
  if (!dll) return nullptr;
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  if (!get || FAILED(get(providerClass(), __uuidof(IClassFactory),
                         reinterpret_cast<void**>(&factory)))) {
    return nullptr;
  }
  return factory;
}

IThumbnailProvider* newProvider() {
  IClassFactory* factory = loadFactory();
  if (!factory) return nullptr;
  IThumbnailProvider* provider = nullptr;
  factory->CreateInstance(nullptr, __uuidof(IThumbnailProvider),
                          reinterpret_cast<void**>(&provider));
  factory->Release();
  return provider;
}

IStream* fileStream(const std::string& path) {
  IStream* stream = nullptr;
  EXPECT_EQ(S_OK, SHCreateStreamOnFileEx(wide(path).c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                         0, FALSE, nullptr, &stream))
      << path;
  return stream;
}

// Initialises `provider` with `stream` and asks for a thumbnail of `size`; the
// result, with the bitmap's pixels in `out` (the bitmap is deleted). A failing
// result must come without a bitmap.
HRESULT thumbnail(IThumbnailProvider* provider, IStream* stream, UINT size, Pixels* out) {
  IInitializeWithStream* init = nullptr;
  if (FAILED(provider->QueryInterface(__uuidof(IInitializeWithStream),
                                      reinterpret_cast<void**>(&init)))) {
    return E_NOINTERFACE;
  }
  HRESULT result = init->Initialize(stream, STGM_READ);
  init->Release();
  if (FAILED(result)) return result;
  HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  result = provider->GetThumbnail(size, &bitmap, &alpha);
  if (FAILED(result)) {
    EXPECT_EQ(nullptr, bitmap);
    return result;
  }
  EXPECT_EQ(WTSAT_RGB, alpha);
  DIBSECTION dib{};
  EXPECT_EQ(int(sizeof dib), GetObjectW(bitmap, sizeof dib, &dib));
  EXPECT_EQ(32, dib.dsBm.bmBitsPixel);
  const auto width = uint32_t(dib.dsBm.bmWidth), height = uint32_t(dib.dsBm.bmHeight);
  // The rows as GDI reads them top row first, which must be how they lie in
  // the bitmap's own memory: a top-down DIB.
  BITMAPINFO top{};
  top.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  top.bmiHeader.biWidth = LONG(width);
  top.bmiHeader.biHeight = -LONG(height);
  top.bmiHeader.biPlanes = 1;
  top.bmiHeader.biBitCount = 32;
  top.bmiHeader.biCompression = BI_RGB;
  std::vector<uint8_t> bgra(size_t(width) * height * 4);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(int(height), GetDIBits(screen, bitmap, 0, height, bgra.data(), &top, DIB_RGB_COLORS));
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(0, std::memcmp(bgra.data(), dib.dsBm.bmBits, bgra.size())) << "not top-down";
  if (out) {
    out->assign(height, {});
    for (size_t i = 0; i < bgra.size(); i += 4) {
      (*out)[i / 4 / width].push_back(uint32_t(bgra[i + 2]) << 24 | bgra[i + 1] << 16 |
                                      bgra[i] << 8 | bgra[i + 3]);
    }
  }
  EXPECT_TRUE(DeleteObject(bitmap));
  return result;
}

// One provider, one stream, one thumbnail, as Explorer asks for each file.
HRESULT thumbnailOfFile(const std::string& world, UINT size, Pixels* out,
                        const std::function<IThumbnailProvider*()>& make = newProvider) {
  IThumbnailProvider* provider = make();
  if (!provider) return E_NOINTERFACE;
  IStream* stream = fileStream(world);
  const HRESULT result = thumbnail(provider, stream, size, out);
  if (stream) stream->Release();
  provider->Release();
  return result;
}

const UINT kSizes[] = {32, 96, 256};

// Worlds to compare the DLL's thumbnails with: NAME.wld, beside either
// NAME.SIZE.png for each size, thumbnails the Linux build's wldmap --thumbnail
// made (WLDMAP_THUMBNAIL_REFERENCES names their folder), or NAME.png, the map
// this build's wldmap.exe paints, from which the test computes the thumbnails
// itself: the exe's map, not the thumbnail code the DLL shares with it.
std::string referenceFolder(const TempDir& dir) {
  if (const char* folder = std::getenv("WLDMAP_THUMBNAIL_REFERENCES")) return folder;
  const std::pair<const char*, std::pair<int32_t, int32_t>> worlds[] = {
      {"one", {1, 1}}, {"wide", {600, 7}}, {"tall", {9, 500}}, {"uneven", {777, 333}}};
  for (const auto& [name, size] : worlds) {
    const std::string world = dir / (std::string(name) + ".wld");
    writeFile(world, mixedWorld(name, size.first, size.second));
    const ProcessResult r = runProcess(WLDMAP_EXE, "wldmap", {world}, dir.path());
    EXPECT_EQ(0, r.status) << r.err;
  }
  return dir.path();
}

// The thumbnail at `size` that the DLL must give for the world `stem`.wld.
Pixels referenceThumbnail(const std::string& stem, UINT size) {
  const std::string made = stem + "." + std::to_string(size) + ".png";
  return fs::exists(fs::u8path(made)) ? pixels(made) : thumbnailOf(pixels(stem + ".png"), size);
}

TEST(ThumbnailProviderTest, ThumbnailsAreTheThumbnailersPixelForPixel) {
  TempDir dir;
  const std::string folder = referenceFolder(dir);
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(fs::u8path(folder))) {
    if (entry.path().extension() != ".wld") continue;
    const std::string world = entry.path().u8string();
    const std::string stem = (entry.path().parent_path() / entry.path().stem()).u8string();
    for (UINT size : kSizes) {
      const auto start = std::chrono::steady_clock::now();
      Pixels thumbnail;
      ASSERT_EQ(S_OK, thumbnailOfFile(world, size, &thumbnail)) << world << " at " << size;
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      std::printf("%s at %u: %zu x %zu in %.3f s\n", entry.path().filename().u8string().c_str(),
                  size, thumbnail[0].size(), thumbnail.size(), took.count());
      EXPECT_TRUE(referenceThumbnail(stem, size) == thumbnail) << world << " at " << size;
      ++compared;
    }
  }
  EXPECT_GE(compared, 12);
}

// What a key holds, its values and its subkeys', as text.
std::wstring dumpKey(HKEY root, const std::wstring& path) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"";
  std::wstring text = L"[" + path + L"]\n";
  std::vector<wchar_t> name(16384);
  std::vector<BYTE> data(1 << 16);
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = DWORD(name.size()), dataLength = DWORD(data.size()), type = 0;
    if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(),
                      &dataLength) != ERROR_SUCCESS) {
      break;
    }
    text += std::wstring(name.data(), nameLength) + L"=" + std::to_wstring(type) + L":" +
            std::wstring(reinterpret_cast<wchar_t*>(data.data()), dataLength / sizeof(wchar_t)) +
            L"\n";
  }
  std::vector<std::wstring> subkeys;
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = DWORD(name.size());
    if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    subkeys.emplace_back(name.data(), nameLength);
  }
  RegCloseKey(key);
  for (const std::wstring& subkey : subkeys) text += dumpKey(root, path + L"\\" + subkey);
  return text;
}

std::wstring readString(const std::string& key, const wchar_t* value) {
  wchar_t data[4096] = {};
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CURRENT_USER, wide(key).c_str(), value, RRF_RT_REG_SZ, nullptr, data,
                   &size) != ERROR_SUCCESS) {
    return L"(none)";
  }
  return data;
}

// Runs a script of the folder as a double click in Explorer does: the system
// hands it to the command interpreter, whatever the folder's name holds.
ProcessResult runScript(const fs::path& folder, const std::string& name) {
  const std::string script = (folder / name).make_preferred().u8string();
  return runProcess(script, script, {}, fs::temp_directory_path().u8string());
}

// Windows shows the user's classes (HKCU\\Software\\Classes) in HKEY_CLASSES_ROOT,
// where COM looks; Wine 8 does not merge them. Where the class that
// register.cmd wrote cannot be seen there, this copies it, exactly as written,
// into the machine's classes for as long as it lives, and removes it after.
class MergedClass {
 public:
  explicit MergedClass(const std::string& clsid)
      : key_(L"Software\\Classes\\CLSID\\" + fs::u8path(clsid).wstring()) {
    HKEY seen;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + fs::u8path(clsid).wstring()).c_str(), 0,
                      KEY_READ, &seen) == ERROR_SUCCESS) {
      RegCloseKey(seen);
      return;  // merged by the system
    }
    std::printf("HKEY_CLASSES_ROOT lacks the user's classes; copying %s into the machine's\n",
                clsid.c_str());
    HKEY from, to;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_READ, &from) != ERROR_SUCCESS) {
      ADD_FAILURE() << "register.cmd wrote no class key";
      return;
    }
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &to, nullptr) == ERROR_SUCCESS) {
      copied_ = true;
      EXPECT_EQ(ERROR_SUCCESS, RegCopyTreeW(from, nullptr, to));
      RegCloseKey(to);
    }
    RegCloseKey(from);
  }
  ~MergedClass() {
    if (copied_) {
      EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, key_.c_str()));
    }
  }
  MergedClass(const MergedClass&) = delete;
  MergedClass& operator=(const MergedClass&) = delete;

 private:
  const std::wstring key_;
  bool copied_ = false;
};

// Unpacked into a folder as users name them, registered from there.
TEST(ThumbnailProviderTest, RegisteredForTheCurrentUserCoCreateInstanceFindsIt) {
  TempDir dir;
  writeFile(dir / "w.wld", mixedWorld("Thumb", 300, 100));
  Pixels direct;
  ASSERT_EQ(S_OK, thumbnailOfFile(dir / "w.wld", 96, &direct));
  const fs::path built = fs::absolute(fs::u8path(WLDMAP_THUMBNAILS_DLL).parent_path());
  const fs::path folder =
      fs::absolute(fs::u8path(dir / "Games (x86) & Tools/wldmap \u00e4")).make_preferred();
  fs::create_directories(folder);
  for (const char* file : {"wldmap-thumbnails.dll", "wldmap.exe", "tilecolors.txt", "register.cmd",
                           "unregister.cmd"}) {
    fs::copy_file(built / file, folder / file);
  }

  // Every Windows user has these keys; a fresh Wine prefix may not yet.
  const std::wstring classes = L"Software\\Classes";
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (classes + L"\\CLSID").c_str(), 0,
                                           nullptr, 0, KEY_READ, nullptr, &key, nullptr));
  RegCloseKey(key);
  const std::wstring before = dumpKey(HKEY_CURRENT_USER, classes);
  const ProcessResult registered = runScript(folder, "register.cmd");
  ASSERT_EQ(0, registered.status) << registered.out << registered.err;
  EXPECT_NE(std::string::npos, registered.out.find("Registered ")) << registered.out;
  const std::string clsid = fs::path(WLDMAP_THUMBNAIL_CLSID).u8string();
  const std::string server = "Software\\Classes\\CLSID\\" + clsid + "\\InprocServer32";
  EXPECT_EQ((folder / "wldmap-thumbnails.dll").wstring(), readString(server, nullptr));
  EXPECT_EQ(L"Apartment", readString(server, L"ThreadingModel"));
  EXPECT_EQ(WLDMAP_THUMBNAIL_CLSID, readString(kHandlerKey, nullptr));
  // "Explore in browser" runs the tool of this folder on the world, whatever Explorer hands it.
  const std::string verb = "Software\\Classes\\SystemFileAssociations\\.wld\\shell\\wldmap.explore";
  EXPECT_EQ(L"Explore in browser", readString(verb, nullptr));
  EXPECT_EQ(L"\"" + (folder / "wldmap.exe").wstring() + L"\" --html --open \"%1\"",
            readString(verb + "\\command", nullptr));

  ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  std::optional<MergedClass> merged;
  merged.emplace(clsid);
  const auto created = [] {
    IThumbnailProvider* provider = nullptr;
    const HRESULT result =
        CoCreateInstance(providerClass(), nullptr, CLSCTX_INPROC_SERVER,
                         __uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider));
    EXPECT_EQ(S_OK, result);
    return SUCCEEDED(result) ? provider : nullptr;
  };
  Pixels throughCom;
  EXPECT_EQ(S_OK, thumbnailOfFile(dir / "w.wld", 96, &throughCom, created));
  EXPECT_TRUE(direct == throughCom);

  EXPECT_NE(nullptr, GetModuleHandleW((folder / "wldmap-thumbnails.dll").c_str()));
  merged.reset();
  const ProcessResult unregistered = runScript(folder, "unregister.cmd");
  EXPECT_EQ(0, unregistered.status) << unregistered.out << unregistered.err;
  EXPECT_NE(std::string::npos, unregistered.out.find("Removed ")) << unregistered.out;
  EXPECT_EQ(before, dumpKey(HKEY_CURRENT_USER, classes));
  IUnknown* gone = nullptr;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(providerClass(), nullptr, CLSCTX_INPROC_SERVER,
                                                  __uuidof(IUnknown),
                                                  reinterpret_cast<void**>(&gone)));
  CoUninitialize();

  // A .wld type some program registered before stays as it was.
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Classes\\.wld",
                                           nullptr, REG_SZ, L"wldfile", 16));
  const std::wstring owned = dumpKey(HKEY_CURRENT_USER, classes);
  EXPECT_EQ(0, runScript(folder, "register.cmd").status);
  EXPECT_EQ(WLDMAP_THUMBNAIL_CLSID, readString(kHandlerKey, nullptr));
  EXPECT_EQ(0, runScript(folder, "unregister.cmd").status);
  EXPECT_EQ(owned, dumpKey(HKEY_CURRENT_USER, classes));
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\.wld");
}

// A stream over bytes in memory that reports `size` bytes, and whose reads fail
// once they would reach past byte `failAt`.
class FailingStream : public IStream {
 public:
  FailingStream(std::string bytes, size_t failAt, size_t size)
      : bytes_(std::move(bytes)), failAt_(failAt), size_(size) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IStream)) ||
        IsEqualIID(riid, __uuidof(ISequentialStream))) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE Read(void* out, ULONG count, ULONG* got) override {
    if (onRead) onRead();
    if (position_ + count > failAt_) return STG_E_READFAULT;
    const size_t n = std::min<size_t>(count, bytes_.size() - position_);
    std::memcpy(out, bytes_.data() + position_, n);
    position_ += n;
    if (got) *got = ULONG(n);
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER to, DWORD origin, ULARGE_INTEGER* at) override {
    if (origin != STREAM_SEEK_SET) return E_NOTIMPL;
    position_ = size_t(to.QuadPart);
    if (at) at->QuadPart = position_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    *stat = STATSTG{};
    stat->cbSize.QuadPart = size_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
  ULONG references() const { return references_; }
  std::function<void()> onRead;  // called at every read, before it

 private:
  std::string bytes_;
  const size_t failAt_, size_;
  size_t position_ = 0;
  ULONG references_ = 1;
};

HRESULT thumbnailOfBytes(const std::string& bytes, size_t failAt, UINT size = 96,
                         size_t reported = SIZE_MAX) {
  FailingStream stream(bytes, failAt, std::min(reported, bytes.size()));
  IThumbnailProvider* provider = newProvider();
  if (!provider) return E_NOINTERFACE;
  const HRESULT result = thumbnail(provider, &stream, size, nullptr);
  provider->Release();
  EXPECT_EQ(1u, stream.references());  // the provider let go of it
  return result;
}

TEST(ThumbnailProviderTest, UnreadableStreamsGiveAFailingResultAndNoBitmap) {
  const std::string world = mixedWorld("Thumb", 300, 100);
  EXPECT_EQ(S_OK, thumbnailOfBytes(world, SIZE_MAX));
  // Reads stay within the size the stream reports, whatever may follow.
  EXPECT_EQ(S_OK, thumbnailOfBytes(world + std::string(1 << 20, '\x01'), world.size(), 96,
                                   world.size()));
  // A stream handed over away from its start is read from its start.
  FailingStream away(world, SIZE_MAX, world.size());
  LARGE_INTEGER middle;
  middle.QuadPart = LONGLONG(world.size() / 2);
  away.Seek(middle, STREAM_SEEK_SET, nullptr);
  IThumbnailProvider* fresh = newProvider();
  ASSERT_NE(nullptr, fresh);
  EXPECT_EQ(S_OK, thumbnail(fresh, &away, 96, nullptr));
  fresh->Release();
  EXPECT_TRUE(FAILED(thumbnailOfBytes("", SIZE_MAX)));                        // empty
  EXPECT_TRUE(FAILED(thumbnailOfBytes(world.substr(0, world.size() - 1), SIZE_MAX)));  // cut
  for (size_t failAt : {size_t(0), size_t(50), world.size() / 2, world.size() - 1}) {
    EXPECT_TRUE(FAILED(thumbnailOfBytes(world, failAt))) << failAt;  // failing reads
  }
  // A header that claims more cells than its bytes could hold is refused before
  // anything is allocated for them.
  EXPECT_TRUE(FAILED(thumbnailOfBytes(
      encodeWorld(makeHeader("Huge", 100000, 100000, 0, 1), {makeTile(false, 0, 0, 0, false)}),
      SIZE_MAX)));
  EXPECT_EQ(E_INVALIDARG, thumbnailOfBytes(world, SIZE_MAX, 0));

  IThumbnailProvider* provider = newProvider();
  ASSERT_NE(nullptr, provider);
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha;
  EXPECT_EQ(E_UNEXPECTED, provider->GetThumbnail(96, &bitmap, &alpha));  // no stream yet
  EXPECT_EQ(nullptr, bitmap);
  provider->Release();
}

// The process's committed memory of its own, counted directly, so that the
// same numbers come out on Windows and under Wine, whose process counters stay 0.
size_t privateBytes() {
  size_t bytes = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += region.RegionSize;
  }
  return bytes;
}

// The largest world among the references, 8400 x 2400 cells and 95 MiB where
// the Linux build made them, thumbnailed while the stream samples the
// process's committed memory at every read: the world is never held.
TEST(ThumbnailProviderTest, ThumbnailOfALargeWorldTakesLittleMemory) {
  TempDir dir;
  fs::path largest;
  for (const auto& entry : fs::directory_iterator(fs::u8path(referenceFolder(dir)))) {
    if (entry.path().extension() == ".wld" &&
        (largest.empty() || entry.file_size() > fs::file_size(largest))) {
      largest = entry.path();
    }
  }
  ASSERT_FALSE(largest.empty());
  FailingStream stream(readFile(largest.u8string()), SIZE_MAX, fs::file_size(largest));
  IThumbnailProvider* provider = newProvider();
  ASSERT_NE(nullptr, provider);
  const size_t before = privateBytes();
  size_t peak = before;
  stream.onRead = [&peak] { peak = std::max(peak, privateBytes()); };
  EXPECT_EQ(S_OK, thumbnail(provider, &stream, 256, nullptr));
  provider->Release();
  std::printf("%s at 256: committed private bytes %zu, at most %zu while it was made\n",
              largest.filename().u8string().c_str(), before, peak);
  EXPECT_LT(peak - before, size_t(32) << 20);
}

struct Usage {
  size_t privateBytes;  // committed memory of the process's own
  size_t handles;       // kernel handles open
  DWORD gdiObjects;     // where the system counts them (Wine reports 0)
};

Usage usage() {
  Usage usage{privateBytes(), 0, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)};
  DWORD flags;
  for (uintptr_t handle = 4; handle < (1 << 16); handle += 4) {
    if (GetHandleInformation(reinterpret_cast<HANDLE>(handle), &flags)) ++usage.handles;
  }
  return usage;
}

TEST(ThumbnailProviderTest, AThousandThumbnailsOnFourThreadsLeaveNoHandleOrMemoryBehind) {
  TempDir dir;
  writeFile(dir / "w.wld", mixedWorld("Thumb", 200, 150));
  // On four threads at once, as Explorer may ask.
  const auto many = [&](int count) {
    std::vector<std::thread> threads;
    std::atomic<int> failed{0};
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < count / 4; ++i) {
          if (thumbnailOfFile(dir / "w.wld", 64, nullptr) != S_OK) ++failed;
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, failed.load());
  };
  many(48);  // the colour table, the heap and the threads' stacks settle
  const Usage before = usage();
  many(1000);
  const Usage after = usage();
  std::printf("before: %zu private bytes, %zu handles, %lu GDI objects\n"
              "after:  %zu private bytes, %zu handles, %lu GDI objects\n",
              before.privateBytes, before.handles, before.gdiObjects, after.privateBytes,
              after.handles, after.gdiObjects);
  // A leak of one a thumbnail would be a thousand; the system's own threads and
  // caches may take one or two now and then.
  EXPECT_LE(after.handles, before.handles + 4);
  EXPECT_LE(after.gdiObjects, before.gdiObjects + 4);
  // One thumbnail's world and bitmap take some 250 KiB: a leak of either would
  // show as a quarter of a GiB.
  EXPECT_LT(after.privateBytes, before.privateBytes + (4 << 20))
      << before.privateBytes << " -> " << after.privateBytes;

  IClassFactory* factory = loadFactory();
  ASSERT_NE(nullptr, factory);
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  const auto canUnload = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"wldmap-thumbnails.dll"), "DllCanUnloadNow")));
  ASSERT_NE(nullptr, canUnload);
  EXPECT_EQ(S_FALSE, canUnload());  // the factory is held
  factory->Release();
  EXPECT_EQ(S_OK, canUnload());
}

}  // namespace
}  // namespace wldmap
