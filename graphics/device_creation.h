// The Direct3D device's creation: present parameters, the device, its first frames, its
// capabilities and the formats of the screen, the depth buffer and every texture kind.
#pragma once

int CreateDirect3DDevice();
