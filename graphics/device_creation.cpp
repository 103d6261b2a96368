// Creation of the Direct3D device: the present parameters for window and full screen, the
// device itself, the first frames, the capabilities, the formats of the screen, the depth
// buffer and every texture kind, and the test that picks how the draw target's pixels are read.
#include "graphics/device_creation.h"

#include <cstring>

#include "graphics/device_state_cache.h"
#include "graphics/draw_settings.h"
#include "graphics/draw_target.h"
#include "graphics/frame_present.h"
#include "graphics/graphics_state.h"
#include "system/host_call_table.h"
#include "system/log.h"
#include "system/system_info.h"

namespace {

constexpr int kVistaVersionCode = 0x108;
// The raster-status waits of the start-up give up after this long and go on.
constexpr uint64_t kRasterWaitLimitMicroseconds = 100000;
constexpr int kRasterWaitPollLimit = 100000;

struct FormatChoice {
  D3DFORMAT format;
  const char* name;
};

bool IsFormatAccepted(D3DFORMAT format, DWORD usage) {
  GraphicsCoreState& core = GraphicsCore();
  return SUCCEEDED(core.direct3D->CheckDeviceFormat(static_cast<UINT>(core.adapterIndex),
                                                    D3DDEVTYPE_HAL, core.screenFormat, usage,
                                                    D3DRTYPE_TEXTURE, format));
}

// The first accepted format of the list, or null.
const FormatChoice* ChooseFormat(const FormatChoice* choices, int count, DWORD usage) {
  for (int i = 0; i < count; ++i)
    if (IsFormatAccepted(choices[i].format, usage)) return &choices[i];
  return nullptr;
}

template <int N>
const FormatChoice* ChooseFormat(const FormatChoice (&choices)[N], DWORD usage) {
  return ChooseFormat(choices, N, usage);
}

// Waits until the raster status reports `inBlank`; a device that never does, or whose status
// cannot be read, is waited for only a bounded time.
void WaitForRasterBlank(IDirect3DSwapChain9* swapChain, bool inBlank) {
  uint64_t start = GetMicrosecondCount(0);
  for (int poll = 0; poll < kRasterWaitPollLimit; ++poll) {
    D3DRASTER_STATUS status{};
    if (FAILED(swapChain->GetRasterStatus(&status))) return;
    if ((status.InVBlank != FALSE) == inBlank) return;
    if (GetMicrosecondCount(0) - start >= kRasterWaitLimitMicroseconds) return;
  }
}

// The plain, alpha and alpha-test texture formats, 16 and 32 bits; -1 when a kind has none.
int ChooseColorTextureFormats(D3DFORMAT* table) {
  static constexpr FormatChoice color16[] = {{D3DFMT_R5G6B5, "K_D3DFMT_R5G6B5"},
                                             {D3DFMT_X1R5G5B5, "K_D3DFMT_X1R5G5B5"}};
  static constexpr FormatChoice color32[] = {{D3DFMT_X8R8G8B8, "K_D3DFMT_X8R8G8B8"}};
  static constexpr FormatChoice alpha16[] = {{D3DFMT_A4R4G4B4, "K_D3DFMT_A4R4G4B4"},
                                             {D3DFMT_A8R8G8B8, "K_D3DFMT_A8R8G8B8"}};
  static constexpr FormatChoice alpha32[] = {{D3DFMT_A8R8G8B8, "K_D3DFMT_A8R8G8B8"},
                                             {D3DFMT_A4R4G4B4, "K_D3DFMT_A4R4G4B4"}};
  static constexpr FormatChoice alphaTest16[] = {{D3DFMT_A1R5G5B5, "K_D3DFMT_A1R5G5B5"},
                                                 {D3DFMT_A8R8G8B8, "K_D3DFMT_A8R8G8B8"},
                                                 {D3DFMT_A4R4G4B4, "K_D3DFMT_A4R4G4B4"}};
  static constexpr FormatChoice alphaTest32[] = {{D3DFMT_A8R8G8B8, "K_D3DFMT_A8R8G8B8"},
                                                 {D3DFMT_A1R5G5B5, "K_D3DFMT_A1R5G5B5"},
                                                 {D3DFMT_A4R4G4B4, "K_D3DFMT_A4R4G4B4"}};

  const FormatChoice* choice = ChooseFormat(color16, 0);
  if (choice == nullptr) {
    LogWriteText("使用できる 16bit カラーフォーマットが見つかりませんでした\n");
    return -1;
  }
  table[kTextureFormatColor16] = choice->format;
  LogPrintf("16bit カラーフォーマットは %s です", choice->name);
  const FormatChoice* choice32 = ChooseFormat(color32, 0);
  if (choice32 != nullptr) choice = choice32;
  table[kTextureFormatColor32] = choice->format;
  LogPrintf("32bit カラーフォーマットは %s です", choice->name);

  struct RequiredKind {
    int index;
    const FormatChoice* choices;
    int count;
    const char* found;
    const char* missing;
  };
  const RequiredKind required[] = {
      {kTextureFormatAlpha16, alpha16, 2, "アルファ付き 16bit カラーフォーマットは %s です",
       "使用できるアルファ付き 16bit カラーフォーマットが見つかりませんでした\n"},
      {kTextureFormatAlpha32, alpha32, 2, "アルファ付き 32bit カラーフォーマットは %s です",
       "使用できるアルファ付き 32bit カラーフォーマットが見つかりませんでした\n"},
      {kTextureFormatAlphaTest16, alphaTest16, 3,
       "アルファテスト用 16bit カラーフォーマットは %s です",
       "使用できるアルファテスト用 16bit カラーフォーマットが見つかりませんでした\n"},
      {kTextureFormatAlphaTest32, alphaTest32, 3,
       "アルファテスト用 32bit カラーフォーマットは %s です",
       "使用できるアルファテスト用 32bit カラーフォーマットが見つかりませんでした\n"},
  };
  for (const RequiredKind& kind : required) {
    choice = ChooseFormat(kind.choices, kind.count, 0);
    if (choice == nullptr) {
      LogWriteText(kind.missing);
      return -1;
    }
    table[kind.index] = choice->format;
    LogPrintf(kind.found, choice->name);
  }

  return 0;
}

// Each compressed format, or in its place the kind that holds the same pixels uncompressed.
void ChooseCompressedTextureFormats(D3DFORMAT* table) {
  struct CompressedKind {
    D3DFORMAT format;
    const char* wideName;
    const char* found;
    int fallback;
  };
  static constexpr CompressedKind compressed[] = {
      {D3DFMT_DXT1, "ＤＸＴ１", " K_D3DFMT_DXT1 です", kTextureFormatAlphaTest16},
      {D3DFMT_DXT2, "ＤＸＴ２", " K_D3DFMT_DXT2 です", kTextureFormatAlpha32},
      {D3DFMT_DXT3, "ＤＸＴ３", " K_D3DFMT_DXT3 です", kTextureFormatAlpha32},
      {D3DFMT_DXT4, "ＤＸＴ４", " K_D3DFMT_DXT4 です", kTextureFormatAlpha32},
      {D3DFMT_DXT5, "ＤＸＴ５", " K_D3DFMT_DXT5 です", kTextureFormatAlpha32},
  };
  for (int i = 0; i < 5; ++i) {
    bool accepted = IsFormatAccepted(compressed[i].format, 0);
    table[kTextureFormatDXT1 + i] = accepted ? compressed[i].format : table[compressed[i].fallback];
    LogPrintf("%sテクスチャフォーマットは%s", compressed[i].wideName,
              accepted ? compressed[i].found : "使えません");
  }
}

// The render-target formats; a kind without one is logged and left empty.
void ChooseRenderTargetFormats(const GraphicsCoreState& core, D3DFORMAT* table) {
  bool screen565 = core.screenFormat == D3DFMT_R5G6B5;
  const FormatChoice target16[] = {{screen565 ? D3DFMT_R5G6B5 : D3DFMT_X1R5G5B5,
                                    screen565 ? "D3DFMT_R5G6B5" : "K_D3DFMT_R5G5B5"},
                                   {screen565 ? D3DFMT_X1R5G5B5 : D3DFMT_R5G6B5,
                                    screen565 ? "D3DFMT_R5G5B5" : "K_D3DFMT_R5G6B5"},
                                   {D3DFMT_X8R8G8B8, "K_D3DFMT_X8R8G8B8"}};
  static constexpr FormatChoice target32[] = {{D3DFMT_X8R8G8B8, "K_D3DFMT_X8R8G8B8"},
                                              {D3DFMT_R5G6B5, "D3DFMT_R5G6B5"},
                                              {D3DFMT_X1R5G5B5, "D3DFMT_R5G5B5"}};
  static constexpr FormatChoice targetAlpha32[] = {{D3DFMT_A8R8G8B8, "K_D3DFMT_A8R8G8B8"},
                                                   {D3DFMT_A4R4G4B4, "D3DFMT_A4R4G4B4"}};
  struct TargetKind {
    int index;
    const FormatChoice* choices;
    int count;
    const char* found;
    const char* missing;
  };
  const TargetKind targets[] = {
      {kTextureFormatRenderTarget16, target16, 3, "描画用 16bit カラーフォーマットは %s です",
       "使用できる描画用 16bit カラーフォーマットがありませんでした\n"},
      {kTextureFormatRenderTarget32, target32, 3, "描画用 32bit カラーフォーマットは %s です",
       "使用できる描画用 32bit カラーフォーマットがありませんでした\n"},
      {kTextureFormatRenderTargetAlpha32, targetAlpha32, 2,
       "描画用アルファ付き 32bit カラーフォーマットは %s です",
       "使用できる描画用アルファ付き 32bit カラーフォーマットがありませんでした\n"},
  };
  for (const TargetKind& kind : targets) {
    const FormatChoice* choice = ChooseFormat(kind.choices, kind.count, D3DUSAGE_RENDERTARGET);
    if (choice == nullptr) {
      LogWriteText(kind.missing);
      continue;
    }
    table[kind.index] = choice->format;
    LogPrintf(kind.found, choice->name);
  }
}

int FillTextureFormatTable() {
  GraphicsCoreState& core = GraphicsCore();
  D3DFORMAT* table = core.textureFormats.formats;
  std::memset(table, 0, sizeof core.textureFormats);
  if (ChooseColorTextureFormats(table) == -1) return -1;
  ChooseCompressedTextureFormats(table);
  ChooseRenderTargetFormats(core, table);
  bool screen32 = core.screenColorBits == 32;
  table[kTextureFormatRenderTargetScreen] =
      table[screen32 ? kTextureFormatRenderTarget32 : kTextureFormatRenderTarget16];
  table[kTextureFormatAlphaTestScreen] =
      table[screen32 ? kTextureFormatAlphaTest32 : kTextureFormatAlphaTest16];
  return 0;
}

// Copies `side` rows of `side` pixels between two locked rectangles.
void CopyLockedRows(const D3DLOCKED_RECT& from, const D3DLOCKED_RECT& to, int rowBytes, int rows) {
  for (int y = 0; y < rows; ++y)
    std::memcpy(static_cast<BYTE*>(to.pBits) + static_cast<ptrdiff_t>(y) * to.Pitch,
                static_cast<const BYTE*>(from.pBits) + static_cast<ptrdiff_t>(y) * from.Pitch,
                static_cast<size_t>(rowBytes));
}

// One round of the back-buffer lock test; each time is -1 when its part did not complete.
void TimeBackBufferReads(int side, int64_t* lockTime, int64_t* copyTime) {
  GraphicsCoreState& core = GraphicsCore();
  IDirect3DDevice9* device = core.device;
  *lockTime = -1;
  *copyTime = -1;
  IDirect3DSurface9* store = nullptr;
  if (FAILED(device->CreateOffscreenPlainSurface(static_cast<UINT>(side), static_cast<UINT>(side),
                                                 core.screenFormat, D3DPOOL_SYSTEMMEM, &store,
                                                 nullptr)))
    return;
  D3DLOCKED_RECT storeRect{};
  if (FAILED(store->LockRect(&storeRect, nullptr, 0))) {
    store->Release();
    return;
  }
  int rowBytes =
      side * (core.screenColorBits == 32 || core.screenFormat == D3DFMT_X8R8G8B8 ? 4 : 2);
  RECT square{0, 0, side, side};

  uint64_t start = GetMicrosecondCount(0);
  D3DLOCKED_RECT backRect{};
  if (SUCCEEDED(core.backBuffer->LockRect(&backRect, &square, D3DLOCK_READONLY))) {
    CopyLockedRows(backRect, storeRect, rowBytes, side);
    core.backBuffer->UnlockRect();
    *lockTime = static_cast<int64_t>(GetMicrosecondCount(0) - start);
  }

  start = GetMicrosecondCount(0);
  IDirect3DSurface9* target = nullptr;
  IDirect3DSurface9* staging = nullptr;
  D3DLOCKED_RECT stagingRect{};
  if (SUCCEEDED(device->CreateRenderTarget(static_cast<UINT>(side), static_cast<UINT>(side),
                                           core.screenFormat, D3DMULTISAMPLE_NONE, 0, FALSE,
                                           &target, nullptr)) &&
      SUCCEEDED(device->CreateOffscreenPlainSurface(static_cast<UINT>(side),
                                                    static_cast<UINT>(side), core.screenFormat,
                                                    D3DPOOL_SYSTEMMEM, &staging, nullptr)) &&
      SUCCEEDED(device->StretchRect(core.backBuffer, &square, target, nullptr, D3DTEXF_NONE)) &&
      SUCCEEDED(device->GetRenderTargetData(target, staging)) &&
      SUCCEEDED(staging->LockRect(&stagingRect, nullptr, D3DLOCK_READONLY))) {
    CopyLockedRows(stagingRect, storeRect, rowBytes, side);
    staging->UnlockRect();
    *copyTime = static_cast<int64_t>(GetMicrosecondCount(0) - start);
  }
  if (staging != nullptr) staging->Release();
  if (target != nullptr) target->Release();
  store->UnlockRect();
  store->Release();
}

void RunBackBufferLockTest() {
  GraphicsCoreState& core = GraphicsCore();
  core.useBackBufferLock = 0;
  int side = 256;
  while (side > core.screenWidth || side > core.screenHeight) side /= 2;
  int64_t lockTime = -1;
  int64_t copyTime = -1;
  for (int round = 0; round < 3 && side > 0; ++round) {
    int64_t lock = -1;
    int64_t copy = -1;
    TimeBackBufferReads(side, &lock, &copy);
    if (lock >= 0) lockTime = lock;
    if (copy >= 0) copyTime = copy;
  }
  if (lockTime < 0 || copyTime < 0) {
    LogWriteText("バックバッファロックはロックできません\n");
    return;
  }
  LogPrintf(
      "バックバッファロック転送の時間:%dnsec  一時的な描画可能バッファを使用した転送の時間:%dnsec",
      static_cast<int>(lockTime), static_cast<int>(copyTime));
  if (lockTime < copyTime) {
    core.useBackBufferLock = 1;
    LogWriteText("バックバッファロックを使用します\n");
  } else {
    LogWriteText("バックバッファロックを使用しません\n");
  }
}

const char* ScreenFormatName(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_X8R8G8B8: return "D3DFMT_X8R8G8B8";
    case D3DFMT_R5G6B5: return "D3DFMT_R5G6B5";
    case D3DFMT_X1R5G5B5: return "D3DFMT_X1R5G5B5";
    default: return nullptr;
  }
}

}  // namespace

