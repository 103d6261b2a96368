// Pixels into graphs and out of the draw target: the upload of a rectangle of a CPU image into a
// graph's texture tiles (converted, with the edge column and row repeated, mip levels halved, DXT
// blocks copied) or into its MEMIMG; filling a graph with a colour; a movie frame into its graph;
// and reading back the draw target.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "files/color_convert.h"
#include "files/dxt_decompress.h"
#include "graphics/draw_settings.h"
#include "graphics/draw_target.h"
#include "graphics/frame_present.h"
#include "graphics/graph_handle.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_state.h"
#include "graphics/screen_mode.h"
#include "graphics/vertex_batch.h"
#include "media/movie.h"
#include "media/theora_decoder.h"
#include "softrender/software_kernels.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

struct DrawTargetLock {
  bool locked;
  IDirect3DSurface9* surface;  // the surface that is locked
  bool temporary;              // a system-memory copy made for the lock
};
DrawTargetLock targetLock;

int DXTKind(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_DXT1: return 1;
    case D3DFMT_DXT2: return 2;
    case D3DFMT_DXT3: return 3;
    case D3DFMT_DXT4: return 4;
    case D3DFMT_DXT5: return 5;
    default: return 0;
  }
}

int NextPowerOfTwo(int value) {
  int result = 1;
  while (result < value) result <<= 1;
  return result;
}

// Bytes of one compressed level of the given size.
int64_t CompressedLevelBytes(int compression, int width, int height) {
  const int64_t blockBytes = compression == 1 ? 8 : 16;
  return static_cast<int64_t>((std::max(1, width) + 3) / 4) * ((std::max(1, height) + 3) / 4) *
         blockBytes;
}

// Repeats the last written column into the one beside it and the last row into the one below, so
// that filtering at a tile's edge reads image pixels.
void RepeatEdges(uint8_t* bits, int pitch, int bytes, int width, int height, bool column,
                 bool row) {
  if (bytes != 2 && bytes != 4) return;
  if (column) {
    for (int y = 0; y < height; ++y) {
      uint8_t* line = bits + static_cast<intptr_t>(y) * pitch;
      std::memcpy(line + static_cast<intptr_t>(width) * bytes,
                  line + static_cast<intptr_t>(width - 1) * bytes, static_cast<size_t>(bytes));
    }
  }
  if (row) {
    const int rowBytes = (width + (column ? 1 : 0)) * bytes;
    std::memcpy(bits + static_cast<intptr_t>(height) * pitch,
                bits + static_cast<intptr_t>(height - 1) * pitch, static_cast<size_t>(rowBytes));
  }
}

struct UploadJob {
  const StandardImage* image;
  const StandardImage* alphaImage;
  const ColorFormat* target;
  int blendImage;
  int useTransparentColor;
  uint32_t transparentColor;
};

int Convert(const UploadJob& job, void* bits, int pitch, const RECT& source) {
  const StandardImage* alpha = job.alphaImage;
  return ConvertPixelRect(
      bits, pitch, job.target, job.image->pixels, job.image->pitch, &job.image->format,
      alpha != nullptr ? alpha->pixels : nullptr, alpha != nullptr ? alpha->pitch : 0,
      alpha != nullptr ? &alpha->format : nullptr, 0, 0, &source, 0, job.useTransparentColor,
      job.transparentColor, 0, 0, job.blendImage, 0, 0);
}

// One texture level filled from a part of the source; the extra column and row repeat the edge.
int UploadSingleLevel(const UploadJob& job, IDirect3DTexture9* texture, const GraphImageTile& tile,
                      const RECT& part, const RECT& source) {
  const int width = part.right - part.left;
  const int height = part.bottom - part.top;
  const bool column = part.right == tile.x + tile.usedWidth && tile.textureWidth > tile.usedWidth;
  const bool row = part.bottom == tile.y + tile.usedHeight && tile.textureHeight > tile.usedHeight;
  const RECT lockRect{part.left - tile.x, part.top - tile.y, part.right - tile.x + (column ? 1 : 0),
                      part.bottom - tile.y + (row ? 1 : 0)};
  D3DLOCKED_RECT locked{};
  if (FAILED(texture->LockRect(0, &locked, &lockRect, 0))) {
    LogWriteText("テクスチャのロックに失敗しました\n");
    return -1;
  }
  auto* bits = static_cast<uint8_t*>(locked.pBits);
  Convert(job, bits, locked.Pitch, source);
  RepeatEdges(bits, locked.Pitch, job.target->bytesPerPixel, width, height, column, row);
  texture->UnlockRect(0);
  return 0;
}

