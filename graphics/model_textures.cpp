// The model system's textures: the two TGA images and the grey ramp held for the built-in model
// graphs, the preparation of a model texture from its kept file images (normal map, power-of-two
// size, turn), the refill of every model graph after the device was rebuilt, and the bases the
// tests make.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "files/color_convert.h"
#include "files/image_loader.h"
#include "graphics/draw_settings.h"
#include "graphics/graph_handle.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_public.h"
#include "graphics/graphics_state.h"
#include "graphics/model_records.h"
#include "graphics/shader_pack.h"
#include "system/tracked_memory.h"

namespace {

// A run-length true-colour TGA of `width` x `height` whose rows are the given runs of one pixel
// value each, followed by the TGA 2.0 footer.
template <std::size_t N>
constexpr std::array<uint8_t, N> MakeRunLengthTGA(int width, int height, int bits, int descriptor,
                                                  int runsPerRow, int runLength,
                                                  const uint8_t (&runPixels)[4][4]) {
  std::array<uint8_t, N> out{};
  std::size_t at = 0;
  const uint8_t header[18] = {0,
                              0,
                              10,
                              0,
                              0,
                              0,
                              0,
                              0,
                              0,
                              0,
                              0,
                              0,
                              static_cast<uint8_t>(width & 0xFF),
                              static_cast<uint8_t>(width >> 8),
                              static_cast<uint8_t>(height & 0xFF),
                              static_cast<uint8_t>(height >> 8),
                              static_cast<uint8_t>(bits),
                              static_cast<uint8_t>(descriptor)};
  for (uint8_t byte : header) out[at++] = byte;
  for (int row = 0; row < height; ++row) {
    for (int run = 0; run < runsPerRow; ++run) {
      out[at++] = static_cast<uint8_t>(0x80 | (runLength - 1));
      for (int b = 0; b < bits / 8; ++b) out[at++] = runPixels[run][b];
    }
  }
  at += 8;  // zero extension and developer offsets
  for (char c : "TRUEVISION-XFILE.") out[at++] = static_cast<uint8_t>(c);
  return out;
}

constexpr uint8_t kWhiteRuns[4][4] = {{0xFF, 0xFF, 0xFF, 0xFF}};
constexpr uint8_t kRampRuns[4][4] = {
    {0x00, 0x00, 0x00}, {0x55, 0x55, 0x55}, {0xAA, 0xAA, 0xAA}, {0xFF, 0xFF, 0xFF}};
constexpr auto kWhiteTGA = MakeRunLengthTGA<84>(8, 8, 32, 8, 1, 8, kWhiteRuns);
constexpr auto kRampTGA = MakeRunLengthTGA<172>(256, 8, 24, 0, 4, 64, kRampRuns);

bool IsPowerOfTwo(int value) { return value > 0 && (value & (value - 1)) == 0; }

int NextPowerOfTwo(int value, int limit) {
  int result = 1;
  while (result < value && result < limit) result <<= 1;
  return result;
}

// The image scaled (bilinear) to power-of-two sides, each at most half the device's largest.
int FitToPowerOfTwo(StandardImage* image) {
  if (IsPowerOfTwo(image->width) && IsPowerOfTwo(image->height)) return 0;
  const GraphicsCoreState& core = GraphicsCore();
  const int width = NextPowerOfTwo(image->width, std::max(1, core.maxTextureWidth / 2));
  const int height = NextPowerOfTwo(image->height, std::max(1, core.maxTextureHeight / 2));
  StandardImage scaled{};
  if (CreateStandardImage(width, height, &image->format, &scaled) != 0) return -1;
  if (ScaleStandardImageRect(0, 0, image->width, image->height, image, 0, 0, width, height, &scaled,
                             1) != 0) {
    ReleaseStandardImage(&scaled);
    return -1;
  }
  ReleaseStandardImage(image);
  *image = scaled;
  return 0;
}

// A normal map from the red channel taken as height, neighbours wrapping at the edges.
int MakeNormalMap(StandardImage* image, float bumpScale) {
  const double k = std::max(static_cast<double>(bumpScale), 0.000001);
  StandardImage normal{};
  if (CreateXRGB8StandardImage(image->width, image->height, &normal) != 0) return -1;
  auto height = [&](int x, int y) {
    int r = 0;
    GetStandardImagePixel(image, x, y, &r, nullptr, nullptr, nullptr);
    return static_cast<double>(r);
  };
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      const double h = height(x, y);
      const double hx = (height((x + 1) % image->width, y) - h) / 255.0;
      const double hy = (height(x, (y + 1) % image->height) - h) / 255.0;
      double n[3] = {-k * hx, -k * hy, k * k};
      const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      for (double& c : n) c /= length;
      uint8_t* pixel = normal.pixels + static_cast<std::size_t>(y) * normal.pitch + 4 * x;
      pixel[2] = static_cast<uint8_t>(std::trunc((n[0] + 1.0) * 127.5));
      pixel[1] = static_cast<uint8_t>(std::trunc((n[1] + 1.0) * 127.5));
      pixel[0] = static_cast<uint8_t>(std::trunc((n[2] + 1.0) * 127.5));
      pixel[3] = 0;
    }
  }
  ReleaseStandardImage(image);
  *image = normal;
  return 0;
}