namespace {

// A device made before (a rebuild's) goes first, with its back buffer and swap chain.
void ReleaseDirect3DDevice(GraphicsCoreState& core) {
  if (core.device == nullptr) return;
  LogWriteText("Direct3DDevice9 の解放 1\n");
  if (core.backBuffer != nullptr) core.backBuffer->Release();
  if (core.swapChain != nullptr) core.swapChain->Release();
  if (core.subBackBuffer != nullptr) core.subBackBuffer->Release();
  core.backBuffer = nullptr;
  core.swapChain = nullptr;
  core.subBackBuffer = nullptr;
  core.device->Release();
  core.device = nullptr;
  core.deviceEx = nullptr;
  core.inScene = 0;
}

// Lowers the multisample type until both the back buffer's format and the depth format take it,
// and the quality to the highest both accept.
void ChooseMultiSample(GraphicsCoreState& core, UINT adapter, D3DPRESENT_PARAMETERS* parameters) {
  auto lowerUntilAccepted = [&](D3DFORMAT format, DWORD* quality) {
    while (core.multiSampleType > 0 &&
           FAILED(core.direct3D->CheckDeviceMultiSampleType(
               adapter, D3DDEVTYPE_HAL, format, parameters->Windowed,
               static_cast<D3DMULTISAMPLE_TYPE>(core.multiSampleType), quality)))
      --core.multiSampleType;
  };
  DWORD colorQuality = 0;
  DWORD depthQuality = 0;
  lowerUntilAccepted(parameters->BackBufferFormat, &colorQuality);
  lowerUntilAccepted(D3DFMT_D16, &depthQuality);
  DWORD quality = colorQuality < depthQuality ? colorQuality : depthQuality;
  DWORD highest = quality > 0 ? quality - 1 : 0;
  if (static_cast<DWORD>(core.multiSampleQuality) > highest)
    core.multiSampleQuality = static_cast<int32_t>(highest);
  if (core.multiSampleType <= 0) {
    core.multiSampleType = 0;
    core.multiSampleQuality = 0;
  }
  parameters->MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(core.multiSampleType);
  parameters->MultiSampleQuality = static_cast<DWORD>(core.multiSampleQuality);
}

// The device itself, with mixed vertex processing where the hardware has version 2 shaders and
// software vertex processing where that fails; false (logged) when neither is made.
bool CreateDeviceObject(GraphicsCoreState& core, UINT adapter, HWND window,
                        const D3DPRESENT_PARAMETERS& parameters, D3DDISPLAYMODEEX& displayMode) {
  core.hardwareVertexProcessing = 0;
  if (!core.softwareVertexProcessingOnly) {
    D3DCAPS9 caps{};
    if (SUCCEEDED(core.direct3D->GetDeviceCaps(adapter, D3DDEVTYPE_HAL, &caps)) &&
        (caps.VertexShaderVersion & 0xFFFF) >= 0x200 && (caps.PixelShaderVersion & 0xFFFF) >= 0x200)
      core.hardwareVertexProcessing = 1;
  }
  DWORD extraFlags = (core.multithreadedDevice ? D3DCREATE_MULTITHREADED : 0) |
                     (core.keepFpuState ? D3DCREATE_FPU_PRESERVE : 0);
  auto createDevice = [&](DWORD processing) -> bool {
    D3DPRESENT_PARAMETERS attempt = parameters;
    if (core.direct3DEx != nullptr) {
      IDirect3DDevice9Ex* deviceEx = nullptr;
      if (FAILED(core.direct3DEx->CreateDeviceEx(
              adapter, D3DDEVTYPE_HAL, window, processing | extraFlags, &attempt,
              attempt.Windowed ? nullptr : &displayMode, &deviceEx)) ||
          deviceEx == nullptr)
        return false;
      core.device = deviceEx;
      core.deviceEx = deviceEx;
      deviceEx->SetMaximumFrameLatency(1);
      return true;
    }
    IDirect3DDevice9* device = nullptr;
    if (FAILED(core.direct3D->CreateDevice(adapter, D3DDEVTYPE_HAL, window, processing | extraFlags,
                                           &attempt, &device)) ||
        device == nullptr)
      return false;
    core.device = device;
    return true;
  };
  LogWriteText(core.direct3DEx != nullptr ? "IDirect3DDevice9Ex オブジェクトを取得します.... "
                                          : "IDirect3DDevice9 オブジェクトを取得します.... ");
  if (createDevice(core.hardwareVertexProcessing ? D3DCREATE_MIXED_VERTEXPROCESSING
                                                 : D3DCREATE_SOFTWARE_VERTEXPROCESSING)) {
    LogWriteText("ハードウエア頂点演算を使用します\n");
  } else {
    core.hardwareVertexProcessing = 0;
    if (!createDevice(D3DCREATE_SOFTWARE_VERTEXPROCESSING)) {
      LogWriteText(core.direct3DEx != nullptr ? "Direct3DDevice9Ex の作成に失敗しました\n"
                                              : "Direct3DDevice9 の作成に失敗しました\n");
      return false;
    }
    LogWriteText("ソフトウエア頂点演算を使用します\n");
  }
  return true;
}

// The new device's first frames: the state cache forgets the old device, three cleared frames
// are shown, and the start-up waits for the vertical blank twice.
void ShowFirstFrames(GraphicsCoreState& core, HWND window) {
  IDirect3DDevice9* device = core.device;
  MeasureRefreshPeriod();
  DeviceStateCache& cache = GetDeviceStateCache();
  cache.vertexShader = nullptr;
  cache.pixelShader = nullptr;
  cache.declaration = nullptr;
  cache.fvf = 0;
  cache.lastDrawSetup[0] = 0;
  cache.lastDrawSetup[1] = 0;

  device->SetRenderState(D3DRS_ZENABLE, TRUE);
  const D3DCOLOR background = GetBackgroundColor();
  for (int i = 0; i < 3; ++i) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);
    device->Present(nullptr, nullptr, window, nullptr);
  }
  device->Clear(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);

  device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &core.backBuffer);
  device->GetSwapChain(0, &core.swapChain);
  if (core.swapChain != nullptr) {
    for (int i = 0; i < 2; ++i) {
      WaitForRasterBlank(core.swapChain, true);
      WaitForRasterBlank(core.swapChain, false);
    }
  }
  LogWriteText("成功\n");
}

