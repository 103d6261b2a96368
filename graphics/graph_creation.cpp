// How graphs come into being: from image files (whole or cut into equal pieces), from images in
// memory, empty, or as a rectangle of another graph; the movie graph made for a file that no
// image decoder accepts; and the reload that puts every graph's pixels back after the device was
// made again.
#include <algorithm>
#include <string>

#include "files/color_convert.h"
#include "files/file_table.h"
#include "files/image_loader.h"
#include "files/win32_file.h"
#include "graphics/draw_settings.h"
#include "graphics/font_system.h"
#include "graphics/graph_handle.h"
#include "graphics/graph_record.h"
#include "graphics/graphics_public.h"
#include "graphics/graphics_state.h"
#include "graphics/model_system.h"
#include "graphics/screen_mode.h"
#include "media/movie.h"
#include "system/host_call_table.h"
#include "system/log.h"

namespace {

// A loaded colour image with its optional alpha image, released on every path.
struct ImagePair {
  StandardImage image{};
  StandardImage alpha{};
  bool loaded = false;
  bool hasAlpha = false;
  ImagePair() = default;
  ImagePair(const ImagePair&) = delete;
  ImagePair& operator=(const ImagePair&) = delete;
  ~ImagePair() { Release(); }
  bool LoadFile(const char* path, int mirror) {
    Release();
    const int result =
        LoadStandardImageWithAlpha(path, nullptr, 0, 0, nullptr, 0, 0, &image, &alpha, mirror);
    loaded = result != -1;
    hasAlpha = result == 0;
    return loaded;
  }
  bool LoadMemory(const void* data, int size, const void* alphaData, int alphaSize, int mirror) {
    Release();
    const int result =
        LoadStandardImageWithAlpha(nullptr, data, size, 1, alphaData, alphaSize,
                                   alphaData != nullptr ? 1 : 2, &image, &alpha, mirror);
    loaded = result != -1;
    hasAlpha = result == 0;
    return loaded;
  }
  const StandardImage* Alpha() const { return hasAlpha ? &alpha : nullptr; }
  void Release() {
    if (loaded) ReleaseStandardImage(&image);
    if (hasAlpha) ReleaseStandardImage(&alpha);
    image = StandardImage{};
    alpha = StandardImage{};
    loaded = false;
    hasAlpha = false;
  }
};

bool HasAlphaBits(const StandardImage* image) {
  return image->format.alphaWidth != 0 || image->format.alphaMask != 0;
}

// Mirrors both images on construction when asked and mirrors them back on destruction.
struct MirrorScope {
  StandardImage* image;
  StandardImage* alpha;
  bool active;
  MirrorScope(StandardImage* colour, StandardImage* alphaImage, bool on)
      : image(colour), alpha(alphaImage), active(on) {
    if (!active) return;
    MirrorStandardImage(image);
    if (alpha != nullptr) MirrorStandardImage(alpha);
  }
  ~MirrorScope() {
    if (!active) return;
    MirrorStandardImage(image);
    if (alpha != nullptr) MirrorStandardImage(alpha);
  }
};

// The transparent colour of this creation from the top-left pixel when that switch is on; the
// setting comes back afterwards.
struct TopLeftTransparentScope {
  uint32_t saved;
  bool active;
  explicit TopLeftTransparentScope(const StandardImage* image) {
    DrawSettings* settings = GetDrawSettings();
    saved = settings->transparentColor;
    active = settings->transparentColorFromTopLeft != 0 && image->width > 0 && image->height > 0 &&
             image->format.compression == 0;
    if (active) settings->transparentColor = GetStandardImagePixelARGB(image, 0, 0) & 0xFFFFFF;
  }
  ~TopLeftTransparentScope() {
    if (active) GetDrawSettings()->transparentColor = saved;
  }
};

// An A8R8G8B8 copy in which pixels of the transparent colour have alpha 0 and take the colour of
// an opaque neighbour, so that filtering next to them does not bleed the transparent colour in.
bool MakeTransparentToAlphaCopy(const StandardImage* image, StandardImage* copy) {
  if (image->format.compression != 0) return false;
  if (CreateARGB8StandardImage(image->width, image->height, copy) != 0) return false;
  const uint32_t key = GetDrawSettings()->transparentColor & 0xFFFFFF;
  const bool ownAlpha = HasAlphaBits(image);
  auto at = [&](int x, int y) {
    return reinterpret_cast<uint32_t*>(copy->pixels + static_cast<intptr_t>(y) * copy->pitch) + x;
  };
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      const uint32_t argb = GetStandardImagePixelARGB(image, x, y);
      const uint32_t rgb = argb & 0xFFFFFF;
      const uint32_t alpha = rgb == key ? 0u : ownAlpha ? (argb >> 24) : 255u;
      *at(x, y) = (alpha << 24) | rgb;
    }
  }
  constexpr int kSteps[4][2] = {{-1, 0}, {0, -1}, {1, 0}, {0, 1}};
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      const uint32_t rgb = GetStandardImagePixelARGB(image, x, y) & 0xFFFFFF;
      if (rgb == key) continue;
      for (const auto& step : kSteps) {
        const int nx = x + step[0];
        const int ny = y + step[1];
        if (nx < 0 || ny < 0 || nx >= image->width || ny >= image->height) continue;
        if ((GetStandardImagePixelARGB(image, nx, ny) & 0xFFFFFF) == key) *at(nx, ny) = rgb;
      }
    }
  }
  return true;
}

