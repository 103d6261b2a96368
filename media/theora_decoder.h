// The Theora movie decoder: indexes an Ogg Theora file once at open, then a decode thread keeps a
// small stock of decoded frames (YUV planes) ahead of the frame the movie wants, so the main
// thread only converts the wanted frame into an XRGB8 image or a YUV surface.
#pragma once

#include <atomic>
#include <cstdint>

#include <ogg/ogg.h>
#include <theora/theora.h>

#include "files/color_format.h"
#include "files/file_table.h"
#include "platform/win32/win32_types.h"

struct IDirect3DDevice9;
struct IDirect3DSurface9;

// Thread states; only the decode thread writes them.
enum TheoraThreadState : std::int32_t {
  kTheoraIdle = 0,
  kTheoraDecoding = 1,
  kTheoraSeeking = 2,
  kTheoraEnded = 3,
  kTheoraPaused = 4,
};

constexpr int kTheoraChunkBytes = 4096;
constexpr int kTheoraIndexStep = 1000;
constexpr int kMovieFrameStock = 10;
constexpr unsigned kTheoraMaxFrameSide = 4096;

// One page from which a video packet came out.
struct TheoraPageIndexEntry {
  std::int32_t offset;  // of the page in the file; the first entry's is 0
  std::int32_t firstFrame;
  std::int32_t keyframe;  // 1 when a keyframe packet came out of the page
  std::int32_t frames;    // video packets that ended in the page
};

// The decode thread fills a free slot, then publishes it (frame first, then used with release
// order); the main thread reads only the slot of the current frame, which the thread keeps.
struct TheoraFrameSlot {
  std::atomic<std::int32_t> used;
  std::atomic<std::int32_t> frame;
  std::uint8_t* planeY;
  std::uint8_t* planeU;
  std::uint8_t* planeV;
  std::int32_t yWidth;
  std::int32_t yHeight;
  std::int32_t yStride;
  std::int32_t uvWidth;
  std::int32_t uvHeight;
  std::int32_t uvStride;
};

struct TheoraMovieInfo {
  double framesPerSecond;
  std::int32_t frameCount;
  std::int32_t width;
  std::int32_t height;
};

struct TheoraDecoderRecord {
  std::atomic<std::int32_t> threadState;
  std::atomic<std::int32_t> pauseRequest;
  std::atomic<std::int32_t> stopRequest;
  std::atomic<std::int32_t> seekRequest;
  std::atomic<std::int32_t> seekTarget;
  std::atomic<std::int32_t> endOfData;
  HANDLE thread;
  DWORD threadId;
  FileFunctionTable file;
  FileHandle fileHandle;
  ogg_sync_state sync;
  ogg_page page;
  ogg_stream_state stream;
  std::int32_t streamReady;  // 1 once `stream` was initialised
  ogg_packet packet;
  theora_info info;
  theora_comment comment;
  theora_state state;
  std::int32_t decoderReady;  // 1 once `state` was initialised
  std::int32_t pictureReady;  // 1 once a keyframe was decoded since the file was last rewound
  std::int32_t serialNumber;
  TheoraPageIndexEntry* pageIndex;
  std::int32_t pageCount;
  std::int32_t pageCapacity;
  std::uint8_t* keyframes;
  std::int32_t keyframeCapacity;
  std::int64_t frameCount;
  std::atomic<std::int32_t> currentFrame;  // -1 until the first seek
  std::atomic<std::int32_t> decodedFrame;
  std::int32_t headerCount;
  TheoraFrameSlot* stock;
  std::int32_t stockSize;
  StandardImage frameImage;
  IDirect3DSurface9* yuvSurface;
  std::uint32_t yuvSurfaceFormat;  // YV12, YUY2 or UYVY as a FOURCC; 0 when none
  std::int32_t imageCurrent;
  std::int32_t surfaceCurrent;
};

// Graphics names the device YUV surfaces are made on: null in software mode.
using TheoraDeviceSource = IDirect3DDevice9* (*)();
int SetTheoraDeviceSource(TheoraDeviceSource source);

int BuildYuvToRgbTables();
// The table conversion of one pixel, as bytes B, G, R, 255 in `bgra`.
void ConvertYuvPixelWithTables(int y, int u, int v, std::uint8_t* bgra);

TheoraDecoderRecord* OpenTheoraDecoder(const FileFunctionTable* functions, FileHandle file,
                                       int stockSize);
int CloseTheoraDecoder(TheoraDecoderRecord* decoder);
int ReadTheoraFileChunk(TheoraDecoderRecord* decoder, int bytes);
int ReadTheoraHeaders(TheoraDecoderRecord* decoder);
int SeekTheoraFrame(TheoraDecoderRecord* decoder, int frame);
int AdvanceTheoraFrame(TheoraDecoderRecord* decoder, int count);
int CreateTheoraYuvSurface(TheoraDecoderRecord* decoder);
int ConvertTheoraFrame(TheoraDecoderRecord* decoder, int toImage, int toSurface);
StandardImage* GetTheoraFrameImage(TheoraDecoderRecord* decoder);
IDirect3DSurface9* GetTheoraYuvSurface(TheoraDecoderRecord* decoder);
int GetTheoraMovieInfo(TheoraDecoderRecord* decoder, TheoraMovieInfo* info);
int GetTheoraCurrentFrame(TheoraDecoderRecord* decoder);
DWORD TheoraFrameThreadProc(void* decoder);
int DecodeTheoraPackets(TheoraDecoderRecord* decoder, int count);
// Packs the current slot into the locked YUV surface memory (pitch bytes a row).
int PackTheoraFrameToSurface(const TheoraFrameSlot* slot, std::uint32_t format, std::uint8_t* bits,
                             int pitch);
// The slot holding the current frame, taken for reading so the thread leaves it alone until
// ReleaseTheoraCurrentSlot; null when the stock does not hold it.
const TheoraFrameSlot* FindTheoraCurrentSlot(TheoraDecoderRecord* decoder);
void ReleaseTheoraCurrentSlot(const TheoraFrameSlot* slot);
int ReleaseTheoraYuvSurface(TheoraDecoderRecord* decoder);
