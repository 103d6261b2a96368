// Graph image records: building one for a new graph (its flags, format index and the split of the
// image into power-of-two texture tiles, or its MEMIMG in software mode), each graph's list of
// draw tiles, and the creation and release of the textures behind the tiles.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "graphics/blend_state.h"
#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_public.h"
#include "graphics/graphics_state.h"
#include "graphics/screen_mode.h"
#include "graphics/vertex_batch.h"
#include "system/log.h"
#include "system/tracked_memory.h"

namespace {

// Set for ever once a movie graph was made (movie frames go into one texture).
bool oneTextureSwitch = false;

struct TileRect {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

bool IsDXTFormat(D3DFORMAT format) {
  return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 ||
         format == D3DFMT_DXT4 || format == D3DFMT_DXT5;
}

int FullMipChain(int width, int height) {
  int levels = 1;
  while (width > 1 || height > 1) {
    width = std::max(1, width / 2);
    height = std::max(1, height / 2);
    ++levels;
  }
  return levels;
}

// The tiles of the image laid out row by row; on a device that takes only square textures, each
// oblong tile is cut into squares of its smaller side, the extra squares appended at the end.
bool LayOutTiles(const int* across, int acrossCount, const int* down, int downCount,
                 std::vector<TileRect>* tiles) {
  int y = 0;
  for (int row = 0; row < downCount; ++row) {
    int x = 0;
    for (int column = 0; column < acrossCount; ++column) {
      tiles->push_back(TileRect{x, y, across[column], down[row]});
      x += across[column];
    }
    y += down[row];
  }
  if ((GraphicsCore().caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) == 0)
    return tiles->size() <= kGraphImageTileLimit;
  const size_t original = tiles->size();
  for (size_t i = 0; i < original; ++i) {
    TileRect& tile = (*tiles)[i];
    if (tile.width == tile.height) continue;
    const int side = std::min(tile.width, tile.height);
    const int pieces = std::max(tile.width, tile.height) / side;
    const TileRect first = tile;
    tile.width = side;
    tile.height = side;
    for (int piece = 1; piece < pieces; ++piece) {
      if (first.width > first.height)
        tiles->push_back(TileRect{first.x + piece * side, first.y, side, side});
      else
        tiles->push_back(TileRect{first.x, first.y + piece * side, side, side});
      if (tiles->size() > kGraphImageTileLimit) return false;
    }
  }
  return tiles->size() <= kGraphImageTileLimit;
}

// Forgets a released texture wherever the device state cache still names it, so that a new
// texture made at the same address is not taken for the old one.
void ForgetTextureInCache(IDirect3DBaseTexture9* texture) {
  if (texture == nullptr) return;
  DeviceStateCache& cache = GetDeviceStateCache();
  for (int stage = 0; stage < kDeviceStageCount; ++stage)
    if (cache.stageTexture[stage] == texture) SetStageTextureState(stage, nullptr);
  if (cache.draw.drawTexture == texture) MarkBlendStateChanged();
  if (cache.draw.blendTexture == texture) cache.draw.blendTexture = nullptr;
}

int DeleteAndFail(int graph) {
  DeleteGraphHandle(graph);
  return -1;
}

}  // namespace

void SetOneTextureSwitch() { oneTextureSwitch = true; }

int GetGraphImageFormatIndex(int compression, int drawValid, int alpha, int alphaTest,
                             int colorBits) {
  const bool bits16 = colorBits == 16;
  if (compression >= 1 && compression <= 5) return kTextureFormatDXT1 + compression - 1;
  if (drawValid) {
    if (alpha || alphaTest) return kTextureFormatRenderTargetAlpha32;
    return bits16 ? kTextureFormatRenderTarget16 : kTextureFormatRenderTarget32;
  }
  if (alpha) return bits16 ? kTextureFormatAlpha16 : kTextureFormatAlpha32;
  if (alphaTest) return bits16 ? kTextureFormatAlphaTest16 : kTextureFormatAlphaTest32;
  return bits16 ? kTextureFormatColor16 : kTextureFormatColor32;
}

int ComputeTextureTileSizes(int size, int* sizes, int oneTexture) {
  if (size <= 8) {
    sizes[0] = 8;
    return 1;
  }
  const int maximum = GetMaxTextureSize();
  int c = maximum;
  while (c > 8 && c > size) c /= 2;
  int screenWidth = 0;
  GetScreenModeSize(&screenWidth, nullptr);
  if ((oneTexture || oneTextureSwitch || size < screenWidth) && 2 * c <= maximum) {
    sizes[0] = c == size ? c : 2 * c;
    return 1;
  }
  int count = 0;
  int rest = size;
  for (;;) {
    if (count == kGraphImageTileLimit) return kGraphImageTileLimit + 1;
    sizes[count++] = c;
    rest -= c;
    if (rest <= 0) break;
    if (rest > 3 * c / 4 && c < maximum) {
      sizes[count - 1] = 2 * c;
      break;
    }
    while (c > rest && c > 8) c /= 2;
  }
  if (count >= 2 && sizes[count - 1] == sizes[count - 2] && 2 * sizes[count - 1] <= maximum) {
    sizes[count - 2] *= 2;
    --count;
  }
  return count;
}

namespace {

// What a new graph's image is made as, from the call and the draw settings.
struct GraphImageKind {
  int alpha = 0, palette = 0, compression = 0, levels = 0;
  int drawValid = 0, staging = 0, alphaTest = 0, blendImage = 0;
  int colorBits = 32, textureBacked = 0;
};

GraphImageKind ChooseGraphImageKind(const DrawSettings& settings, bool direct3D, int width,
                                    int height, int alpha, int palette, int compression,
                                    int mipLevels) {
  GraphImageKind k;
  k.alpha = alpha, k.palette = palette, k.compression = compression;
  // No setter of the mip-level setting exists, so the default is always one level.
  k.levels = mipLevels != -1 ? mipLevels : 0;
  if (k.levels == -1) k.levels = FullMipChain(width, height);
  if (k.levels == 0) k.levels = 1;

  if (settings.createDrawValidGraph) {
    k.drawValid = 1;
    k.alpha = settings.drawValidAlpha ? 1 : 0;
    k.staging = 1;
    k.compression = 0;
    k.levels = 0;
  } else {
    k.alpha = k.alpha ? 1 : 0;
    k.staging = settings.useSystemMemoryStaging ? 1 : 0;
    k.alphaTest = settings.useAlphaTestFormat ? 1 : 0;
    k.blendImage = settings.createBlendImage ? 1 : 0;
  }
  if (direct3D) {
    k.textureBacked = 1;
    k.colorBits = settings.createGraphColorBits != 0 ? settings.createGraphColorBits
                  : k.alpha == 1                     ? 32
                                                     : GetScreenColorBitDepth();
    if (k.alpha) k.alphaTest = 0;
    if (k.blendImage) {
      k.colorBits = 32;
      k.alpha = 1;
      k.drawValid = 0;
      k.alphaTest = 0;
    }
    k.palette = 0;
  } else {
    k.textureBacked = 0;
    k.compression = 0;
    k.staging = 0;
    k.levels = 0;
    k.alphaTest = 0;
    k.colorBits = settings.createGraphColorBits != 0 ? settings.createGraphColorBits
                                                     : GetScreenColorBitDepth();
    k.palette = k.palette ? 1 : 0;
    k.drawValid = k.blendImage ? 0 : 1;
  }
  if (k.colorBits != 16) k.colorBits = 32;
  return k;
}

// The texture tiles that cover the image; false when they would be more than a graph may have.
bool LayOutGraphImageTiles(const GraphImageKind& kind, int width, int height,
                           std::vector<TileRect>* layout) {
  std::array<int, kGraphImageTileLimit> across{};
  std::array<int, kGraphImageTileLimit> down{};
  const int oneTexture = kind.drawValid || kind.blendImage;
  const int acrossCount = ComputeTextureTileSizes(width, across.data(), oneTexture);
  const int downCount = ComputeTextureTileSizes(height, down.data(), oneTexture);
  if (acrossCount > kGraphImageTileLimit || downCount > kGraphImageTileLimit ||
      acrossCount * downCount > kGraphImageTileLimit ||
      !LayOutTiles(across.data(), acrossCount, down.data(), downCount, layout)) {
    return false;
  }
  return true;
}

// The image record with room for its tiles, filled from the kind; null (logged) without memory.
GraphImageRecord* AllocateGraphImageRecord(const GraphImageKind& kind, const DrawSettings& settings,
                                           const std::vector<TileRect>& layout, int width,
                                           int height) {
  const int64_t bytes =
      static_cast<int64_t>(sizeof(GraphImageRecord)) +
      static_cast<int64_t>(layout.size()) * static_cast<int64_t>(sizeof(GraphImageTile));
  auto* image = static_cast<GraphImageRecord*>(TrackedAllocZeroed(bytes, __FILE__, __LINE__));
  if (image == nullptr) {
    LogWriteText("グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました\n");
    return nullptr;
  }
  image->referenceCount = 1;
  image->textureBacked = static_cast<uint8_t>(kind.textureBacked);
  image->softwareImage = static_cast<uint8_t>(!kind.textureBacked);
  image->alpha = static_cast<uint8_t>(kind.alpha);
  image->drawValid = static_cast<uint8_t>(kind.drawValid);
  image->staging = static_cast<uint8_t>(kind.staging);
  image->compression = static_cast<uint8_t>(kind.compression);
  image->mipLevels = static_cast<uint8_t>(kind.levels);
  image->alphaTest = static_cast<uint8_t>(kind.alphaTest);
  image->colorBits = static_cast<uint8_t>(kind.colorBits);
  image->blendImage = static_cast<uint8_t>(kind.blendImage);
  image->palette = static_cast<uint8_t>(kind.palette);
  image->transparentColor = settings.transparentColor & 0xFFFFFF;
  image->width = width;
  image->height = height;
  image->tiles = layout.empty() ? nullptr : reinterpret_cast<GraphImageTile*>(image + 1);
  return image;
}

// The image's pixels: its textures, or its memory image (a blend image's one channel); -1 when
// they cannot be made.
int CreateGraphImageStorage(GraphImageRecord* image, const GraphImageKind& kind,
                            const std::vector<TileRect>& layout, int width, int height) {
  if (kind.textureBacked) {
    image->formatIndex = GetGraphImageFormatIndex(kind.compression, kind.drawValid, kind.alpha,
                                                  kind.alphaTest, kind.colorBits);
    image->textureMipLevels = kind.levels;
    image->tileCount = static_cast<int32_t>(layout.size());
    for (size_t i = 0; i < layout.size(); ++i) {
      GraphImageTile& tile = image->tiles[i];
      tile.x = layout[i].x;
      tile.y = layout[i].y;
      tile.textureWidth = layout[i].width;
      tile.textureHeight = layout[i].height;
      tile.usedWidth = std::min(tile.textureWidth, width - tile.x);
      tile.usedHeight = std::min(tile.textureHeight, height - tile.y);
    }
    if (CreateGraphImageTextures(image) != 0) return -1;
  } else if (kind.blendImage) {
    image->formatIndex = kGraphFormatSoftware32;
    if (CreateMEMIMG(&image->image, width, height, -1, 0, MEMIMG_PIXEL_CHANNEL8, 0, 0, 0,
                     nullptr) != 0) {
      LogWriteText("ブレンド画像用メモリイメージの作成に失敗しました\n");
      return -1;
    }
  } else {
    const int pixelType = kind.colorBits == 16 ? MEMIMG_PIXEL_RGB565 : MEMIMG_PIXEL_XRGB8;
    image->formatIndex =
        (kind.colorBits == 16 ? kGraphFormatSoftware16 : kGraphFormatSoftware32) + kind.alpha;
    uint32_t transparent = 0xFFFF;
    if (!kind.palette) {
      const uint32_t rgb = image->transparentColor;
      transparent = ColorFormatCodeFromRGBA(
          GetMEMIMGColorFormat(pixelType, kind.alpha, 0), static_cast<int>(rgb >> 16),
          static_cast<int>((rgb >> 8) & 0xFF), static_cast<int>(rgb & 0xFF), 0);
    }
    if (CreateMEMIMG(&image->image, width, height, -1, transparent, pixelType, kind.palette,
                     kind.alpha, 1, nullptr) != 0) {
      LogWriteText("メモリイメージの作成に失敗しました\n");
      return -1;
    }
  }
  return 0;
}

}  // namespace

int BuildGraphImageRecord(int graph, int width, int height, int alpha, int palette, int compression,
                          int mipLevels) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr) return -1;
  const DrawSettings* settings = GetDrawSettings();
  const bool direct3D = GraphicsCore().direct3DActive != 0;
  const GraphImageKind kind = ChooseGraphImageKind(*settings, direct3D, width, height, alpha,
                                                   palette, compression, mipLevels);
  std::vector<TileRect> layout;
  if (direct3D && !LayOutGraphImageTiles(kind, width, height, &layout)) {
    LogPrintf("テクスチャの数が %d 枚を越えるため画像を作成できません", kGraphImageTileLimit);
    return DeleteAndFail(graph);
  }
  GraphImageRecord* image = AllocateGraphImageRecord(kind, *settings, layout, width, height);
  if (image == nullptr) return DeleteAndFail(graph);
  record->image = image;
  record->x = 0;
  record->y = 0;
  record->width = width;
  record->height = height;
  if (CreateGraphImageStorage(image, kind, layout, width, height) != 0) return DeleteAndFail(graph);
  if (BuildGraphTileList(graph) != 0) return DeleteAndFail(graph);
  return 0;
}