// Saves the create-graph settings that the movie graph changes, and puts them back.
struct MovieSettingsScope {
  int32_t colorBits;
  int32_t drawValid;
  int32_t alphaTest;
  int32_t staging;
  int32_t creationFlag;
  int hardware;
  MovieSettingsScope() {
    const DrawSettings* settings = GetDrawSettings();
    colorBits = settings->createGraphColorBits;
    drawValid = settings->createDrawValidGraph;
    alphaTest = settings->useAlphaTestFormat;
    staging = settings->useSystemMemoryStaging;
    creationFlag = settings->movieGraphCreationFlag;
    hardware = GetUseHardwareGraphics();
  }
  ~MovieSettingsScope() {
    DrawSettings* settings = GetDrawSettings();
    settings->createGraphColorBits = colorBits;
    settings->createDrawValidGraph = drawValid;
    settings->useAlphaTestFormat = alphaTest;
    settings->useSystemMemoryStaging = staging;
    settings->movieGraphCreationFlag = creationFlag;
    SetUseHardwareGraphics(hardware);
  }
};

int UpdateMovieGraph(MovieRecord* movie, int graph) {
  return UpdateGraphFromMovieFrame(movie, graph);
}

int MakeMovieGraph(const char* path, int movieOption) {
  MovieSettingsScope saved;
  int width = 0;
  int height = 0;
  const int movie = OpenMovie(path, &width, &height, movieOption);
  if (movie == -1) {
    char line[kFilePathBufferSize + 128];
    FormatText(line, sizeof line, "右記のグラフィックファイルのロードに失敗しました：%s \n", path);
    LogWriteText(line);
    return -1;
  }
  DrawSettings* settings = GetDrawSettings();
  const int bits = GetScreenColorBitDepth();
  settings->createGraphColorBits = bits != 0 ? bits : 16;
  settings->createDrawValidGraph = 1;
  SetOneTextureSwitch();
  settings->useAlphaTestFormat = 0;
  settings->useSystemMemoryStaging = 1;
  settings->movieGraphCreationFlag = 1;
  const int graph = AllocateGraphHandle();
  if (BuildGraphImageRecord(graph, width, height, 0, 0, 0, -1) != 0) {
    LogPrintf("右記のグラフィックファイルの格納用グラフィック領域の作成に失敗しました：%s", path);
    DeleteMovieHandle(movie);
    return -1;
  }
  GetGraphRecord(graph)->movie = movie;
  SetMovieFrameCallback(movie, UpdateMovieGraph, graph);
  return graph;
}

}  // namespace

