// The Theora decoder's open, index, seek and decode thread. The file is indexed once (page
// offsets, frames per page, keyframes) so a seek can start at the page before the nearest
// keyframe; the thread then keeps decoded frames ahead of the wanted one.
#include <cstring>
#include <new>

#include "media/theora_decoder.h"
#include "platform/win32/kernel.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

// A slot's `used` word: the thread fills free slots, drops used ones it no longer needs, and
// never touches a slot the main thread has taken for reading.
constexpr std::int32_t kSlotFree = 0;
constexpr std::int32_t kSlotUsed = 1;
constexpr std::int32_t kSlotReading = 2;

void* AllocateZeroed(std::int64_t bytes) { return TrackedAllocZeroed(bytes, __FILE__, __LINE__); }

// The next page out of the sync state, reading chunks as needed: 0 at the end of the file.
int TakePage(TheoraDecoderRecord* d) {
  for (;;) {
    const int result = ogg_sync_pageout(&d->sync, &d->page);
    if (result == 1) return 1;
    // Below 0 the sync state skipped bytes that no page owns; what follows may be a page already.
    if (result == 0 && ReadTheoraFileChunk(d, kTheoraChunkBytes) == 0) return 0;
  }
}

// The next packet of the Theora stream: 1, or 0 at the end of the file.
int TakePacket(TheoraDecoderRecord* d) {
  for (;;) {
    const int result = ogg_stream_packetout(&d->stream, &d->packet);
    if (result > 0) return 1;
    if (result < 0) continue;  // a gap in the stream: the packets after it still decode
    if (TakePage(d) == 0) return 0;
    ogg_stream_pagein(&d->stream, &d->page);
  }
}

void RewindTheoraFile(TheoraDecoderRecord* d, std::int32_t offset) {
  d->pictureReady = 0;
  ogg_sync_reset(&d->sync);
  ogg_stream_reset(&d->stream);
  d->file.seek(d->fileHandle, offset, 0);
}

int GrowPageIndex(TheoraDecoderRecord* d) {
  const std::int64_t capacity = static_cast<std::int64_t>(d->pageCapacity) + kTheoraIndexStep;
  void* grown =
      TrackedRealloc(d->pageIndex, capacity * sizeof(TheoraPageIndexEntry), __FILE__, __LINE__);
  if (grown == nullptr) return -1;
  d->pageIndex = static_cast<TheoraPageIndexEntry*>(grown);
  d->pageCapacity = static_cast<std::int32_t>(capacity);
  return 0;
}

int GrowKeyframes(TheoraDecoderRecord* d) {
  const std::int64_t capacity = static_cast<std::int64_t>(d->keyframeCapacity) + kTheoraIndexStep;
  void* grown = TrackedRealloc(d->keyframes, capacity, __FILE__, __LINE__);
  if (grown == nullptr) return -1;
  d->keyframes = static_cast<std::uint8_t*>(grown);
  d->keyframeCapacity = static_cast<std::int32_t>(capacity);
  return 0;
}

// One pass over the whole file. Offsets count the bytes the sync state skips between pages too,
// so a seek lands on the page it meant. 0, or -1 when the index could not grow.
int IndexTheoraFile(TheoraDecoderRecord* d) {
  std::int64_t offset = 0;
  std::int64_t pageStart = 0;
  bool newPage = false;
  for (;;) {
    const int result = ogg_stream_packetout(&d->stream, &d->packet);
    if (result < 0) continue;
    if (result == 0) {
      const long taken = ogg_sync_pageseek(&d->sync, &d->page);
      if (taken > 0) {
        pageStart = offset;
        offset += taken;
        newPage = true;
        ogg_stream_pagein(&d->stream, &d->page);
      } else if (taken < 0) {
        offset -= taken;
      } else if (ReadTheoraFileChunk(d, kTheoraChunkBytes) == 0) {
        return 0;
      }
      continue;
    }
    const int key = theora_packet_iskeyframe(&d->packet);
    if (key < 0) continue;
    if (newPage || d->pageCount == 0) {
      if (d->pageCount == d->pageCapacity && GrowPageIndex(d) != 0) return -1;
      d->pageIndex[d->pageCount++] = TheoraPageIndexEntry{
          static_cast<std::int32_t>(pageStart), static_cast<std::int32_t>(d->frameCount), 0, 0};
      newPage = false;
    }
    if (d->frameCount == d->keyframeCapacity && GrowKeyframes(d) != 0) return -1;
    d->keyframes[d->frameCount] = key == 1 ? 1 : 0;
    TheoraPageIndexEntry& last = d->pageIndex[d->pageCount - 1];
    if (key == 1) last.keyframe = 1;
    ++last.frames;
    ++d->frameCount;
  }
}