// Every level of the texture from level 0 of the source, each level the previous one halved.
int UploadHalvedLevels(const UploadJob& job, IDirect3DTexture9* texture, int levels,
                       const GraphImageTile& tile, const RECT& part, const RECT& source) {
  const int width = part.right - part.left;
  const int height = part.bottom - part.top;
  const int bytes = job.target->bytesPerPixel;
  int bufferWidth = NextPowerOfTwo(width);
  int bufferHeight = NextPowerOfTwo(height);
  std::vector<uint8_t> current;
  std::vector<uint8_t> next;
  const size_t size = static_cast<size_t>(bufferWidth) * static_cast<size_t>(bufferHeight) *
                      static_cast<size_t>(bytes);
  try {
    current.assign(size, 0);
    next.assign(size, 0);
  } catch (const std::bad_alloc&) {
    LogWriteText("テクスチャへ転送する画像を一時的に格納するメモリ領域の確保に失敗しました\n");
    return -1;
  }
  Convert(job, current.data(), bufferWidth * bytes, source);
  for (int level = 0; level < levels; ++level) {
    if (level > 0) {
      HalveImagePixels(job.target, next.data(), std::max(1, bufferWidth / 2) * bytes,
                       current.data(), bufferWidth * bytes, 0, 0, 0, 0, bufferWidth, bufferHeight);
      bufferWidth = std::max(1, bufferWidth / 2);
      bufferHeight = std::max(1, bufferHeight / 2);
      current.swap(next);
    }
    const int levelWidth = std::max(1, tile.textureWidth >> level);
    const int levelHeight = std::max(1, tile.textureHeight >> level);
    const int left = (part.left - tile.x) >> level;
    const int top = (part.top - tile.y) >> level;
    const int copyWidth = std::min(std::max(1, width >> level), levelWidth - left);
    const int copyHeight = std::min(std::max(1, height >> level), levelHeight - top);
    if (copyWidth <= 0 || copyHeight <= 0) break;
    const RECT lockRect{left, top, left + copyWidth, top + copyHeight};
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(static_cast<UINT>(level), &locked, &lockRect, 0))) {
      LogWriteText("ミップマップテクスチャのロックに失敗しました\n");
      return -1;
    }
    for (int y = 0; y < copyHeight; ++y)
      std::memcpy(
          static_cast<uint8_t*>(locked.pBits) + static_cast<intptr_t>(y) * locked.Pitch,
          current.data() + static_cast<size_t>(y) * static_cast<size_t>(bufferWidth * bytes),
          static_cast<size_t>(copyWidth * bytes));
    texture->UnlockRect(static_cast<UINT>(level));
  }
  return 0;
}

