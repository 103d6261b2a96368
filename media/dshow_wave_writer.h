// The WAV writer: a two-buffer transform whose output is the bytes of a RIFF/WAVE file. Each
// sample is stamped with the file range it belongs at; the header goes in through the
// downstream pin's stream when streaming stops.
#pragma once

#include "media/dshow_transform.h"

constexpr CLSID CLSID_WaveWriter = {
    0x3C78B8E2, 0x6C4D, 0x11D1, {0xAD, 0xE2, 0x00, 0x00, 0xF8, 0x75, 0x4B, 0x99}};

class K_CWaveWriterFilter;

class K_CWaveWriterOutputPin final : public K_CTwoBufferTransformOutputPin {
 public:
  K_CWaveWriterOutputPin(K_CWaveWriterFilter* filter, HRESULT* result);
  HRESULT AcceptsMediaType(const MediaTypeObject* type) override;
  HRESULT MediaTypeAt(int position, MediaTypeObject* type) override;
};

class K_CWaveWriterFilter final : public K_CTwoBufferTransformFilter {
 public:
  explicit K_CWaveWriterFilter(IUnknown* outer = nullptr);
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override;
  HRESULT CheckInputType(const MediaTypeObject* type) override;
  HRESULT CheckTransform(const MediaTypeObject* in, const MediaTypeObject* out) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT GetMediaType(int position, MediaTypeObject* type) override;
  HRESULT StartStreaming() override;
  HRESULT StopStreaming() override;
  HRESULT Receive(IMediaSample* sample) override;

  LONGLONG DataBytes() const { return dataBytes_; }

 protected:
  K_CTwoBufferTransformOutputPin* MakeOutputPin(HRESULT* result) override;
  K_CTwoBufferTransformInputPin* MakeInputPin(HRESULT* result) override;

 private:
  LONGLONG dataBytes_ = 0;
  LONGLONG headerSize_ = 0;
};

// A class's entry for the factories: its name, its class id and how one is made.
struct K_CFactoryEntry {
  LPCWSTR name;
  const CLSID* clsid;
  PlatformClassFactory create;
};
HRESULT CreateWaveWriterInstance(IUnknown* outer, REFIID riid, void** object);
extern const K_CFactoryEntry kWaveWriterFactoryEntry;