bool SlotHolds(const TheoraDecoderRecord* d, int frame) {
  for (int i = 0; i < d->stockSize; ++i) {
    const TheoraFrameSlot& slot = d->stock[i];
    if (slot.used.load(std::memory_order_acquire) != kSlotFree &&
        slot.frame.load(std::memory_order_relaxed) == frame)
      return true;
  }
  return false;
}

// Frames ahead of the current one, counted round the end of the movie.
int DistanceAhead(int frame, int current, int count) {
  int distance = (frame - current) % count;
  return distance < 0 ? distance + count : distance;
}

// Reads and decodes frames `first` .. `last` from where the file now stands; the frame before
// `first` counts as decoded.
int DecodeFrameRange(TheoraDecoderRecord* d, int first, int last) {
  d->decodedFrame.store(first - 1, std::memory_order_relaxed);
  return DecodeTheoraPackets(d, last - first + 1);
}

// 0, or -1 when no page holds the target: the thread then has nothing it could ever show.
int ServeSeek(TheoraDecoderRecord* d) {
  d->threadState.store(kTheoraSeeking, std::memory_order_release);
  const int target = d->seekTarget.load(std::memory_order_relaxed);
  int i = 0;
  while (i < d->pageCount && d->pageIndex[i].firstFrame + d->pageIndex[i].frames <= target) ++i;
  if (i == d->pageCount) return -1;
  if (i > 0) {
    --i;
    while (i > 0 && d->pageIndex[i].keyframe == 0) --i;
    if (i > 0) --i;
  }
  RewindTheoraFile(d, d->pageIndex[i].offset);
  int first = d->pageIndex[i].firstFrame;
  int result = 0;
  if (i > 0) {
    if (TakePage(d) == 0) {
      result = -1;
    } else {
      // The stream was reset, so the end of a packet begun on an earlier page is dropped.
      if (ogg_page_continued(&d->page)) ++first;
      ogg_stream_pagein(&d->stream, &d->page);
    }
  }
  if (result == 0 && first <= target) result = DecodeFrameRange(d, first, target);
  for (int s = 0; s < d->stockSize; ++s)
    d->stock[s].used.store(kSlotFree, std::memory_order_release);
  d->decodedFrame.store(target, std::memory_order_relaxed);
  d->endOfData.store(result < 0 ? 1 : 0, std::memory_order_release);
  d->seekRequest.store(0, std::memory_order_release);
  return 0;
}

// Frees the used slots outside the window of `stock size` frames from the current one, taken
// round the end of the movie, so the thread always has room for the frames the movie wants next.
void DropStaleSlots(TheoraDecoderRecord* d, int current, int count) {
  for (int i = 0; i < d->stockSize; ++i) {
    TheoraFrameSlot& slot = d->stock[i];
    if (slot.used.load(std::memory_order_acquire) != kSlotUsed) continue;
    if (DistanceAhead(slot.frame.load(std::memory_order_relaxed), current, count) < d->stockSize)
      continue;
    std::int32_t expected = kSlotUsed;
    slot.used.compare_exchange_strong(expected, kSlotFree, std::memory_order_acq_rel);
  }
}

int CopyPlane(std::uint8_t** buffer, const unsigned char* source, int width, int height,
              int sourceStride) {
  if (*buffer == nullptr) {
    *buffer = static_cast<std::uint8_t*>(
        TrackedAlloc(static_cast<std::int64_t>(width) * height, __FILE__, __LINE__));
    if (*buffer == nullptr) return -1;
  }
  for (int row = 0; row < height; ++row)
    std::memcpy(*buffer + static_cast<std::int64_t>(row) * width,
                source + static_cast<std::int64_t>(row) * sourceStride, width);
  return 0;
}