// A source that brings its own levels (a DDS image) covering the whole tile: compressed blocks of
// the texture's kind are copied row of blocks by row of blocks; any other source is converted
// level by level from where it stores each level.
int UploadStoredLevels(const UploadJob& job, IDirect3DTexture9* texture, int levels,
                       int textureDXT) {
  const StandardImage* image = job.image;
  const uint8_t* level0 = image->pixels;
  int64_t offset = 0;
  for (int level = 0; level < levels; ++level) {
    const int width = std::max(1, image->width >> level);
    const int height = std::max(1, image->height >> level);
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(static_cast<UINT>(level), &locked, nullptr, 0))) {
      LogWriteText("ミップマップテクスチャのロックに失敗しました\n");
      return -1;
    }
    if (textureDXT != 0) {
      const int64_t rowBytes = CompressedLevelBytes(textureDXT, width, 4);
      const int blockRows = (height + 3) / 4;
      for (int y = 0; y < blockRows; ++y)
        std::memcpy(static_cast<uint8_t*>(locked.pBits) + static_cast<intptr_t>(y) * locked.Pitch,
                    level0 + offset + y * rowBytes, static_cast<size_t>(rowBytes));
      offset += CompressedLevelBytes(textureDXT, width, height);
    } else {
      const int pitch = std::max<int>(image->format.bytesPerPixel, image->pitch >> level);
      StandardImage stored = *image;
      stored.pixels = const_cast<uint8_t*>(level0 + offset);
      stored.pitch = pitch;
      stored.width = width;
      stored.height = height;
      UploadJob levelJob = job;
      levelJob.image = &stored;
      levelJob.alphaImage = nullptr;
      Convert(levelJob, locked.pBits, locked.Pitch, RECT{0, 0, width, height});
      offset += static_cast<int64_t>(pitch) * height;
    }
    texture->UnlockRect(static_cast<UINT>(level));
  }
  return 0;
}

int UploadToDrawValidImage(const UploadJob& job, GraphImageRecord* image, D3DFORMAT format,
                           const RECT& region, const RECT& source) {
  IDirect3DDevice9* device = GraphicsCore().device;
  const int width = region.right - region.left;
  const int height = region.bottom - region.top;
  IDirect3DSurface9* memory = nullptr;
  if (FAILED(device->CreateOffscreenPlainSurface(static_cast<UINT>(width),
                                                 static_cast<UINT>(height), format,
                                                 D3DPOOL_SYSTEMMEM, &memory, nullptr))) {
    LogWriteText("画像転送用のシステムメモリテクスチャの作成に失敗しました\n");
    return -1;
  }
  D3DLOCKED_RECT locked{};
  if (SUCCEEDED(memory->LockRect(&locked, nullptr, 0))) {
    Convert(job, locked.pBits, locked.Pitch, source);
    memory->UnlockRect();
  }
  int result = 0;
  for (int i = 0; i < image->tileCount; ++i) {
    const GraphImageTile& tile = image->tiles[i];
    RECT part{std::max<LONG>(region.left, tile.x), std::max<LONG>(region.top, tile.y),
              std::min<LONG>(region.right, tile.x + tile.usedWidth),
              std::min<LONG>(region.bottom, tile.y + tile.usedHeight)};
    if (part.right <= part.left || part.bottom <= part.top) continue;
    const RECT from{part.left - region.left, part.top - region.top, part.right - region.left,
                    part.bottom - region.top};
    const POINT to{part.left - tile.x, part.top - tile.y};
    if (FAILED(device->UpdateSurface(memory, &from, tile.surface, &to))) {
      LogWriteText("描画可能テクスチャへの画像の転送に失敗しました\n");
      result = -1;
      break;
    }
  }
  memory->Release();
  return result;
}

}  // namespace

const ColorFormat* GetTextureColorFormat(int formatIndex) {
  static const std::array<ColorFormat, 14> formats = [] {
    std::array<ColorFormat, 14> made{};
    MakeColorFormatFromMasks(&made[0], 16, 0xF800, 0x07E0, 0x001F, 0);
    MakeColorFormatFromMasks(&made[1], 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0);
    MakeColorFormatFromMasks(&made[2], 16, 0x0F00, 0x00F0, 0x000F, 0xF000);
    MakeColorFormatFromMasks(&made[3], 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000u);
    MakeColorFormatFromMasks(&made[4], 16, 0x7C00, 0x03E0, 0x001F, 0x8000);
    MakeColorFormatFromMasks(&made[5], 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000u);
    for (int kind = 1; kind <= 5; ++kind) {
      ColorFormat& format = made[static_cast<size_t>(5 + kind)];
      MakeARGB8ColorFormat(&format);
      format.compression = kind;
      format.bitDepth = kind == 1 ? 4 : 8;
    }
    MakeColorFormatFromMasks(&made[11], 16, 0xF800, 0x07E0, 0x001F, 0);
    MakeColorFormatFromMasks(&made[12], 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0);
    MakeColorFormatFromMasks(&made[13], 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000u);
    return made;
  }();
  if (formatIndex < 0 || formatIndex > 13) return nullptr;
  return &formats[static_cast<size_t>(formatIndex)];
}