int BuildGraphTileList(int graph) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr || record->image == nullptr) return -1;
  GraphImageRecord* image = record->image;
  if (!image->textureBacked) {
    if (IsMEMIMGValid(&record->memimg)) ReleaseMEMIMG(&record->memimg);
    std::memset(&record->memimg, 0, sizeof record->memimg);
    return MakeSubMEMIMG(&record->memimg, &image->image, record->x, record->y, record->width,
                         record->height);
  }
  auto overlaps = [](int graphStart, int graphSize, int tileStart, int tileSize) {
    return (graphStart >= tileStart && tileStart + tileSize > graphStart) ||
           (graphStart <= tileStart && graphStart + graphSize > tileStart);
  };
  std::array<bool, kGraphImageTileLimit> covered{};
  int count = 0;
  for (int i = 0; i < image->tileCount; ++i) {
    const GraphImageTile& tile = image->tiles[i];
    covered[static_cast<size_t>(i)] = overlaps(record->x, record->width, tile.x, tile.usedWidth) &&
                                      overlaps(record->y, record->height, tile.y, tile.usedHeight);
    if (covered[static_cast<size_t>(i)]) ++count;
  }
  TrackedFree(record->tiles);
  record->tiles = nullptr;
  record->tileCount = 0;
  if (count == 0) {
    LogWriteText("テクスチャ描画情報の作成に失敗しました\n");
    return -1;
  }
  auto* tiles = static_cast<GraphTile*>(TrackedAllocZeroed(
      static_cast<int64_t>(count) * static_cast<int64_t>(sizeof(GraphTile)), __FILE__, __LINE__));
  if (tiles == nullptr) {
    LogWriteText("画像描画情報格納用メモリの確保に失敗しました\n");
    return -1;
  }
  const double graphWidth = record->width;
  const double graphHeight = record->height;
  int at = 0;
  for (int i = 0; i < image->tileCount; ++i) {
    if (!covered[static_cast<size_t>(i)]) continue;
    GraphImageTile& imageTile = image->tiles[i];
    GraphTile& tile = tiles[at++];
    if (imageTile.x > record->x) {
      tile.destX = imageTile.x - record->x;
      tile.srcX = 0;
      tile.width = std::min(imageTile.usedWidth, record->width - tile.destX);
    } else {
      tile.destX = 0;
      tile.srcX = record->x - imageTile.x;
      tile.width = std::min(record->width, imageTile.usedWidth - tile.srcX);
    }
    if (imageTile.y > record->y) {
      tile.destY = imageTile.y - record->y;
      tile.srcY = 0;
      tile.height = std::min(imageTile.usedHeight, record->height - tile.destY);
    } else {
      tile.destY = 0;
      tile.srcY = record->y - imageTile.y;
      tile.height = std::min(record->height, imageTile.usedHeight - tile.srcY);
    }
    const float textureWidth = static_cast<float>(imageTile.textureWidth);
    const float textureHeight = static_cast<float>(imageTile.textureHeight);
    for (int corner = 0; corner < 4; ++corner) {
      const bool right = (corner & 1) != 0;
      const bool bottom = (corner & 2) != 0;
      GraphTileCorner& c = tile.corners[corner];
      c.x = static_cast<float>(tile.destX + (right ? tile.width : 0));
      c.y = static_cast<float>(tile.destY + (bottom ? tile.height : 0));
      c.u = static_cast<float>(tile.srcX + (right ? tile.width : 0)) / textureWidth;
      c.v = static_cast<float>(tile.srcY + (bottom ? tile.height : 0)) / textureHeight;
      const double x = c.x;
      const double y = c.y;
      tile.aboveDiagonal[corner] = y <= graphHeight - x * graphHeight / graphWidth ? 1 : 0;
    }
    tile.imageTile = &imageTile;
  }
  record->tiles = tiles;
  record->tileCount = count;
  return 0;
}

