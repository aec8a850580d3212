// The in-process COM server: its class factory and the two functions COM calls
// by name, DllGetClassObject and DllCanUnloadNow.
#include <windows.h>
#include <objbase.h>

#include <new>

#include "explorer/thumbnail_provider.h"

namespace wldmap {
namespace explorer {
namespace {

// Makes thumbnail providers; one for the DLL's lifetime, counted as a user of
// the DLL while anyone holds it.
class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (!IsEqualIID(riid, __uuidof(IUnknown)) && !IsEqualIID(riid, __uuidof(IClassFactory))) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++moduleUsers); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--moduleUsers); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* provider = new (std::nothrow) ThumbnailProvider();
    if (!provider) return E_OUTOFMEMORY;
    const HRESULT result = provider->QueryInterface(riid, out);
    provider->Release();  // the caller's reference is the only one left
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++moduleUsers : --moduleUsers;
    return S_OK;
  }
};

ClassFactory factory;

}  // namespace
}  // namespace explorer
}  // namespace wldmap

// The provider's class, as register.cmd writes it into the registry.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CLSID ours;
  if (FAILED(CLSIDFromString(WLDMAP_THUMBNAIL_CLSID, &ours))) return E_UNEXPECTED;
  if (!IsEqualCLSID(clsid, ours)) return CLASS_E_CLASSNOTAVAILABLE;
  return wldmap::explorer::factory.QueryInterface(riid, out);
}

STDAPI DllCanUnloadNow() { return wldmap::explorer::moduleUsers == 0 ? S_OK : S_FALSE; }