const ColorFormat* GetGraphImageColorFormat(const GraphImageRecord* image) {
  return GetTextureColorFormat(GetGraphImageFormatIndex(
      image->compression, image->drawValid, image->alpha, image->alphaTest, image->colorBits));
}

namespace {

// The copy in the image record's coordinates, cut to the graph (or the whole image, with
// imageAbsolute) and to the source image; `source` becomes the part of the image copied. Returns
// the target region, empty when nothing is copied.
RECT ClipUploadRegion(const GraphRecord* record, const GraphImageRecord* target,
                      const StandardImage* image, int imageAbsolute, int destX, int destY,
                      RECT* sourceRect) {
  RECT& source = *sourceRect;
  RECT bounds{0, 0, target->width, target->height};
  if (!imageAbsolute) {
    destX += record->x;
    destY += record->y;
    bounds = RECT{record->x, record->y, record->x + record->width, record->y + record->height};
  }
  if (source.left < 0) {
    destX -= source.left;
    source.left = 0;
  }
  if (source.top < 0) {
    destY -= source.top;
    source.top = 0;
  }
  source.right = std::min<LONG>(source.right, image->width);
  source.bottom = std::min<LONG>(source.bottom, image->height);
  RECT region{std::max<LONG>(destX, bounds.left), std::max<LONG>(destY, bounds.top),
              std::min<LONG>(destX + (source.right - source.left), bounds.right),
              std::min<LONG>(destY + (source.bottom - source.top), bounds.bottom)};
  source.left += region.left - destX;
  source.top += region.top - destY;
  source.right = source.left + (region.right - region.left);
  source.bottom = source.top + (region.bottom - region.top);
  return region;
}

// The copy into a graph kept as a software image; a palette image finds its transparent colour's
// index again.
void UploadToSoftwareImage(GraphImageRecord* target, const StandardImage* image,
                           const StandardImage* alphaImage, const RECT& source, const RECT& region,
                           int useTransparentColor) {
  MEMIMG* memimg = &target->image;
  CopyStandardImageToMEMIMG(image, alphaImage, memimg, source.left, source.top,
                            region.right - region.left, region.bottom - region.top, region.left,
                            region.top, 0);
  MEMIMGBody* body = memimg->body;
  if (body->paletteFlag && body->palette != nullptr && useTransparentColor) {
    const uint32_t rgb = target->transparentColor;
    const bool wide = body->pixelType == MEMIMG_PIXEL_XRGB8;
    const uint32_t key = ColorFormatCodeFromRGBA(
        GetMEMIMGColorFormat(body->pixelType, 0, 0), static_cast<int>(rgb >> 16),
        static_cast<int>((rgb >> 8) & 0xFF), static_cast<int>(rgb & 0xFF), 0);
    // No entry of the transparent colour: no index is transparent (0xFFFF matches none).
    uint32_t found = 0xFFFF;
    const int entries = body->paletteSize > 0 ? body->paletteSize : 256;
    for (int i = 0; i < entries && found == 0xFFFF; ++i) {
      const uint8_t* entry = body->palette + (wide ? 4 * i : 2 * i);
      const uint32_t value =
          wide ? (entry[0] | (entry[1] << 8) | (entry[2] << 16)) : (entry[0] | (entry[1] << 8));
      if (value == (wide ? key & 0xFFFFFF : key & 0xFFFF)) found = static_cast<uint32_t>(i);
    }
    body->transparentColor = found;
  }
}

// A copy of a compressed image, decompressed; false (logged, nothing kept) when it cannot be made.
bool DecompressForUpload(const StandardImage* image, StandardImage* decompressed) {
  const int64_t bytes =
      CompressedLevelBytes(image->format.compression, image->width, image->height);
  *decompressed = *image;
  decompressed->pixels = static_cast<uint8_t*>(TrackedAlloc(bytes, __FILE__, __LINE__));
  if (decompressed->pixels == nullptr) {
    LogWriteText("標準イメージ用のメモリ確保に失敗しました\n");
    return false;
  }
  std::memcpy(decompressed->pixels, image->pixels, static_cast<size_t>(bytes));
  if (DecompressDXTStandardImage(decompressed) != 0) {
    TrackedFree(decompressed->pixels);
    LogWriteText("標準イメージ用のメモリ確保に失敗しました\n");
    return false;
  }
  return true;
}

// The copy into each texture tile the region touches, every mip level made or copied; -1 when a
// tile's upload fails.
int UploadToTiles(const UploadJob& job, const GraphImageRecord* target, int textureDXT,
                  const RECT& region, const RECT& source, IDirect3DDevice9* device) {
  const int levels = std::max(1, target->textureMipLevels);
  for (int i = 0; i < target->tileCount; ++i) {
    const GraphImageTile& tile = target->tiles[i];
    const RECT part{std::max<LONG>(region.left, tile.x), std::max<LONG>(region.top, tile.y),
                    std::min<LONG>(region.right, tile.x + tile.usedWidth),
                    std::min<LONG>(region.bottom, tile.y + tile.usedHeight)};
    if (part.right <= part.left || part.bottom <= part.top) continue;
    const RECT partSource{
        source.left + (part.left - region.left), source.top + (part.top - region.top),
        source.left + (part.right - region.left), source.top + (part.bottom - region.top)};
    const bool wholeTile =
        part.left == tile.x && part.top == tile.y && tile.usedWidth == tile.textureWidth &&
        tile.usedHeight == tile.textureHeight && part.right == tile.x + tile.textureWidth &&
        part.bottom == tile.y + tile.textureHeight;
    IDirect3DTexture9* texture =
        tile.stagingTexture != nullptr ? tile.stagingTexture : tile.texture;
    if (texture == nullptr) continue;
    int result = 0;
    if (textureDXT != 0) {
      const bool sameKind = job.image->format.compression == textureDXT;
      const bool wholeImage = partSource.left == 0 && partSource.top == 0 &&
                              partSource.right == job.image->width &&
                              partSource.bottom == job.image->height;
      if (!sameKind || !wholeTile || !wholeImage) {
        LogWriteText("DXTフォーマットのテクスチャに標準形式のイメージを転送することはできません\n");
        continue;
      }
      const int copied = job.image->mipLevelCount >= levels ? levels : 1;
      result = UploadStoredLevels(job, texture, copied, textureDXT);
    } else if (levels == 1) {
      result = UploadSingleLevel(job, texture, tile, part, partSource);
    } else if (job.image->mipLevelCount >= levels && wholeTile && partSource.left == 0 &&
               partSource.top == 0 && partSource.right == job.image->width &&
               partSource.bottom == job.image->height) {
      result = UploadStoredLevels(job, texture, levels, 0);
    } else {
      result = UploadHalvedLevels(job, texture, levels, tile, part, partSource);
    }
    if (result != 0) return -1;
    if (tile.stagingTexture != nullptr) device->UpdateTexture(tile.stagingTexture, tile.texture);
  }
  return 0;
}

}  // namespace