int CreateGraphImageTextures(GraphImageRecord* image) {
  if (image == nullptr || !image->textureBacked) return 0;
  GraphicsCoreState& core = GraphicsCore();
  IDirect3DDevice9* device = core.device;
  if (device == nullptr) return -1;
  const D3DFORMAT format = GetTextureFormat(image->formatIndex);
  if (format == D3DFMT_UNKNOWN) {
    LogWriteText("指定のフォーマットで作成できるテクスチャフォーマットがありませんでした\n");
    return -1;
  }
  if (core.direct3DEx != nullptr) image->staging = 1;
  // A render-target texture keeps one level: nothing would ever fill a chain below it.
  const UINT levels = image->drawValid || image->textureMipLevels < 1
                          ? 1u
                          : static_cast<UINT>(image->textureMipLevels);
  const bool defaultPool = image->staging || image->drawValid;
  for (int i = 0; i < image->tileCount; ++i) {
    GraphImageTile& tile = image->tiles[i];
    if (tile.texture != nullptr) continue;
    const UINT width = static_cast<UINT>(tile.textureWidth);
    const UINT height = static_cast<UINT>(tile.textureHeight);
    if (FAILED(device->CreateTexture(
            width, height, levels, image->drawValid ? D3DUSAGE_RENDERTARGET : 0, format,
            defaultPool ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED, &tile.texture, nullptr))) {
      tile.texture = nullptr;
      LogWriteText("書き込み専用テクスチャの作成に失敗しました\n");
      return -1;
    }
    if (image->staging && !image->drawValid) {
      if (FAILED(device->CreateTexture(width, height, levels, D3DUSAGE_DYNAMIC, format,
                                       D3DPOOL_SYSTEMMEM, &tile.stagingTexture, nullptr))) {
        tile.stagingTexture = nullptr;
        tile.texture->Release();
        tile.texture = nullptr;
        LogWriteText("メモリテクスチャの作成に失敗しました\n");
        return -1;
      }
    }
    if (FAILED(tile.texture->GetSurfaceLevel(0, &tile.surface))) {
      tile.surface = nullptr;
      LogWriteText("テクスチャのサーフェスアドレスの取得に失敗しました\n");
      return -1;
    }
    if (image->drawValid) {
      device->ColorFill(tile.surface, nullptr, 0);
      continue;
    }
    if (IsDXTFormat(format)) continue;
    IDirect3DTexture9* filled = tile.stagingTexture != nullptr ? tile.stagingTexture : tile.texture;
    for (UINT level = 0; level < levels; ++level) {
      D3DLOCKED_RECT locked{};
      if (FAILED(filled->LockRect(level, &locked, nullptr, 0))) continue;
      const int rows = std::max(1, tile.textureHeight >> level);
      std::memset(locked.pBits, 0, static_cast<size_t>(locked.Pitch) * static_cast<size_t>(rows));
      filled->UnlockRect(level);
    }
    if (tile.stagingTexture != nullptr) device->UpdateTexture(tile.stagingTexture, tile.texture);
  }
  return 0;
}

