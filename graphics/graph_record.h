// The records behind graph handles: GraphRecord (which rectangle of which image a graph shows, and
// its draw tiles), GraphImageRecord (the shared, reference-counted pixels: texture tiles in
// Direct3D mode, one MEMIMG in software mode) and GraphFileNameRecord (the file a graph reloads
// from); and the calls through which the graph topics (handles, creation, transfer, drawing) reach
// each other.
#pragma once

#include <cstdint>

#include "files/color_format.h"
#include "files/memimg.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/win32_types.h"

constexpr int kGraphHandleSlotCount = 32768;
// The draw-tile builder marks overlapping texture tiles in a table of this size.
constexpr int kGraphImageTileLimit = 256;

// Format indices of software images (0-13 are the TextureFormatTable's texture kinds).
constexpr int kGraphFormatSoftware16 = 15;
constexpr int kGraphFormatSoftware16Alpha = 16;
constexpr int kGraphFormatSoftware32 = 17;
constexpr int kGraphFormatSoftware32Alpha = 18;

// One texture of an image record and the part of the image it holds.
struct GraphImageTile {
  IDirect3DTexture9* texture;
  IDirect3DTexture9* stagingTexture;  // system-memory copy, staging only
  IDirect3DSurface9* surface;         // level 0 of the texture
  IDirect3DSurface9* extraSurface;    // released with draw-valid images; nothing creates one
  int32_t x;
  int32_t y;
  int32_t usedWidth;
  int32_t usedHeight;
  int32_t textureWidth;
  int32_t textureHeight;
};

struct GraphImageRecord {
  int32_t referenceCount;
  int32_t formatIndex;
  uint8_t textureBacked;
  uint8_t alpha;
  uint8_t drawValid;
  uint8_t softwareImage;
  uint8_t staging;
  uint8_t compression;  // 0 none, 1-5 DXT1-DXT5
  uint8_t mipLevels;
  uint8_t alphaTest;
  uint8_t colorBits;  // 16 or 32
  uint8_t blendImage;
  uint8_t palette;
  uint32_t transparentColor;  // 0xRRGGBB at creation
  int32_t width;
  int32_t height;
  int32_t textureMipLevels;
  int32_t tileCount;
  GraphImageTile* tiles;  // tileCount entries, in the same block as the record
  MEMIMG image;           // software mode
  MEMIMG* extraImage;     // software mode; nothing creates one
};

struct GraphTileCorner {
  float x;
  float y;
  float u;
  float v;
};

// The part of one texture tile that a graph covers.
struct GraphTile {
  int32_t destX;
  int32_t destY;
  int32_t srcX;
  int32_t srcY;
  int32_t width;
  int32_t height;
  GraphTileCorner corners[4];  // left top, right top, left bottom, right bottom
  uint8_t aboveDiagonal[4];
  GraphImageTile* imageTile;
};

struct GraphFileNameRecord {
  int32_t referenceCount;
  char* path;  // absolute, in the same block as the record
};

struct GraphRecord {
  int32_t check;
  int32_t handle;
  int* deletedFlag;
  GraphImageRecord* image;
  int32_t movie;
  GraphFileNameRecord* fileName;
  int32_t fileX;
  int32_t fileY;
  int32_t reloadFlags;
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
  void* ownedBlock1;
  void* ownedBlock2;
  MEMIMG memimg;  // software mode: a view of the image record's MEMIMG
  int32_t tileCount;
  GraphTile* tiles;
};

// Handles and records.
int AllocateGraphHandle();
GraphRecord* GetGraphRecord(int graph);
int IsGraphHandleValid(int graph);
int SetGraphHandleDeletedFlag(int graph, int* flag);
int SetGraphFileNameRecord(int graph, const char* path, int sourceGraph);
// The live graph count and one past the highest used slot.
int GetGraphHandleCount();
int GetGraphHandleHighMark();
// The record in a slot of the table, null for an empty slot.
GraphRecord* GetGraphRecordAtSlot(int slot);

// Image records and textures.
int BuildGraphImageRecord(int graph, int width, int height, int alpha, int palette, int compression,
                          int mipLevels);
// Writes at most kGraphImageTileLimit sizes; returns the count, or kGraphImageTileLimit + 1 when
// more tiles would be needed.
int ComputeTextureTileSizes(int size, int* sizes, int oneTexture);
int BuildGraphTileList(int graph);
int CreateGraphImageTextures(GraphImageRecord* image);
int ReleaseGraphImageTextures(GraphImageRecord* image);
void ReleaseGraphImageExtras(GraphImageRecord* image);
// The format index of a record's flags (Direct3D mode).
int GetGraphImageFormatIndex(int compression, int drawValid, int alpha, int alphaTest,
                             int colorBits);
// Set for ever once a graph has been made for a movie: every image is then one texture wide.
void SetOneTextureSwitch();

// Pixel transfer.
const ColorFormat* GetTextureColorFormat(int formatIndex);
const ColorFormat* GetGraphImageColorFormat(const GraphImageRecord* image);
int UploadImageToGraph(int graph, const RECT* sourceRect, int destX, int destY,
                       const StandardImage* image, const StandardImage* alphaImage, int blendImage,
                       int useTransparentColor, int imageAbsolute);
int TransferImageToGraph(const char* fileName, const StandardImage* image,
                         const StandardImage* alphaImage, int x, int y, int graph, int reloadFlags);
int TransferImageRectToGraph(const char* fileName, const StandardImage* image,
                             const StandardImage* alphaImage, const RECT* sourceRect, int destX,
                             int destY, int graph, int reloadFlags);
int FillGraphWithColor(int graph, int red, int green, int blue, int alpha);
int LockDrawTargetPixels(const RECT* rect, StandardImage* image);
int UnlockDrawTargetPixels();
int CopyDrawTargetToGraph(int x1, int y1, int x2, int y2, int graph);
struct MovieRecord;
// The frame callback of movie graphs: the movie's current frame into the graph.
int UpdateGraphFromMovieFrame(MovieRecord* movie, int graph);

// Creation.
int LoadGraphFileCore(const char* path, int notUsed, int mirror, int movieOption);
int LoadDividedGraphFileCore(const char* path, int count, int across, int down, int width,
                             int height, int* handles, int notUsed, int mirror);
int CreateGraphFromImage(const StandardImage* image, const StandardImage* alphaImage, int notUsed,
                         int mirror, int mirrorEnable);
int CreateDivGraphFromGraphImage(const StandardImage* image, const StandardImage* alphaImage,
                                 int count, int across, int down, int width, int height,
                                 int* handles, int notUsed, int mirror, int mirrorEnable);
int CreateGraphForImage(const StandardImage* image, const StandardImage* alphaImage, int notUsed);
int RefillGraphFromImage(const StandardImage* image, const StandardImage* alphaImage, int graph,
                         int notUsed, int mirror, int mirrorEnable);
int RefillGraphFromSingleImage(const StandardImage* image, int graph);
int RefillGraphFromMemoryImage(const void* image, int imageSize, int graph, const void* alphaImage,
                               int alphaImageSize, int notUsed, int mirror);
int MakeEmptyGraph(int width, int height);
int FillDerivedGraphRecord(int graph, int sourceGraph, int x, int y, int width, int height);
int HasGraphReloadCallback();
