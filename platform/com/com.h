// The COM base: IUnknown and the runtime calls the engine makes. Objects of the layer's own
// classes count their references like the platform's: Release returns the new count and the
// object is gone at 0.
#pragma once

#include "platform/win32/win32_types.h"

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