int ReleaseGraphImageTextures(GraphImageRecord* image) {
  if (image == nullptr || !image->textureBacked) return 0;
  bool anyTexture = false;
  for (int i = 0; i < image->tileCount; ++i)
    anyTexture = anyTexture || image->tiles[i].texture != nullptr;
  if (!anyTexture) return 0;
  FlushVertexBatch();
  for (int i = 0; i < image->tileCount; ++i) {
    GraphImageTile& tile = image->tiles[i];
    ForgetTextureInCache(tile.texture);
    if (tile.surface != nullptr) tile.surface->Release();
    if (tile.texture != nullptr) tile.texture->Release();
    if (tile.stagingTexture != nullptr) tile.stagingTexture->Release();
    tile.surface = nullptr;
    tile.texture = nullptr;
    tile.stagingTexture = nullptr;
  }
  return 0;
}

void ReleaseGraphImageExtras(GraphImageRecord* image) {
  if (image == nullptr || !image->drawValid) return;
  if (image->textureBacked) {
    for (int i = 0; i < image->tileCount; ++i) {
      GraphImageTile& tile = image->tiles[i];
      if (tile.extraSurface != nullptr) tile.extraSurface->Release();
      tile.extraSurface = nullptr;
    }
  } else if (image->extraImage != nullptr) {
    ReleaseMEMIMG(image->extraImage);
    TrackedFree(image->extraImage);
    image->extraImage = nullptr;
  }
}
