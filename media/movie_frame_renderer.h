// The video renderer that movies end their graphs in: it takes uncompressed 24-bit RGB frames
// and keeps the latest one, top row first, for the movie's refresh to hand on.
#pragma once

#include "media/dshow_renderer.h"

constexpr CLSID CLSID_MovieFrameRenderer = {
    0x71771540, 0x2017, 0x11CF, {0xAE, 0x26, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67}};

class MovieFrameRenderer : public K_CVideoRendererBase {
 public:
  MovieFrameRenderer(IUnknown* outer, HRESULT* result);
  HRESULT TakeMediaType(const MediaTypeObject* type) override;
  HRESULT RenderSample(IMediaSample* sample) override;
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;

  // Guards the frame buffer and its size between the streaming thread and the movie's refresh:
  // a format change frees the buffer, so nobody may read it meanwhile.
  CRITICAL_SECTION* FrameLock() { return frameLock_.Get(); }
  // The buffer is the movie's to free, after the graph that held this renderer is gone.
  BYTE* frameBuffer = nullptr;
  LONG volatile newFrame = 0;
  int bottomUp = 0;
  int width = 0;
  int height = 0;
  int pitch = 0;

 private:
  K_CCritSec frameLock_;
};

MovieFrameRenderer* CreateMovieRenderer(IUnknown* outer, HRESULT* result);
