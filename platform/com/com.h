// The COM base: IUnknown and the runtime calls the engine makes. Objects of the layer's own
// classes count their references like the platform's: Release returns the new count and the
// object is gone at 0.
#pragma once

#include <atomic>
#include <span>

#include "platform/win32/kernel.h"
#include "platform/win32/win32_types.h"

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The reference counting and QueryInterface of a layer object that offers one interface besides
// IUnknown: it is made with one reference and deletes itself when the last goes. `Offers` names
// the interface ids it answers to.
template <class Interface>
class PlatformComObject : public Interface {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || Offers(riid)) {
      AddRef();
      *object = static_cast<Interface*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual bool Offers(REFIID riid) const = 0;

 private:
  std::atomic<ULONG> references_{1};
};

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);

// The runtime does not insist on CoInitialize: the layer's classes live in the process and need
// no apartment. CoInitialize still answers S_FALSE to a second call on the same thread.
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
// Makes an object of one of the layer's classes (platform/com/com_class_table.cpp). A class that
// is not in the table gives REGDB_E_CLASSNOTREG, as an unregistered class does on the platform.
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid,
                         LPVOID* object);
LPVOID CoTaskMemAlloc(SIZE_T bytes);
void CoTaskMemFree(LPVOID memory);

// What a class of the layer offers the runtime: a function that makes one object, aggregated
// under `outer` when the class allows it.
using PlatformClassFactory = HRESULT (*)(IUnknown* outer, REFIID riid, void** object);
struct PlatformComClass {
  CLSID clsid;
  PlatformClassFactory create;
};
// Replaces the factory of a class (or adds the class): tests use it to make creation fail.
// A null factory removes the class. 0, or -1 for a bad argument.
int RegisterPlatformComClass(REFCLSID clsid, PlatformClassFactory create);

// The entry points of "ole32.dll" for the module table.
std::span<const PlatformModuleEntry> Ole32ModuleEntries();
