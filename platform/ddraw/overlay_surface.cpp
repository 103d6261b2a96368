// Overlay surfaces without overlay hardware: each remembers whether it shows and keeps every
// UpdateOverlay call, so that what a movie would put on the screen can be read back.
#include "platform/ddraw/ddraw.h"

namespace {

class OverlaySurface final : public PlatformComObject<IDirectDrawSurface7> {
 public:
  bool Offers(REFIID) const override { return false; }

  HRESULT UpdateOverlay(RECT* source, IDirectDrawSurface7* destinationSurface, RECT* destination,
                        DWORD flags, DDOVERLAYFX*) override {
    DirectDrawOverlayCall call{flags,
                               source != nullptr,
                               source != nullptr ? *source : RECT{},
                               destination != nullptr,
                               destination != nullptr ? *destination : RECT{},
                               destinationSurface,
                               DD_OK};
    const bool show = (flags & DDOVER_SHOW) != 0;
    const bool hide = (flags & DDOVER_HIDE) != 0;
    if (show == hide || (show && (source == nullptr || destination == nullptr)) ||
        (show &&
         (source->right <= source->left || source->bottom <= source->top ||
          destination->right <= destination->left || destination->bottom <= destination->top))) {
      call.result = DDERR_INVALIDPARAMS;
    } else {
      shown = show;
    }
    calls.push_back(call);
    return call.result;
  }

  std::vector<DirectDrawOverlayCall> calls;
  bool shown = false;
};

}  // namespace

IDirectDrawSurface7* CreateDirectDrawOverlaySurface() { return new OverlaySurface; }

std::vector<DirectDrawOverlayCall> GetDirectDrawOverlayCalls(IDirectDrawSurface7* surface) {
  return surface != nullptr ? static_cast<OverlaySurface*>(surface)->calls
                            : std::vector<DirectDrawOverlayCall>{};
}

int IsDirectDrawOverlayShown(IDirectDrawSurface7* surface) {
  return surface != nullptr && static_cast<OverlaySurface*>(surface)->shown ? 1 : 0;
}