// Refills the graph of a texture entry from its kept files; a texture that cannot be prepared
// is skipped.
void RefillTextureEntry(const ModelTextureEntry& entry) {
  if (!IsGraphHandleLive(entry.graph)) return;
  StandardImage color{};
  StandardImage alpha{};
  if (PrepareModelTexture(&color, &alpha, entry.colorFile, entry.colorFileSize, entry.alphaFile,
                          entry.alphaFileSize, entry.normalMap, entry.bumpScale, 0) != 0)
    return;
  RefillGraphFromImage(&color, entry.alphaFile != nullptr ? &alpha : nullptr, entry.graph, 0, 0, 0);
  ReleaseStandardImage(&color);
  if (entry.alphaFile != nullptr) ReleaseStandardImage(&alpha);
}

uint8_t* CopyBytes(const void* data, int64_t size) {
  auto* copy = static_cast<uint8_t*>(TrackedAllocZeroed(size > 0 ? size : 1));
  if (copy != nullptr && data != nullptr && size > 0)
    std::memcpy(copy, data, static_cast<std::size_t>(size));
  return copy;
}

}  // namespace

const uint8_t* GetBuiltinModelImage(int which, int* size) {
  const uint8_t* bytes = which == 0 ? kWhiteTGA.data() : which == 1 ? kRampTGA.data() : nullptr;
  if (size != nullptr)
    *size = which == 0   ? static_cast<int>(kWhiteTGA.size())
            : which == 1 ? static_cast<int>(kRampTGA.size())
                         : 0;
  return bytes;
}

int MakeGrayRampImage(StandardImage* image) {
  if (CreateXRGB8StandardImage(256, 8, image) != 0) return -1;
  for (int y = 0; y < 8; ++y) {
    uint8_t* row = image->pixels + static_cast<std::size_t>(y) * image->pitch;
    for (int x = 0; x < 256; ++x) {
      row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = static_cast<uint8_t>(x);
      row[4 * x + 3] = 0xFF;
    }
  }
  return 0;
}

int RestoreGrayRampGraph(int graph) {
  StandardImage ramp{};
  if (MakeGrayRampImage(&ramp) != 0) return -1;
  DrawSettings* settings = GetDrawSettings();
  const int32_t saved = settings->noTransparentColor;
  settings->noTransparentColor = 1;
  if (IsGraphHandleLive(graph)) RefillGraphFromSingleImage(&ramp, graph);
  settings->noTransparentColor = saved;
  ReleaseStandardImage(&ramp);
  return graph;
}

