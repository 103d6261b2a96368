// The WAV writer: PCM (or any wave format) in, the file's bytes out, and the RIFF header written
// over the start of the stream once the data length is known.
#include "media/dshow_wave_writer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

// "RIFF", its size, "WAVE", "fmt ", the format's size, then "data" and its size: 28 bytes
// besides the format itself.
constexpr LONGLONG kHeaderBytesBesideFormat = 28;
// The smallest wave format block: tag, channels, rate, byte rate, block align, bits.
constexpr ULONG kSmallestWaveFormat = 16;

bool IsWaveStream(const MediaTypeObject& type) {
  return type.majortype == MEDIATYPE_Stream && type.subtype == MEDIASUBTYPE_WAVE;
}

HRESULT MakeWaveStreamType(MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  ReleaseMediaTypeContents(type);
  ClearMediaType(type);
  type->majortype = MEDIATYPE_Stream;
  type->subtype = MEDIASUBTYPE_WAVE;
  type->formattype = GUID_NULL;
  type->bFixedSizeSamples = FALSE;
  type->lSampleSize = 1;
  return S_OK;
}

void PutTag(std::vector<BYTE>* bytes, const char* tag) {
  bytes->insert(bytes->end(), tag, tag + 4);
}

void PutLittleEndian32(std::vector<BYTE>* bytes, DWORD value) {
  for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<BYTE>(value >> (8 * i)));
}

// The RIFF size fields hold 32 bits: a longer file says as much as they can.
DWORD ClampToField(LONGLONG value) {
  return static_cast<DWORD>(std::clamp<LONGLONG>(value, 0, 0xFFFFFFFFLL));
}

}  // namespace

K_CWaveWriterOutputPin::K_CWaveWriterOutputPin(K_CWaveWriterFilter* filter, HRESULT* result)
    : K_CTwoBufferTransformOutputPin(u"WAV writer output pin", filter, result, u"Out") {}

HRESULT K_CWaveWriterOutputPin::AcceptsMediaType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  return IsWaveStream(*type) ? S_OK : S_FALSE;
}

HRESULT K_CWaveWriterOutputPin::MediaTypeAt(int position, MediaTypeObject* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return MakeWaveStreamType(type);
}

K_CWaveWriterFilter::K_CWaveWriterFilter(IUnknown* outer)
    : K_CTwoBufferTransformFilter(u"WAV Dest", outer, CLSID_WaveWriter) {}

K_CTwoBufferTransformInputPin* K_CWaveWriterFilter::MakeInputPin(HRESULT* result) {
  return new (std::nothrow)
      K_CTwoBufferTransformInputPin(u"WAV writer input pin", this, result, u"In");
}

K_CTwoBufferTransformOutputPin* K_CWaveWriterFilter::MakeOutputPin(HRESULT* result) {
  return new (std::nothrow) K_CWaveWriterOutputPin(this, result);
}