int UploadImageToGraph(int graph, const RECT* sourceRect, int destX, int destY,
                       const StandardImage* image, const StandardImage* alphaImage, int blendImage,
                       int useTransparentColor, int imageAbsolute) {
  GraphicsCoreState& core = GraphicsCore();
  GraphRecord* record = GetGraphRecord(graph);
  if (!core.initialised || record == nullptr || record->image == nullptr || image == nullptr)
    return -1;
  FlushVertexBatch();
  RECT source = sourceRect != nullptr ? *sourceRect : RECT{0, 0, image->width, image->height};
  if (source.right <= source.left || source.bottom <= source.top) return 0;
  GraphImageRecord* target = record->image;
  const RECT region = ClipUploadRegion(record, target, image, imageAbsolute, destX, destY, &source);
  const bool empty = region.right <= region.left || region.bottom <= region.top;

  if (!target->textureBacked) {
    if (empty) return -1;
    UploadToSoftwareImage(target, image, alphaImage, source, region, useTransparentColor);
    return 0;
  }

  if (core.device == nullptr) return -1;
  if (empty) return 0;
  const D3DFORMAT format = GetTextureFormat(target->formatIndex);
  const int textureDXT = DXTKind(format);
  UploadJob job{image,      alphaImage,          GetColorFormatForD3DFormat(format),
                blendImage, useTransparentColor, target->transparentColor};

  // A compressed source going into an ordinary texture is decompressed first, into a copy.
  StandardImage decompressed{};
  bool ownDecompressed = false;
  if (image->format.compression != 0 && image->format.compression != textureDXT) {
    if (!DecompressForUpload(image, &decompressed)) return -1;
    ownDecompressed = true;
    job.image = &decompressed;
  }
  auto finish = [&](int result) {
    if (ownDecompressed) ReleaseStandardImage(&decompressed);
    return result;
  };
  if (textureDXT == 0 && job.target == nullptr) return finish(-1);
  if (target->drawValid) return finish(UploadToDrawValidImage(job, target, format, region, source));
  return finish(UploadToTiles(job, target, textureDXT, region, source, core.device));
}