int PrepareModelTexture(StandardImage* colorImage, StandardImage* alphaImage, const void* colorFile,
                        int colorFileSize, const void* alphaFile, int alphaFileSize, int normalMap,
                        float bumpScale, int turn) {
  if (colorImage == nullptr || alphaImage == nullptr ||
      (colorFile == nullptr && alphaFile == nullptr))
    return -1;
  *colorImage = StandardImage{};
  *alphaImage = StandardImage{};
  if (colorFile != nullptr &&
      LoadStandardImagePlain(nullptr, colorFile, colorFileSize, 1, colorImage, 0) != 0)
    return -1;
  if (alphaFile != nullptr &&
      LoadStandardImagePlain(nullptr, alphaFile, alphaFileSize, 1, alphaImage, 0) != 0) {
    if (colorFile != nullptr) ReleaseStandardImage(colorImage);
    return -1;
  }
  auto fail = [&]() {
    ReleaseStandardImage(colorImage);
    if (alphaFile != nullptr) ReleaseStandardImage(alphaImage);
    return -1;
  };
  if (colorFile == nullptr) {
    if (CreateXRGB8StandardImage(alphaImage->width, alphaImage->height, colorImage) != 0) {
      ReleaseStandardImage(alphaImage);
      return -1;
    }
    std::memset(colorImage->pixels, 0xFF,
                static_cast<std::size_t>(colorImage->pitch) * colorImage->height);
  }
  if (normalMap && MakeNormalMap(colorImage, bumpScale) != 0) return fail();
  if (colorFile != nullptr) {
    if (FitToPowerOfTwo(colorImage) != 0) return fail();
    if (turn && TurnStandardImage180(colorImage) != 0) return fail();
  }
  if (alphaFile != nullptr) {
    if (FitToPowerOfTwo(alphaImage) != 0) return fail();
    if (turn && TurnStandardImage180(alphaImage) != 0) return fail();
  }
  return 0;
}

int RestoreModelTextures() {
  ModelSystemState& model = GetModelSystemState();
  DrawSettings* settings = GetDrawSettings();
  const int32_t saved = settings->noTransparentColor;
  settings->noTransparentColor = 1;
  for (int which = 0; which < 2; ++which) {
    const int graph = model.builtinGraphs[which];
    int size = 0;
    const uint8_t* image = GetBuiltinModelImage(which, &size);
    if (IsGraphHandleLive(graph)) RefillGraphFromMemoryImage(image, size, graph, nullptr, 0, 0, 0);
  }
  RestoreGrayRampGraph(model.builtinGraphs[2]);
  settings->noTransparentColor = saved;
  for (int slot = 0; slot < model.baseSlotCount; ++slot) {
    const ModelBase* base = model.bases[slot];
    if (base == nullptr || base == reinterpret_cast<ModelBase*>(uintptr_t{1})) continue;
    for (int t = 0; t < base->textureCount; ++t) RefillTextureEntry(base->textures[t]);
  }
  for (int slot = 0; slot < model.instanceSlotCount; ++slot) {
    const ModelInstance* instance = model.instances[slot];
    if (instance == nullptr || instance == reinterpret_cast<ModelInstance*>(uintptr_t{1})) continue;
    for (int t = 0; t < instance->textureCount; ++t)
      if (instance->textures[t].inUse) RefillTextureEntry(instance->textures[t]);
  }
  return 0;
}

void SetModelBuiltinGraphs(int white, int ramp, int gray) {
  ModelSystemState& model = GetModelSystemState();
  model.builtinGraphs[0] = white;
  model.builtinGraphs[1] = ramp;
  model.builtinGraphs[2] = gray;
}