HRESULT K_CWaveWriterFilter::CheckInputType(const MediaTypeObject* type) {
  if (type == nullptr) return E_POINTER;
  if (type->formattype != FORMAT_WaveFormatEx) return VFW_E_TYPE_NOT_ACCEPTED;
  // The format block is copied into the header as it is: it must be there and whole.
  if (type->pbFormat == nullptr || type->cbFormat < kSmallestWaveFormat)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT K_CWaveWriterFilter::CheckTransform(const MediaTypeObject*, const MediaTypeObject* out) {
  if (out == nullptr) return E_POINTER;
  return IsWaveStream(*out) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT K_CWaveWriterFilter::GetMediaType(int position, MediaTypeObject* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return MakeWaveStreamType(type);
}

HRESULT K_CWaveWriterFilter::DecideBufferSize(IMemAllocator* allocator,
                                              ALLOCATOR_PROPERTIES* request) {
  if (allocator == nullptr || request == nullptr) return E_POINTER;
  IMemAllocator* upstream = input_ != nullptr ? input_->Allocator() : nullptr;
  if (upstream == nullptr) return E_UNEXPECTED;
  ALLOCATOR_PROPERTIES upstreamProperties{};
  HRESULT result = upstream->GetProperties(&upstreamProperties);
  if (FAILED(result)) return result;
  request->cBuffers = 1;
  request->cbAlign = 1;
  request->cbBuffer = std::max<LONG>(upstreamProperties.cbBuffer, 1);
  ALLOCATOR_PROPERTIES actual{};
  result = allocator->SetProperties(request, &actual);
  if (FAILED(result)) return result;
  return actual.cBuffers < 1 || actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

HRESULT K_CWaveWriterFilter::StartStreaming() {
  dataBytes_ = 0;
  headerSize_ = LONGLONG{input_->ConnectionType().cbFormat} + kHeaderBytesBesideFormat;
  return S_OK;
}

HRESULT K_CWaveWriterFilter::Transform(IMediaSample* in, IMediaSample* out) {
  BYTE* source = nullptr;
  BYTE* target = nullptr;
  HRESULT result = in->GetPointer(&source);
  if (SUCCEEDED(result)) result = out->GetPointer(&target);
  if (FAILED(result)) return result;
  const LONG length = in->GetActualDataLength();
  if (length < 0 || length > out->GetSize()) return VFW_E_BUFFER_OVERFLOW;
  if (length > 0) std::memcpy(target, source, static_cast<size_t>(length));
  out->SetActualDataLength(length);
  LONGLONG start = headerSize_ + dataBytes_;
  LONGLONG stop = start + length;
  out->SetMediaTime(&start, &stop);
  dataBytes_ += length;
  return S_OK;
}

HRESULT K_CWaveWriterFilter::Receive(IMediaSample* sample) {
  // A sample downstream did not take does not belong in the file.
  const LONGLONG before = dataBytes_;
  const HRESULT result = K_CTwoBufferTransformFilter::Receive(sample);
  if (result != S_OK) dataBytes_ = before;
  return result;
}

HRESULT K_CWaveWriterFilter::StopStreaming() {
  IPin* downstream = output_ != nullptr ? output_->Connected() : nullptr;
  if (downstream == nullptr) return VFW_E_NOT_CONNECTED;
  IStream* stream = nullptr;
  HRESULT result = downstream->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream));
  if (FAILED(result)) return result;
  const MediaTypeObject& format = input_->ConnectionType();
  std::vector<BYTE> header;
  header.reserve(static_cast<size_t>(headerSize_));
  PutTag(&header, "RIFF");
  PutLittleEndian32(&header, ClampToField(headerSize_ + dataBytes_ - 8));
  PutTag(&header, "WAVE");
  PutTag(&header, "fmt ");
  PutLittleEndian32(&header, format.cbFormat);
  header.insert(header.end(), format.pbFormat, format.pbFormat + format.cbFormat);
  PutTag(&header, "data");
  PutLittleEndian32(&header, ClampToField(dataBytes_));
  LARGE_INTEGER origin{};
  origin.QuadPart = 0;
  result = stream->Seek(origin, STREAM_SEEK_SET, nullptr);
  if (SUCCEEDED(result)) {
    ULONG written = 0;
    result = stream->Write(header.data(), static_cast<ULONG>(header.size()), &written);
    // A header cut short leaves a file no reader can open: that is a failure.
    if (SUCCEEDED(result) && written != header.size()) result = E_FAIL;
  }
  stream->Release();
  return result;
}

HRESULT CreateWaveWriterInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && riid != IID_IUnknown) return E_NOINTERFACE;
  auto* writer = new (std::nothrow) K_CWaveWriterFilter(outer);
  if (writer == nullptr) return E_OUTOFMEMORY;
  if (outer != nullptr) {
    writer->InnerAddRef();
    *object = writer->InnerUnknown();
    return S_OK;
  }
  writer->InnerAddRef();
  const HRESULT result = writer->InnerQueryInterface(riid, object);
  writer->InnerRelease();
  return result;
}

const K_CFactoryEntry kWaveWriterFactoryEntry = {u"WAV Dest", &CLSID_WaveWriter,
                                                 CreateWaveWriterInstance};