int LoadGraphFile(const char* path, int notUsed) {
  return LoadGraphFileCore(path, notUsed == 0, 0, 0);
}

int LoadDividedGraphFile(const char* path, int count, int across, int down, int pieceWidth,
                         int pieceHeight, int* handles, int notUsed) {
  return LoadDividedGraphFileCore(path, count, across, down, pieceWidth, pieceHeight, handles,
                                  notUsed == 0, 0);
}

int LoadGraphFileCore(const char* path, int notUsed, int mirror, int movieOption) {
  if (!GraphicsCore().initialised || path == nullptr) return -1;
  hostCallTable.waitWhileWindowInactive();
  ImagePair pair;
  if (pair.LoadFile(path, mirror ? 1 : 0)) {
    const int graph = CreateGraphFromImage(&pair.image, pair.Alpha(), notUsed, mirror, 0);
    if (graph != -1) {
      SetGraphFileNameRecord(graph, path, -1);
      GetGraphRecord(graph)->reloadFlags = mirror ? 1 : 0;
    }
    return graph;
  }
  const FileHandle file = fileFunctionTable.open(path, 0, 1, 0);
  if (file == 0) {
    LogPrintf("グラフィックファイル %s がありません", path);
    return -1;
  }
  fileFunctionTable.close(file);
  return MakeMovieGraph(path, movieOption);
}

int LoadDividedGraphFileCore(const char* path, int count, int across, int down, int width,
                             int height, int* handles, int notUsed, int mirror) {
  if (path == nullptr) return -1;
  hostCallTable.waitWhileWindowInactive();
  ImagePair pair;
  if (!pair.LoadFile(path, mirror ? 1 : 0)) {
    LogPrintf("右記のグラフィックファイルのロードに失敗しました：%s", path);
    return -1;
  }
  const int result = CreateDivGraphFromGraphImage(&pair.image, pair.Alpha(), count, across, down,
                                                  width, height, handles, notUsed, mirror, 0);
  if (result == 0) {
    for (int i = 0; i < count; ++i) {
      SetGraphFileNameRecord(handles[i], path, -1);
      GetGraphRecord(handles[i])->reloadFlags = mirror ? 1 : 0;
    }
  }
  return result;
}

int CreateDivGraphFromGraphImage(const StandardImage* image, const StandardImage* alphaImage,
                                 int count, int across, int down, int width, int height,
                                 int* handles, int notUsed, int mirror, int mirrorEnable) {
  if (handles == nullptr || count < 0) return -1;
  // More pieces than cells would leave handles unset: every entry says so instead.
  if (across < 1 || down < 1 || count > across * down || width < 1 || height < 1) {
    std::fill(handles, handles + count, -1);
    LogWriteText("グラフィックの分割に失敗しました in CreateDivGraphFromGraphImage\n");
    return -1;
  }
  const int whole = CreateGraphFromImage(image, alphaImage, notUsed, mirror, mirrorEnable);
  if (whole == -1) {
    std::fill(handles, handles + count, -1);
    return -1;
  }
  const bool mirrored = mirror == 1;
  int made = 0;
  for (int row = 0; row < down && made < count; ++row) {
    int x = mirrored ? (across - 1) * width : 0;
    for (int column = 0; column < across && made < count; ++column) {
      const int piece = DeriveGraph(x, row * height, width, height, whole);
      if (piece == -1) {
        LogWriteText("グラフィックの分割に失敗しました in CreateDivGraphFromGraphImage\n");
        for (int i = 0; i < made; ++i) DeleteGraphHandle(handles[i]);
        std::fill(handles, handles + count, -1);
        DeleteGraphHandle(whole);
        return -1;
      }
      handles[made++] = piece;
      x += mirrored ? -width : width;
    }
  }
  DeleteGraphHandle(whole);
  return 0;
}