// What the device can do, as the rest of the graphics system reads it.
void ReadDeviceCapabilities(GraphicsCoreState& core) {
  IDirect3DDevice9* device = core.device;
  DeviceStateCache& cache = GetDeviceStateCache();
  device->GetDeviceCaps(&core.caps);
  core.tempRegisterSupported = (core.caps.PrimitiveMiscCaps & D3DPMISCCAPS_TSSARGTEMP) != 0;
  core.nativeSubtractBlend = (core.caps.PrimitiveMiscCaps & D3DPMISCCAPS_BLENDOP) != 0;
  core.vertexShader20 =
      core.hardwareVertexProcessing && (core.caps.VertexShaderVersion & 0xFFFF) >= 0x200;
  core.pixelShader20 =
      core.hardwareVertexProcessing && (core.caps.PixelShaderVersion & 0xFFFF) >= 0x200;
  core.maxTextureWidth =
      core.caps.MaxTextureWidth != 0 ? static_cast<int32_t>(core.caps.MaxTextureWidth) : 256;
  core.maxTextureHeight =
      core.caps.MaxTextureHeight != 0 ? static_cast<int32_t>(core.caps.MaxTextureHeight) : 256;
  core.maxTextureSize =
      core.maxTextureWidth < core.maxTextureHeight ? core.maxTextureWidth : core.maxTextureHeight;
  cache.diffuseMaterialSource = 255;
  cache.specularMaterialSource = 255;
}