int CreateModelBaseForTest(const ModelMeshDescription* meshes, int meshCount,
                           const ModelTextureDescription* textures, int textureCount) {
  if (meshCount < 0 || textureCount < 0 || (meshCount > 0 && meshes == nullptr) ||
      (textureCount > 0 && textures == nullptr) || !IsModelSystemStarted())
    return -1;
  auto* base = static_cast<ModelBase*>(TrackedAllocZeroed(sizeof(ModelBase)));
  if (base == nullptr) return -1;
  base->meshes = static_cast<ModelMesh*>(
      TrackedAllocZeroed(int64_t{meshCount > 0 ? meshCount : 1} * sizeof(ModelMesh)));
  base->textures = static_cast<ModelTextureEntry*>(
      TrackedAllocZeroed(int64_t{textureCount > 0 ? textureCount : 1} * sizeof(ModelTextureEntry)));
  base->meshCount = meshCount;
  base->textureCount = textureCount;
  for (int m = 0; m < meshCount; ++m) {
    const ModelMeshDescription& d = meshes[m];
    ModelMesh& mesh = base->meshes[m];
    mesh.skinningKind = d.skinningKind;
    mesh.normalMap = d.normalMap;
    mesh.texCoordSets = d.texCoordSets;
    mesh.vertexCount = std::max(0, d.vertexCount);
    mesh.indexCounts[0] = std::clamp(d.indexCounts[0], 0, 0xFFFF);
    mesh.indexCounts[1] = std::clamp(d.indexCounts[1], 0, 0xFFFF);
    mesh.dynamicBuffers = d.dynamicBuffers;
    const int layout = d.skinningKind * 2 + (d.normalMap ? 1 : 0);
    const int list = layout * (kModelTexCoordSetLimit + 1) + d.texCoordSets;
    const int stride = std::max(0, GetModelListStride(list));
    mesh.vertices = CopyBytes(d.vertices, int64_t{stride} * mesh.vertexCount);
    mesh.indices = reinterpret_cast<uint16_t*>(
        CopyBytes(d.indices, 2 * int64_t{mesh.indexCounts[0] + mesh.indexCounts[1]}));
  }
  for (int t = 0; t < textureCount; ++t) {
    const ModelTextureDescription& d = textures[t];
    ModelTextureEntry& entry = base->textures[t];
    entry.colorFile = d.colorFile ? CopyBytes(d.colorFile, d.colorFileSize) : nullptr;
    entry.colorFileSize = d.colorFileSize;
    entry.colorOwned = 1;
    entry.alphaFile = d.alphaFile ? CopyBytes(d.alphaFile, d.alphaFileSize) : nullptr;
    entry.alphaFileSize = d.alphaFileSize;
    entry.alphaOwned = 1;
    entry.normalMap = d.normalMap;
    entry.bumpScale = d.bumpScale;
    entry.graph = -1;
    StandardImage color{};
    StandardImage alpha{};
    if (PrepareModelTexture(&color, &alpha, entry.colorFile, entry.colorFileSize, entry.alphaFile,
                            entry.alphaFileSize, entry.normalMap, entry.bumpScale, 0) == 0) {
      entry.graph = CreateGraphFromImage(&color, entry.alphaFile ? &alpha : nullptr, 0, 0, 0);
      ReleaseStandardImage(&color);
      if (entry.alphaFile != nullptr) ReleaseStandardImage(&alpha);
    }
  }
  const int handle = AddModelBaseRecord(base);
  if (handle == -1) {
    base->referenceCount = 1;
    // Not in the table: freed here the way a deletion would.
    for (int m = 0; m < meshCount; ++m) {
      TrackedFree(base->meshes[m].vertices);
      TrackedFree(base->meshes[m].indices);
    }
    for (int t = 0; t < textureCount; ++t) {
      TrackedFree(base->textures[t].colorFile);
      TrackedFree(base->textures[t].alphaFile);
      if (base->textures[t].graph > 0) DeleteGraphHandle(base->textures[t].graph);
    }
    TrackedFree(base->meshes);
    TrackedFree(base->textures);
    TrackedFree(base);
  }
  return handle;
}
