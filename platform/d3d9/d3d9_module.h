// The entry points "d3d9.dll" exports in the layer's module table: Direct3DCreate9, and
// Direct3DCreate9Ex only while the test control D3D9ExportCreate9Ex has switched it on.
#pragma once

#include <span>

#include "platform/win32/kernel.h"

std::span<const PlatformModuleEntry> D3D9ModuleEntries();
