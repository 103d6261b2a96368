// The VertexBatch: the one batch of vertices that every hardware draw fills and that reaches the
// device as one draw call whenever the texture or a state changes, the batch is full, or a frame
// is presented.
#pragma once

#include <cstdint>

// Sends the queued vertices to the device (or drops them when the blend application marked the
// draw as drawing nothing) and empties the batch; 0 also when nothing was queued.
int FlushVertexBatch();
// Empties the batch without drawing.
int DiscardVertexBatch();
// The 2D buffers' constant fields (z 0, rhw 1, specular white) for a new device.
int PrepareVertexBatchBuffers();
// A point-list batch of one vertex at (0, 0), which reaches the device at the next flush.
int StartInitialPointBatch();
// The diffuse colour of the next vertices, 0xAARRGGBB.
void SetVertexBatchColor(uint32_t color);
uint32_t GetVertexBatchColor();
// Forgets the texture and draw set-up last prepared, so the next draw prepares them again (every
// BeginScene).
void ForgetVertexBatchDrawSetup();
// A filled box through the hardware path, in a screen colour code (the subtract emulation).
int DrawFilledBoxHardware(int x1, int y1, int x2, int y2, uint32_t color, int fill);

struct GraphImageRecord;
struct IDirect3DBaseTexture9;

// Vertex types of the batch: 0-2 pre-transformed 2D, 3-4 untransformed 3D.
enum VertexBatchType : int {
  kVertex2DUntextured = 0,
  kVertex2DTextured = 1,
  kVertex2DBlendTextured = 2,
  kVertex3DUntextured = 3,
  kVertex3DTextured = 4,
};

struct Vertex2DUntextured {
  float x, y, z, rhw;
  uint32_t color;
};
struct Vertex2DTextured {
  float x, y, z, rhw;
  uint32_t color;
  float u, v;
};
struct Vertex2DBlendTextured {
  float x, y, z, rhw;
  uint32_t color;
  uint32_t specular;
  float u, v, bu, bv;
};
static_assert(sizeof(Vertex2DUntextured) == 20 && sizeof(Vertex2DTextured) == 28 &&
              sizeof(Vertex2DBlendTextured) == 40);

// Flags of PrepareDrawState.
constexpr uint32_t kDrawTransparent = 0x1;
constexpr uint32_t kDrawPixelExact = 0x2;
constexpr uint32_t kDrawGouraud = 0x8;
constexpr uint32_t kDrawColoured = 0x20;
constexpr uint32_t kDrawBlended = 0x40;
constexpr uint32_t kDrawFog = 0x80;
constexpr uint32_t kDrawKeepBlendSetup = 0x100;
constexpr uint32_t kDrawLighting = 0x200;
constexpr uint32_t kDrawSpecular = 0x400;
constexpr uint32_t kDraw3DDepth = 0x800;
constexpr uint32_t kDrawUserAddressing = 0x1000;
constexpr uint32_t kDrawKeepShaders = 0x2000;

// Brings the device up to date for a draw of the image (or an untextured draw with null) with its
// first texture, and applies the blend state.
void PrepareDrawState(const GraphImageRecord* image, IDirect3DBaseTexture9* texture,
                      uint32_t flags);
// Binds a tile's texture for the next vertices and re-applies the blend state when that or
// anything else marked it changed.
void SetBatchTexture(IDirect3DBaseTexture9* texture);
// Room for six vertices of a 2D type (sending the batch first when it is 3D, not a triangle list,
// of another type or full); the count already includes them.
void* ReserveBatchQuad(int vertexType);
// Room for `quads` quads of six vertices in one reservation, under the same rule: the batch is
// sent first when they would not all fit.
void* ReserveBatchQuads(int vertexType, int quads);
// Room for up to `quads` quads of a 2D type that a writer fills piece by piece: the first free
// vertex when the batch takes them all as it is (of that type, 2D triangles, with room), so that
// none of the pieces' ReserveBatchQuads would send it; null otherwise, and each piece reserves its
// own. The vertices written are added to the count with CommitBatchVertices.
void* PeekBatchQuads(int vertexType, int quads);
void CommitBatchVertices(int vertices);
int GetVertexBatchCount();
// The queued vertices, GetVertexBatchCount of them in the batch's current type (for tests that
// check the bytes a draw wrote).
const void* GetVertexBatchVertices();