// The adapter, the screen's format and the depth buffer's format, logged; -1 without a depth
// format.
int ChooseScreenAndDepthFormats(GraphicsCoreState& core, UINT adapter) {
  D3DADAPTER_IDENTIFIER9 identifier{};
  core.direct3D->GetAdapterIdentifier(adapter, 0, &identifier);
  LogPrintf("Driver:%s  Description:%s", identifier.Driver, identifier.Description);

  D3DSURFACE_DESC description{};
  if (core.backBuffer != nullptr) core.backBuffer->GetDesc(&description);
  core.screenFormat = description.Format;
  if (const char* name = ScreenFormatName(core.screenFormat)) {
    LogPrintf("画面のフォーマットは %s です", name);
  } else {
    LogPrintf("バックバッファが対応していないフォーマット %d です",
              static_cast<int>(core.screenFormat));
  }

  static constexpr FormatChoice depthFormats[] = {
      {D3DFMT_D16, "D3DFMT_D16"}, {D3DFMT_D24X8, "D3DFMT_D24X8"}, {D3DFMT_D32, "D3DFMT_D32"}};
  const FormatChoice* depth = nullptr;
  for (const FormatChoice& choice : depthFormats) {
    if (SUCCEEDED(core.direct3D->CheckDepthStencilMatch(adapter, D3DDEVTYPE_HAL, core.screenFormat,
                                                        core.screenFormat, choice.format))) {
      depth = &choice;
      break;
    }
  }
  if (depth == nullptr) {
    LogWriteText("使用できる Zバッファフォーマットが見つかりませんでした\n");
    return -1;
  }
  core.depthFormat = depth->format;
  LogPrintf("Ｚバッファのフォーマットは %s です", depth->name);
  return 0;
}