void FreeSlotPlanes(TheoraFrameSlot& slot, bool luma, bool chroma) {
  if (luma) {
    TrackedFree(slot.planeY);
    slot.planeY = nullptr;
  }
  if (chroma) {
    TrackedFree(slot.planeU);
    TrackedFree(slot.planeV);
    slot.planeU = nullptr;
    slot.planeV = nullptr;
  }
}

// The decoder's picture into a free slot, row by row, published once the planes are in: 0, or
// -1 when the decoder gave no picture or a plane could not be allocated.
int StorePicture(TheoraDecoderRecord* d, TheoraFrameSlot& slot, int frame) {
  // Before a keyframe the decoder has no picture of this file to give.
  if (d->pictureReady == 0) return -1;
  yuv_buffer yuv{};
  if (theora_decode_YUVout(&d->state, &yuv) != 0) return -1;
  // A damaged stream must not make the copy read outside the decoder's planes: take only
  // pictures of the size the headers announced, in a layout the headers allow.
  const int width = static_cast<int>(d->info.width);
  const int height = static_cast<int>(d->info.height);
  if (yuv.y == nullptr || yuv.u == nullptr || yuv.v == nullptr || yuv.y_width != width ||
      yuv.y_height != height || yuv.uv_width < 1 || yuv.uv_height < 1 || yuv.uv_width > width ||
      yuv.uv_height > height || yuv.y_stride < yuv.y_width || yuv.uv_stride < yuv.uv_width)
    return -1;
  FreeSlotPlanes(slot, slot.yWidth != yuv.y_width || slot.yHeight != yuv.y_height,
                 slot.uvWidth != yuv.uv_width || slot.uvHeight != yuv.uv_height);
  slot.yWidth = yuv.y_width;
  slot.yHeight = yuv.y_height;
  slot.yStride = yuv.y_width;
  slot.uvWidth = yuv.uv_width;
  slot.uvHeight = yuv.uv_height;
  slot.uvStride = yuv.uv_width;
  if (CopyPlane(&slot.planeY, yuv.y, yuv.y_width, yuv.y_height, yuv.y_stride) != 0 ||
      CopyPlane(&slot.planeU, yuv.u, yuv.uv_width, yuv.uv_height, yuv.uv_stride) != 0 ||
      CopyPlane(&slot.planeV, yuv.v, yuv.uv_width, yuv.uv_height, yuv.uv_stride) != 0)
    return -1;
  slot.frame.store(frame, std::memory_order_relaxed);
  slot.used.store(kSlotUsed, std::memory_order_release);
  return 0;
}

// One pass of filling the stock: 1 when a slot was filled or frames decoded, 0 when idle.
int FillStock(TheoraDecoderRecord* d) {
  const int count = static_cast<int>(d->frameCount);
  const int current = d->currentFrame.load(std::memory_order_acquire);
  if (d->endOfData.load(std::memory_order_relaxed) == 0) DropStaleSlots(d, current, count);
  TheoraFrameSlot* free = nullptr;
  int used = 0;
  for (int i = 0; i < d->stockSize; ++i) {
    if (d->stock[i].used.load(std::memory_order_acquire) != kSlotFree)
      ++used;
    else if (free == nullptr)
      free = &d->stock[i];
  }
  // A movie shorter than the stock is whole once each of its frames is held.
  if (free == nullptr || used >= count) {
    d->threadState.store(kTheoraIdle, std::memory_order_release);
    return 0;
  }
  d->threadState.store(kTheoraDecoding, std::memory_order_release);
  const int decoded = d->decodedFrame.load(std::memory_order_relaxed);
  if (DistanceAhead(decoded, current, count) < d->stockSize && !SlotHolds(d, decoded)) {
    if (StorePicture(d, *free, decoded) == 0) return 1;
    // Without room for the planes the frame cannot be shown: the wait for it ends.
    d->endOfData.store(1, std::memory_order_release);
    return 0;
  }
  int step = SlotHolds(d, current) ? 1 : DistanceAhead(current, decoded, count);
  if (step < 1) step = 1;
  int result = 0;
  if (decoded + step < count) {
    result = DecodeTheoraPackets(d, step);
  } else {
    RewindTheoraFile(d, d->pageIndex[0].offset);
    result = DecodeFrameRange(d, 0, decoded + step - count);
  }
  if (result < 0) {
    d->endOfData.store(1, std::memory_order_release);
    return 0;
  }
  return 1;
}

}  // namespace