int CreateGraphFromImage(const StandardImage* image, const StandardImage* alphaImage, int notUsed,
                         int mirror, int mirrorEnable) {
  if (image == nullptr) return -1;
  const DrawSettings* settings = GetDrawSettings();
  StandardImage colour = *image;
  StandardImage alpha = alphaImage != nullptr ? *alphaImage : StandardImage{};
  StandardImage* alphaUsed = alphaImage != nullptr ? &alpha : nullptr;
  ImagePair converted;
  if (settings->transparentToAlpha && !settings->noTransparentColor &&
      MakeTransparentToAlphaCopy(image, &converted.image)) {
    converted.loaded = true;
    colour = converted.image;
  }
  UpdateColorFormatNoneMask(&colour.format);
  if (alphaUsed != nullptr) UpdateColorFormatNoneMask(&alpha.format);
  TopLeftTransparentScope topLeft(&colour);
  MirrorScope mirrored(&colour, alphaUsed, mirror == 1 && mirrorEnable == 1);
  const int graph = CreateGraphForImage(&colour, alphaUsed, notUsed);
  if (graph == -1) return -1;
  if (TransferImageToGraph(nullptr, &colour, alphaUsed, 0, 0, graph, 0) != 0) {
    DeleteGraphHandle(graph);
    return -1;
  }
  return graph;
}

int CreateGraphForImage(const StandardImage* image, const StandardImage* alphaImage, int) {
  if (!GraphicsCore().initialised || image == nullptr) return -1;
  hostCallTable.waitWhileWindowInactive();
  if (image->width < 1 || image->height < 1) return -1;
  if (alphaImage != nullptr &&
      (alphaImage->width != image->width || alphaImage->height != image->height))
    return -1;
  const int graph = AllocateGraphHandle();
  const bool alpha = HasAlphaBits(image) || alphaImage != nullptr;
  const bool palette =
      image->format.bytesPerPixel == 1 && !HasAlphaBits(image) && alphaImage == nullptr;
  if (BuildGraphImageRecord(graph, image->width, image->height, alpha ? 1 : 0, palette ? 1 : 0,
                            image->format.compression,
                            image->mipLevelCount == 0 ? -1 : image->mipLevelCount) != 0)
    return -1;
  return graph;
}

int RefillGraphFromImage(const StandardImage* image, const StandardImage* alphaImage, int graph,
                         int, int mirror, int mirrorEnable) {
  const GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr || image == nullptr) return -1;
  if (record->width != image->width || record->height != image->height) return -1;
  if (alphaImage != nullptr &&
      (alphaImage->width != image->width || alphaImage->height != image->height))
    return -1;
  StandardImage colour = *image;
  StandardImage alpha = alphaImage != nullptr ? *alphaImage : StandardImage{};
  StandardImage* alphaUsed = alphaImage != nullptr ? &alpha : nullptr;
  TopLeftTransparentScope topLeft(&colour);
  MirrorScope mirrored(&colour, alphaUsed, mirror == 1 && mirrorEnable == 1);
  return TransferImageToGraph(nullptr, &colour, alphaUsed, 0, 0, graph, 0);
}

int RefillGraphFromSingleImage(const StandardImage* image, int graph) {
  return RefillGraphFromImage(image, nullptr, graph, 0, 0, 0);
}

int CreateGraphFromMemoryImage(const void* image, int imageSize, const void* alphaImage,
                               int alphaImageSize, int textureFlag, int reverse) {
  ImagePair pair;
  if (image == nullptr ||
      !pair.LoadMemory(image, imageSize, alphaImage, alphaImageSize, reverse ? 1 : 0))
    return -1;
  return CreateGraphFromImage(&pair.image, pair.Alpha(), textureFlag, reverse, 0);
}