int TransferImageToGraph(const char* fileName, const StandardImage* image,
                         const StandardImage* alphaImage, int x, int y, int graph,
                         int reloadFlags) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr) return -1;
  if (SetGraphFileNameRecord(graph, fileName, -1) != 0) return -1;
  record->fileX = x;
  record->fileY = y;
  record->reloadFlags = reloadFlags;
  const RECT source{x, y, x + record->width, y + record->height};
  return UploadImageToGraph(graph, &source, 0, 0, image, alphaImage, record->image->blendImage,
                            GetDrawSettings()->noTransparentColor ? 0 : 1, 0);
}

int TransferImageRectToGraph(const char* fileName, const StandardImage* image,
                             const StandardImage* alphaImage, const RECT* sourceRect, int destX,
                             int destY, int graph, int reloadFlags) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr) return -1;
  if (SetGraphFileNameRecord(graph, fileName, -1) != 0) return -1;
  record->fileX = sourceRect != nullptr ? sourceRect->left - destX : 0;
  record->fileY = sourceRect != nullptr ? sourceRect->top - destY : 0;
  record->reloadFlags = reloadFlags;
  return UploadImageToGraph(graph, sourceRect, destX, destY, image, alphaImage,
                            record->image->blendImage,
                            GetDrawSettings()->noTransparentColor ? 0 : 1, 0);
}

int FillGraphWithColor(int graph, int red, int green, int blue, int alpha) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr || record->image == nullptr) return -1;
  auto clamp = [](int value) { return std::clamp(value, 0, 255); };
  red = clamp(red);
  green = clamp(green);
  blue = clamp(blue);
  alpha = clamp(alpha);
  if (!record->image->textureBacked) {
    const int32_t rect[4] = {0, 0, record->width, record->height};
    const KernelDrawSettings settings = GetKernelDrawSettings(GetDrawSettings());
    FillMEMIMGRectangle(&record->memimg, rect, MakeScreenColorCode(red, green, blue), &settings);
    return 0;
  }
  IDirect3DDevice9* device = GraphicsCore().device;
  if (device == nullptr) return -1;
  // Only a render-target texture can be filled by the device; other graphs keep their pixels.
  if (!record->image->drawValid) return 0;
  FlushVertexBatch();
  const D3DCOLOR color = (static_cast<uint32_t>(alpha) << 24) | (static_cast<uint32_t>(red) << 16) |
                         (static_cast<uint32_t>(green) << 8) | static_cast<uint32_t>(blue);
  for (int i = 0; i < record->tileCount; ++i) {
    const GraphTile& tile = record->tiles[i];
    const RECT rect{tile.srcX, tile.srcY, tile.srcX + tile.width, tile.srcY + tile.height};
    device->ColorFill(tile.imageTile->surface, &rect, color);
  }
  return 0;
}