int ReadTheoraFileChunk(TheoraDecoderRecord* d, int bytes) {
  char* buffer = ogg_sync_buffer(&d->sync, bytes);
  if (buffer == nullptr) return 0;
  const std::size_t read = d->file.read(buffer, 1, static_cast<std::size_t>(bytes), d->fileHandle);
  ogg_sync_wrote(&d->sync, static_cast<long>(read));
  return static_cast<int>(read);
}

int ReadTheoraHeaders(TheoraDecoderRecord* d) {
  // The Theora stream is the one whose first page begins with a header the decoder accepts.
  while (d->headerCount == 0) {
    if (TakePage(d) == 0 || !ogg_page_bos(&d->page)) return -1;
    ogg_stream_state scratch;
    ogg_stream_init(&scratch, ogg_page_serialno(&d->page));
    ogg_stream_pagein(&scratch, &d->page);
    ogg_packet packet;
    if (ogg_stream_packetout(&scratch, &packet) == 1 &&
        theora_decode_header(&d->info, &d->comment, &packet) == 0) {
      d->stream = scratch;
      d->streamReady = 1;
      d->serialNumber = ogg_page_serialno(&d->page);
      d->headerCount = 1;
    } else {
      ogg_stream_clear(&scratch);
    }
  }
  while (d->headerCount < 3) {
    const int result = ogg_stream_packetout(&d->stream, &d->packet);
    if (result < 0) return -1;
    if (result == 0) {
      if (TakePage(d) == 0) return -1;
      ogg_stream_pagein(&d->stream, &d->page);
      continue;
    }
    if (theora_decode_header(&d->info, &d->comment, &d->packet) != 0) return -1;
    ++d->headerCount;
  }
  return 1;
}

int DecodeTheoraPackets(TheoraDecoderRecord* d, int count) {
  const int decoded = d->decodedFrame.load(std::memory_order_relaxed);
  // Frames before the last keyframe among those read need not be decoded.
  int lastKey = -1;
  for (int f = decoded + 1; f <= decoded + count && f < d->frameCount; ++f)
    if (f >= 0 && d->keyframes[f]) lastKey = f;
  int frame = decoded;
  int key = 0;
  for (int read = 0; read < count;) {
    if (TakePacket(d) == 0) return -1;
    const int packetKey = theora_packet_iskeyframe(&d->packet);
    if (packetKey < 0) continue;
    ++frame;
    if ((lastKey == -1 || frame >= lastKey) && theora_decode_packetin(&d->state, &d->packet) == 0 &&
        packetKey == 1)
      d->pictureReady = 1;
    key = packetKey == 1 ? 1 : 0;
    ++read;
    d->decodedFrame.store(frame, std::memory_order_relaxed);
  }
  return key;
}

DWORD TheoraFrameThreadProc(void* parameter) {
  auto* d = static_cast<TheoraDecoderRecord*>(parameter);
  while (d->stopRequest.load(std::memory_order_acquire) == 0) {
    if (d->pauseRequest.load(std::memory_order_acquire) != 0) {
      d->threadState.store(kTheoraPaused, std::memory_order_release);
      Sleep(1);
      continue;
    }
    if (d->seekRequest.load(std::memory_order_acquire) != 0) {
      if (ServeSeek(d) != 0) break;
      continue;
    }
    // An idle thread (stock full, or the file ended) waits a tick rather than spinning.
    if (FillStock(d) == 0) Sleep(1);
  }
  d->threadState.store(kTheoraEnded, std::memory_order_release);
  return 0;
}

