// Vertex-buffer, index-buffer and shader handles: device resources behind engine handles, each
// with a system-memory copy (or its byte code) from which the device object is made again after
// the device was rebuilt.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

// 0, or -1 for a dead handle, a negative count or a range outside the buffer.
int UpdateVertexBuffer(int firstVertex, const void* data, int vertexCount, int handle);
int UpdateIndexBuffer(int firstIndex, const void* data, int indexCount, int handle);
int DeleteVertexBufferHandle(int handle);
int DeleteIndexBufferHandle(int handle);
int DeleteShaderHandle(int handle);
// 0; nothing before the graphics system started.
int DeleteAllVertexBufferHandles();
int DeleteAllIndexBufferHandles();
int DeleteAllShaderHandles();
// Around a device rebuild: the device objects are released with records and copies kept, and
// made again from them (only in Direct3D mode).
int ReleaseAllBufferHandleObjects();
int RecreateAllBufferHandleObjects();

// Test hooks: the program creates no such handles. Format kind 0 is the FVF 0x2D2 vertex (48
// bytes) and 16-bit indices; shader kind 0 a pixel shader, others a vertex shader. -1 on failure.
int CreateVertexBufferHandleForTest(int vertexCount);
int CreateIndexBufferHandleForTest(int indexCount);
int CreateShaderHandleForTest(int kind, const DWORD* code, int codeBytes);
IDirect3DVertexBuffer9* GetVertexBufferObject(int handle);
IDirect3DIndexBuffer9* GetIndexBufferObject(int handle);
IUnknown* GetShaderObject(int handle);