void LogDeviceCapabilities(const GraphicsCoreState& core) {
  LogPrintf("最大テクスチャサイズ　幅:%d 高さ:%d", core.maxTextureWidth, core.maxTextureHeight);
  LogPrintf("テクスチャステージテンポラリレジスタ：%s",
            core.tempRegisterSupported ? "使用可" : "使用不可");
  LogPrintf("減算合成のハードウェア対応：%s",
            core.nativeSubtractBlend ? "ネイティブ" : "エミュレート");
  LogPrintf("頂点シェーダーバージョンコード：%x",
            static_cast<unsigned>(core.caps.VertexShaderVersion & 0xFFFF));
  LogPrintf("ピクセルシェーダーバージョンコード：%x",
            static_cast<unsigned>(core.caps.PixelShaderVersion & 0xFFFF));
}

}  // namespace

int CreateDirect3DDevice() {
  GraphicsCoreState& core = GraphicsCore();
  if (core.direct3D == nullptr) return -1;
  ReleaseDirect3DDevice(core);
  const UINT adapter = static_cast<UINT>(core.adapterIndex);
  HWND window = hostCallTable.getWindowHandle();
  const bool multisample = core.multiSampleType != 0;

  D3DPRESENT_PARAMETERS parameters{};
  parameters.BackBufferWidth = static_cast<UINT>(core.screenWidth);
  parameters.BackBufferHeight = static_cast<UINT>(core.screenHeight);
  parameters.BackBufferCount = 1;
  parameters.SwapEffect = multisample ? D3DSWAPEFFECT_DISCARD : D3DSWAPEFFECT_COPY;
  parameters.hDeviceWindow = window;
  parameters.EnableAutoDepthStencil = FALSE;
  parameters.Flags = multisample ? 0 : D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  parameters.PresentationInterval =
      GetDrawSettings()->noVerticalSync ? D3DPRESENT_INTERVAL_IMMEDIATE : D3DPRESENT_INTERVAL_ONE;

  D3DDISPLAYMODEEX displayMode{};
  auto backBufferFormatForBits = [&]() -> D3DFORMAT {
    if (core.screenColorBits == 32) return D3DFMT_X8R8G8B8;
    if (core.screenColorBits == 16)
      return core.direct3D->GetAdapterModeCount(adapter, D3DFMT_R5G6B5) > 0 ? D3DFMT_R5G6B5
                                                                            : D3DFMT_X1R5G5B5;
    return D3DFMT_UNKNOWN;
  };
  if (hostCallTable.isWindowedMode()) {
    D3DDISPLAYMODE desktop{};
    core.direct3D->GetAdapterDisplayMode(adapter, &desktop);
    parameters.BackBufferFormat = desktop.Format;
    parameters.Windowed = TRUE;
    if (desktop.Format == D3DFMT_X8R8G8B8) core.screenColorBits = 32;
    if (desktop.Format == D3DFMT_R5G6B5 || desktop.Format == D3DFMT_X1R5G5B5 ||
        desktop.Format == D3DFMT_A1R5G5B5)
      core.screenColorBits = 16;
    hostCallTable.enableDesktopComposition(core.compositionAlwaysOff ? 0 : 1);
  } else if (OsVersionCode() >= kVistaVersionCode &&
             (core.request320x240 || GetDrawSettings()->emulation320x240 ||
              core.presentSourceRectSet)) {
    parameters.Windowed = TRUE;
    parameters.BackBufferFormat = backBufferFormatForBits();
  } else {
    parameters.Windowed = FALSE;
    parameters.BackBufferFormat = backBufferFormatForBits();
    if (parameters.BackBufferFormat == D3DFMT_UNKNOWN) {
      LogWriteText("非対応のバックバッファービット深度が指定されました\n");
      return -1;
    }
    parameters.FullScreen_RefreshRateInHz = static_cast<UINT>(core.refreshRate);
    displayMode = D3DDISPLAYMODEEX{24,
                                   parameters.BackBufferWidth,
                                   parameters.BackBufferHeight,
                                   parameters.FullScreen_RefreshRateInHz,
                                   parameters.BackBufferFormat,
                                   D3DSCANLINEORDERING_PROGRESSIVE};
    hostCallTable.enableDesktopComposition(0);
    if (hostCallTable.getModuleEntry("dwmapi.dll", "DwmEnableComposition") != nullptr)
      LogWriteText("Desktop Window Manager を無効にしました\n");
  }

  if (multisample) ChooseMultiSample(core, adapter, &parameters);
  if (!CreateDeviceObject(core, adapter, window, parameters, displayMode)) return -1;
  ShowFirstFrames(core, window);
  ReadDeviceCapabilities(core);
  if (ChooseScreenAndDepthFormats(core, adapter) == -1) return -1;
  if (FillTextureFormatTable() == -1) return -1;
  LogDeviceCapabilities(core);
  if (core.backBuffer != nullptr) RunBackBufferLockTest();
  return 0;
}