TheoraDecoderRecord* OpenTheoraDecoder(const FileFunctionTable* functions, FileHandle file,
                                       int stockSize) {
  char magic[4] = {};
  if (functions->read(magic, 1, 4, file) != 4 || std::memcmp(magic, "OggS", 4) != 0) return nullptr;
  functions->seek(file, 0, 0);
  void* memory = AllocateZeroed(sizeof(TheoraDecoderRecord));
  if (memory == nullptr) {
    LogWriteText("Theora ムービーデコード処理用のメモリ確保に失敗しました\n");
    return nullptr;
  }
  auto* d = new (memory) TheoraDecoderRecord{};
  d->currentFrame.store(-1);
  ogg_sync_init(&d->sync);
  theora_info_init(&d->info);
  theora_comment_init(&d->comment);
  d->file = *functions;
  d->fileHandle = file;
  if (ReadTheoraHeaders(d) != 1) {
    CloseTheoraDecoder(d);
    return nullptr;
  }
  // No device or image of this system holds a larger picture; the check also keeps a damaged
  // header from asking the decoder for gigabytes.
  if (d->info.width == 0 || d->info.height == 0 || d->info.width > kTheoraMaxFrameSide ||
      d->info.height > kTheoraMaxFrameSide || theora_decode_init(&d->state, &d->info) != 0) {
    CloseTheoraDecoder(d);
    return nullptr;
  }
  d->decoderReady = 1;
  RewindTheoraFile(d, 0);
  d->pageIndex = static_cast<TheoraPageIndexEntry*>(
      AllocateZeroed(kTheoraIndexStep * sizeof(TheoraPageIndexEntry)));
  if (d->pageIndex == nullptr) {
    LogWriteText("Theora ページ情報格納用メモリの確保に失敗しました\n");
    CloseTheoraDecoder(d);
    return nullptr;
  }
  d->pageCapacity = kTheoraIndexStep;
  d->keyframes = static_cast<std::uint8_t*>(AllocateZeroed(kTheoraIndexStep));
  if (d->keyframes == nullptr) {
    LogWriteText("Theora キーフレーム情報格納用メモリの確保に失敗しました\n");
    CloseTheoraDecoder(d);
    return nullptr;
  }
  d->keyframeCapacity = kTheoraIndexStep;
  // A file whose index cannot grow, or that has headers and no picture, is not played.
  if (IndexTheoraFile(d) != 0 || d->frameCount == 0 || d->frameCount > 0x7FFFFFFF) {
    CloseTheoraDecoder(d);
    return nullptr;
  }
  d->pageIndex[0].offset = 0;
  RewindTheoraFile(d, 0);
  CreateTheoraYuvSurface(d);
  if (CreateXRGB8StandardImage(static_cast<int>(d->info.width), static_cast<int>(d->info.height),
                               &d->frameImage) != 0) {
    LogWriteText("Theora ムービーデコードフレームストック用画像バッファの確保に失敗しました\n");
    CloseTheoraDecoder(d);
    return nullptr;
  }
  void* stock = AllocateZeroed(static_cast<std::int64_t>(stockSize) * sizeof(TheoraFrameSlot));
  if (stock == nullptr || stockSize < 1) {
    TrackedFree(stock);
    LogWriteText("Theora ムービーデコードフレームストック用のメモリ確保に失敗しました\n");
    CloseTheoraDecoder(d);
    return nullptr;
  }
  d->stock = static_cast<TheoraFrameSlot*>(stock);
  for (int i = 0; i < stockSize; ++i) new (&d->stock[i]) TheoraFrameSlot{};
  d->stockSize = stockSize;
  // The thread starts paused, so it does not read the file before the first seek.
  d->pauseRequest.store(1);
  d->threadState.store(kTheoraIdle);
  d->thread = CreateThread(nullptr, 0, TheoraFrameThreadProc, d, 0, &d->threadId);
  if (d->thread == nullptr) {
    LogWriteText("Theora ムービーデコード用スレッドの作成に失敗しました\n");
    CloseTheoraDecoder(d);
    return nullptr;
  }
  SeekTheoraFrame(d, 0);
  ConvertTheoraFrame(d, 1, 1);
  return d;
}