int RefillGraphFromMemoryImage(const void* image, int imageSize, int graph, const void* alphaImage,
                               int alphaImageSize, int notUsed, int mirror) {
  ImagePair pair;
  if (image == nullptr ||
      !pair.LoadMemory(image, imageSize, alphaImage, alphaImageSize, mirror ? 1 : 0))
    return -1;
  return RefillGraphFromImage(&pair.image, pair.Alpha(), graph, notUsed, mirror, 0);
}

int MakeEmptyGraph(int width, int height) {
  if (!GraphicsCore().initialised || width < 1 || height < 1) return -1;
  hostCallTable.waitWhileWindowInactive();
  const int graph = AllocateGraphHandle();
  if (BuildGraphImageRecord(graph, width, height, GetDrawSettings()->emptyGraphAlpha ? 1 : 0, 0, 0,
                            -1) != 0)
    return -1;
  return graph;
}

int DeriveGraph(int x, int y, int width, int height, int sourceGraph) {
  if (GetDrawSettings()->drawSuppression) return 0;
  const GraphRecord* source = GetGraphRecord(sourceGraph);
  if (source == nullptr) return -1;
  if (x < 0 || y < 0 || x >= source->width || y >= source->height) return -1;
  // A graph of no pixels would have no draw tiles and an undefined diagonal.
  if (width < 1 || height < 1) return -1;
  width = std::min(width, source->width - x);
  height = std::min(height, source->height - y);
  const int graph = AllocateGraphHandle();
  if (FillDerivedGraphRecord(graph, sourceGraph, x, y, width, height) != 0) {
    DeleteGraphHandle(graph);
    return -1;
  }
  return graph;
}

int FillDerivedGraphRecord(int graph, int sourceGraph, int x, int y, int width, int height) {
  GraphRecord* record = GetGraphRecord(graph);
  const GraphRecord* source = GetGraphRecord(sourceGraph);
  if (record == nullptr || source == nullptr || source->image == nullptr) return -1;
  record->image = source->image;
  ++record->image->referenceCount;
  record->fileName = source->fileName;
  if (record->fileName != nullptr) ++record->fileName->referenceCount;
  record->fileX = source->fileX + x;
  record->fileY = source->fileY + y;
  record->reloadFlags = source->reloadFlags;
  record->x = source->x + x;
  record->y = source->y + y;
  record->width = width;
  record->height = height;
  // A rectangle that covers no texture tile leaves a graph that draws nothing.
  BuildGraphTileList(graph);
  return 0;
}

int HasGraphReloadCallback() { return GetDrawSettings()->graphReloadCallback != nullptr ? 1 : 0; }

int RunGraphReloadCallback() {
  const GraphReloadCallback callback = GetDrawSettings()->graphReloadCallback;
  if (callback != nullptr)
    callback();
  else
    ReloadGraphsFromFiles();
  RestoreModelTextures();
  RecreateAllFonts();
  return 0;
}

int ReloadGraphsFromFiles() {
  LogWriteText("グラフィックを復帰します\n");
  const int highMark = GetGraphHandleHighMark();
  ImagePair pair;
  std::string loadedPath;
  int loadedFlags = 0;
  for (int slot = 0; slot < highMark; ++slot) {
    const GraphRecord* record = GetGraphRecordAtSlot(slot);
    if (record == nullptr || record->fileName == nullptr) continue;
    // The record's name is replaced by the transfer below, so the path is copied first.
    const std::string path = record->fileName->path;
    const int flags = record->reloadFlags;
    const int graph = record->handle;
    if (!pair.loaded || path != loadedPath || flags != loadedFlags) {
      loadedPath = path;
      loadedFlags = flags;
      if (!pair.LoadFile(path.c_str(), flags & 1)) {
        LogPrintf("ファイル:%s がロードできませんでした", path.c_str());
        continue;
      }
    }
    TransferImageToGraph(path.c_str(), &pair.image, pair.Alpha(), record->fileX, record->fileY,
                         graph, flags);
  }
  return 0;
}