int UpdateGraphFromMovieFrame(MovieRecord* movie, int graph) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr || movie == nullptr) return -1;
  if (movie->theora) {
    // The graph is made after the movie decoded its first frame, so the first delivery uploads
    // even when the decoder has nothing new.
    const bool firstDelivery = movie->frameDelivered == 0;
    TheoraDecoderRecord* decoder = movie->theoraDecoder;
    IDirect3DSurface9* surface = GetTheoraYuvSurface(decoder);
    IDirect3DDevice9* device = GraphicsCore().device;
    if (surface != nullptr && device != nullptr && !record->image->softwareImage &&
        record->image->tileCount > 0) {
      if (ConvertTheoraFrame(decoder, 0, 1) == 0 && !firstDelivery) return 0;
      FlushVertexBatch();
      device->StretchRect(surface, nullptr, record->image->tiles[0].surface, nullptr, D3DTEXF_NONE);
      return 0;
    }
    if (ConvertTheoraFrame(decoder, 1, 0) == 0 && !firstDelivery) return 0;
  }
  const StandardImage* frame = GetMovieFrameImage(movie);
  if (frame == nullptr) return 0;
  return UploadImageToGraph(graph, nullptr, 0, 0, frame, nullptr, 0, 0, 0);
}

int LockDrawTargetPixels(const RECT* rect, StandardImage* image) {
  if (rect == nullptr || image == nullptr || targetLock.locked) return -1;
  FlushVertexBatch();
  EndDeviceScene();
  const int target = GetDrawSettings()->drawTarget;
  int width = 0;
  int height = 0;
  if (GetGraphOrScreenSize(target, &width, &height) != 0) return -1;
  if (rect->left < 0 || rect->left >= rect->right || rect->right > width || rect->top < 0 ||
      rect->top >= rect->bottom || rect->bottom > height)
    return -1;
  const int rectWidth = rect->right - rect->left;
  const int rectHeight = rect->bottom - rect->top;
  *image = StandardImage{};
  image->width = rectWidth;
  image->height = rectHeight;

  GraphicsCoreState& core = GraphicsCore();
  if (!core.direct3DActive) {
    const MEMIMG* memimg = IsScreenDrawTarget(target)
                               ? GetSoftwareScreenImage(kSoftwareScreenPrimary)
                               : GetGraphMEMIMG(target);
    if (memimg == nullptr) return -1;
    image->format = *memimg->body->format;
    image->pitch = memimg->body->pitch;
    image->pixels = memimg->pixels + static_cast<intptr_t>(rect->top) * memimg->body->pitch +
                    static_cast<intptr_t>(rect->left) * memimg->body->format->bytesPerPixel;
    targetLock = DrawTargetLock{true, nullptr, false};
    return 0;
  }
  IDirect3DDevice9* device = core.device;
  if (device == nullptr) return -1;
  IDirect3DSurface9* surface = nullptr;
  D3DFORMAT format = core.screenFormat;
  if (IsScreenDrawTarget(target)) {
    surface = core.subBackBuffer != nullptr ? core.subBackBuffer : core.backBuffer;
  } else {
    const GraphRecord* record = GetGraphRecord(target);
    if (record == nullptr || record->image == nullptr || record->image->tileCount < 1) return -1;
    surface = record->image->tiles[0].surface;
    format = GetTextureFormat(record->image->formatIndex);
  }
  const ColorFormat* colorFormat = GetColorFormatForD3DFormat(format);
  if (surface == nullptr || colorFormat == nullptr) return -1;
  D3DLOCKED_RECT locked{};
  if (SUCCEEDED(surface->LockRect(&locked, rect, D3DLOCK_READONLY))) {
    targetLock = DrawTargetLock{true, surface, false};
  } else {
    IDirect3DSurface9* renderTarget = nullptr;
    if (FAILED(device->CreateRenderTarget(static_cast<UINT>(rectWidth),
                                          static_cast<UINT>(rectHeight), format,
                                          D3DMULTISAMPLE_NONE, 0, FALSE, &renderTarget, nullptr))) {
      LogWriteText("バックバッファロック用描画可能サーフェスの作成に失敗しました\n");
      return -1;
    }
    IDirect3DSurface9* memory = nullptr;
    if (FAILED(device->CreateOffscreenPlainSurface(static_cast<UINT>(rectWidth),
                                                   static_cast<UINT>(rectHeight), format,
                                                   D3DPOOL_SYSTEMMEM, &memory, nullptr))) {
      renderTarget->Release();
      LogWriteText("バックバッファロック用システムメモリサーフェスの作成に失敗しました\n");
      return -1;
    }
    device->StretchRect(surface, rect, renderTarget, nullptr, D3DTEXF_NONE);
    device->GetRenderTargetData(renderTarget, memory);
    renderTarget->Release();
    if (FAILED(memory->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
      memory->Release();
      return -1;
    }
    targetLock = DrawTargetLock{true, memory, true};
  }
  image->format = *colorFormat;
  image->pitch = locked.Pitch;
  image->pixels = static_cast<uint8_t*>(locked.pBits);
  return 0;
}

int UnlockDrawTargetPixels() {
  if (!targetLock.locked) return 0;
  if (targetLock.surface != nullptr) {
    targetLock.surface->UnlockRect();
    if (targetLock.temporary) targetLock.surface->Release();
  }
  targetLock = DrawTargetLock{};
  return 0;
}

int CopyDrawTargetToGraph(int x1, int y1, int x2, int y2, int graph) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr || record->image == nullptr) return -1;
  if (x2 - x1 != record->width || y2 - y1 != record->height) return -1;
  const int target = GetDrawSettings()->drawTarget;
  int width = 0;
  int height = 0;
  if (GetGraphOrScreenSize(target, &width, &height) != 0) return -1;
  if (x1 < 0 || y1 < 0 || x2 > width || y2 > height || x1 >= x2 || y1 >= y2) return -1;
  FlushVertexBatch();
  EndDeviceScene();
  const RECT rect{x1, y1, x2, y2};
  if (!record->image->textureBacked) {
    const MEMIMG* source = IsScreenDrawTarget(target)
                               ? GetSoftwareScreenImage(kSoftwareScreenPrimary)
                               : GetGraphMEMIMG(target);
    if (source == nullptr || !IsMEMIMGValid(&record->memimg)) return -1;
    CopyMEMIMGRect(&record->memimg, source, &rect, 0, 0);
    return 0;
  }
  GraphicsCoreState& core = GraphicsCore();
  if (core.device == nullptr) return -1;
  if (record->image->drawValid) {
    IDirect3DSurface9* source =
        IsScreenDrawTarget(target)
            ? (core.subBackBuffer != nullptr ? core.subBackBuffer : core.backBuffer)
            : GetGraphRenderTargetSurface(target);
    if (source == nullptr || record->tileCount < 1) return -1;
    const GraphTile& tile = record->tiles[0];
    const RECT destination{tile.srcX, tile.srcY, tile.srcX + record->width,
                           tile.srcY + record->height};
    return SUCCEEDED(core.device->StretchRect(source, &rect, tile.imageTile->surface, &destination,
                                              D3DTEXF_NONE))
               ? 0
               : -1;
  }
  StandardImage pixels{};
  if (LockDrawTargetPixels(&rect, &pixels) != 0) return -1;
  const int result = UploadImageToGraph(graph, nullptr, 0, 0, &pixels, nullptr, 0, 0, 0);
  UnlockDrawTargetPixels();
  return result;
}