int CloseTheoraDecoder(TheoraDecoderRecord* d) {
  if (d == nullptr) return 0;
  if (d->thread != nullptr) {
    d->stopRequest.store(1, std::memory_order_release);
    WaitForSingleObject(d->thread, INFINITE);
    CloseHandle(d->thread);
    d->thread = nullptr;
  }
  for (int i = 0; i < d->stockSize; ++i) FreeSlotPlanes(d->stock[i], true, true);
  TrackedFree(d->stock);
  ReleaseTheoraYuvSurface(d);
  TrackedFree(d->pageIndex);
  TrackedFree(d->keyframes);
  if (d->frameImage.pixels != nullptr) ReleaseStandardImage(&d->frameImage);
  if (d->streamReady) ogg_stream_clear(&d->stream);
  if (d->decoderReady) theora_clear(&d->state);
  theora_comment_clear(&d->comment);
  theora_info_clear(&d->info);
  ogg_sync_clear(&d->sync);
  d->~TheoraDecoderRecord();
  TrackedFree(d);
  return 0;
}

int SeekTheoraFrame(TheoraDecoderRecord* d, int frame) {
  if (frame == d->currentFrame.load(std::memory_order_relaxed)) return 0;
  d->imageCurrent = 0;
  d->surfaceCurrent = 0;
  d->pauseRequest.store(1, std::memory_order_release);
  for (;;) {
    const int state = d->threadState.load(std::memory_order_acquire);
    if (state == kTheoraPaused) break;
    // An ended thread never pauses; the seek has nothing to hand over.
    if (state == kTheoraEnded) return 0;
    Sleep(0);
  }
  if (frame >= d->frameCount) frame = static_cast<int>(d->frameCount) - 1;
  if (frame < 0) frame = 0;
  d->currentFrame.store(frame, std::memory_order_release);
  d->seekTarget.store(frame, std::memory_order_relaxed);
  d->seekRequest.store(1, std::memory_order_release);
  d->pauseRequest.store(0, std::memory_order_release);
  return 0;
}

int AdvanceTheoraFrame(TheoraDecoderRecord* d, int count) {
  if (count <= 0) return 0;
  const std::int64_t frames = d->frameCount;
  std::int64_t frame = d->currentFrame.load(std::memory_order_relaxed) + std::int64_t{count};
  if (frame >= frames) frame %= frames;
  d->currentFrame.store(static_cast<std::int32_t>(frame), std::memory_order_release);
  d->imageCurrent = 0;
  d->surfaceCurrent = 0;
  return 0;
}

StandardImage* GetTheoraFrameImage(TheoraDecoderRecord* d) { return &d->frameImage; }

IDirect3DSurface9* GetTheoraYuvSurface(TheoraDecoderRecord* d) { return d->yuvSurface; }

int GetTheoraMovieInfo(TheoraDecoderRecord* d, TheoraMovieInfo* info) {
  const auto numerator = static_cast<std::uint32_t>(d->info.fps_numerator);
  const auto denominator = static_cast<std::uint32_t>(d->info.fps_denominator);
  info->framesPerSecond =
      denominator == 0 ? 0.0 : static_cast<double>(numerator) / static_cast<double>(denominator);
  info->frameCount = static_cast<std::int32_t>(d->frameCount);
  info->width = static_cast<std::int32_t>(d->info.width);
  info->height = static_cast<std::int32_t>(d->info.height);
  return 0;
}

int GetTheoraCurrentFrame(TheoraDecoderRecord* d) {
  return d->currentFrame.load(std::memory_order_relaxed);
}

const TheoraFrameSlot* FindTheoraCurrentSlot(TheoraDecoderRecord* d) {
  const int current = d->currentFrame.load(std::memory_order_relaxed);
  for (int i = 0; i < d->stockSize; ++i) {
    TheoraFrameSlot& slot = d->stock[i];
    if (slot.used.load(std::memory_order_acquire) != kSlotUsed ||
        slot.frame.load(std::memory_order_relaxed) != current)
      continue;
    std::int32_t expected = kSlotUsed;
    if (!slot.used.compare_exchange_strong(expected, kSlotReading, std::memory_order_acq_rel))
      continue;
    // The thread writes a slot's frame only while the slot is free, so this reads settled.
    if (slot.frame.load(std::memory_order_relaxed) == current) return &slot;
    slot.used.store(kSlotUsed, std::memory_order_release);
  }
  return nullptr;
}

void ReleaseTheoraCurrentSlot(const TheoraFrameSlot* slot) {
  const_cast<TheoraFrameSlot*>(slot)->used.store(kSlotUsed, std::memory_order_release);
}
