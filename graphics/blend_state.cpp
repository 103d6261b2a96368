// The blend application: one render program per draw from the 15-row blend table and the
// texture-stage programs (built here by rule), with the blend graph's border computation; the
// subtract emulation for devices without reverse subtraction; the built-in white graph.
#include "graphics/blend_state.h"

#include <array>
#include <cstring>

#include "graphics/draw_settings.h"
#include "graphics/frame_present.h"
#include "graphics/graph_handle.h"
#include "graphics/graphics_public.h"
#include "graphics/graphics_state.h"
#include "graphics/shader_pack.h"
#include "graphics/vertex_batch.h"

namespace {

struct BlendTableRow {
  int32_t destBlend;
  int32_t srcBlend;
  int32_t variant;
  int32_t blendOp;
};

constexpr std::array<BlendTableRow, kBlendModeCount> kBlendTable = {{
    {-1, -1, 0, D3DBLENDOP_ADD},
    {D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA, 0, D3DBLENDOP_ADD},
    {D3DBLEND_ONE, D3DBLEND_SRCALPHA, 0, D3DBLENDOP_ADD},
    {D3DBLEND_ZERO, D3DBLEND_INVDESTCOLOR, 0, D3DBLENDOP_ADD},
    {D3DBLEND_SRCCOLOR, D3DBLEND_ZERO, 0, D3DBLENDOP_ADD},
    {D3DBLEND_ONE, D3DBLEND_SRCALPHA, 0, D3DBLENDOP_ADD},
    {-1, -1, 0, D3DBLENDOP_ADD},
    {-1, -1, 0, D3DBLENDOP_ADD},
    {D3DBLEND_ONE, D3DBLEND_ZERO, 0, D3DBLENDOP_ADD},
    {D3DBLEND_ZERO, D3DBLEND_INVDESTCOLOR, 0, D3DBLENDOP_ADD},
    {D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA, 2, D3DBLENDOP_ADD},
    {D3DBLEND_SRCCOLOR, D3DBLEND_ZERO, 1, D3DBLENDOP_ADD},
    {D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA, 3, D3DBLENDOP_ADD},
    {D3DBLEND_ONE, D3DBLEND_SRCALPHA, 3, D3DBLENDOP_ADD},
    {D3DBLEND_ONE, D3DBLEND_SRCALPHA, 0, D3DBLENDOP_REVSUBTRACT},
}};

// An 8 x 8 TGA of opaque white: run-length true colour, one run of 8 pixels per row, and the
// standard footer.
constexpr std::array<uint8_t, 84> kWhiteImage = [] {
  std::array<uint8_t, 84> image{};
  const uint8_t header[18] = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 8, 0, 32, 0x28};
  size_t at = 0;
  for (uint8_t byte : header) image[at++] = byte;
  for (int row = 0; row < 8; ++row) {
    image[at++] = 0x87;
    for (int i = 0; i < 4; ++i) image[at++] = 0xFF;
  }
  at += 8;
  const char signature[] = "TRUEVISION-XFILE.";
  for (size_t i = 0; i < sizeof signature; ++i) image[at++] = static_cast<uint8_t>(signature[i]);
  return image;
}();
static_assert(kWhiteImage[83] == 0 && kWhiteImage[82] == '.');

int whiteGraph = -1;

constexpr uint16_t kComplementTexture = D3DTA_TEXTURE | D3DTA_COMPLEMENT;

BlendStageSetup Stage(IDirect3DBaseTexture9* texture, int texCoordIndex, uint16_t colorOp,
                      uint16_t colorArg1, uint16_t colorArg2, uint16_t alphaOp, uint16_t alphaArg1,
                      uint16_t alphaArg2) {
  return BlendStageSetup{texture,   -1,      texCoordIndex, D3DTA_CURRENT, alphaArg1,
                         alphaArg2, alphaOp, colorArg1,     colorArg2,     colorOp};
}

// The colour combiner of the draw texture for a variant.
void SetVariantColour(BlendStageSetup& stage, int variant, bool coloured) {
  switch (variant) {
    case 2:
      stage.colorArg1 = kComplementTexture;
      stage.colorArg2 = D3DTA_DIFFUSE;
      stage.colorOp = coloured ? D3DTOP_MODULATE : D3DTOP_SELECTARG1;
      break;
    case 3:
      stage.colorArg1 = D3DTA_TEXTURE;
      stage.colorArg2 = D3DTA_DIFFUSE;
      stage.colorOp = D3DTOP_MODULATE4X;
      break;
    default:
      stage.colorArg1 = D3DTA_TEXTURE;
      stage.colorArg2 = D3DTA_DIFFUSE;
      stage.colorOp = coloured ? D3DTOP_MODULATE : D3DTOP_SELECTARG1;
      break;
  }
}

// The prepared texture-stage program for one combination of the draw's properties. The draw
// texture is bound at stage 0 without a blend texture; with one, the blend texture is stage 0.
void BuildStageProgram(BlendRenderProgram& program, int alphaKind, bool blended, bool coloured,
                       bool blendTexture, int variant, IDirect3DBaseTexture9* drawTexture,
                       IDirect3DBaseTexture9* blendTextureObject) {
  program.stageCount = 0;
  if (!blendTexture) {
    BlendStageSetup stage = Stage(drawTexture, 0, 0, 0, 0, 0, 0, 0);
    SetVariantColour(stage, variant, coloured);
    if (alphaKind == 0) {
      stage.alphaOp = D3DTOP_SELECTARG1;
      stage.alphaArg1 = D3DTA_DIFFUSE;
      stage.alphaArg2 = D3DTA_DIFFUSE;
    } else {
      stage.alphaOp = blended ? D3DTOP_MODULATE : D3DTOP_SELECTARG1;
      stage.alphaArg1 = D3DTA_TEXTURE;
      stage.alphaArg2 = D3DTA_DIFFUSE;
    }
    program.stages[program.stageCount++] = stage;
    if (variant == 1) {
      program.stages[program.stageCount++] =
          Stage(nullptr, 0, D3DTOP_BLENDCURRENTALPHA, D3DTA_CURRENT, D3DTA_TFACTOR,
                D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT);
    }
    return;
  }
  program.stages[program.stageCount++] =
      Stage(blendTextureObject, 0, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_DIFFUSE, D3DTOP_ADD,
            D3DTA_TEXTURE, D3DTA_TFACTOR);
  if (alphaKind == 1) {
    program.stages[program.stageCount++] =
        Stage(nullptr, 0, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, D3DTOP_MODULATE,
              D3DTA_CURRENT, D3DTA_SPECULAR);
  }
  BlendStageSetup stage = Stage(drawTexture, 1, 0, 0, 0, 0, 0, 0);
  SetVariantColour(stage, variant, coloured);
  if (alphaKind == 0) {
    stage.alphaOp = D3DTOP_MODULATE;
    stage.alphaArg1 = D3DTA_CURRENT;
    stage.alphaArg2 = D3DTA_DIFFUSE;
  } else {
    stage.alphaOp = D3DTOP_MODULATE;
    stage.alphaArg1 = D3DTA_TEXTURE;
    stage.alphaArg2 = D3DTA_CURRENT;
  }
  program.stages[program.stageCount++] = stage;
  if (blended && alphaKind != 0) {
    program.stages[program.stageCount++] =
        Stage(nullptr, 0, D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT, D3DTOP_MODULATE,
              D3DTA_CURRENT, D3DTA_DIFFUSE);
  }
}

// The blend graph's border (parameter p, range r) as alpha test or as a scaled alpha ramp.
void ApplyBorder(BlendRenderProgram& program, int p, int r, bool alphaBlendOrTest) {
  if (r <= 1) {
    program.alphaTestEnable = 1;
    program.alphaFunc = D3DCMP_GREATEREQUAL;
    program.alphaRef = p == 0 && alphaBlendOrTest ? 1 : p;
    program.alphaBlendEnable = 0;
    program.textureFactor = 0x00FFFFFF;
    return;
  }
  int full;
  uint16_t scaleOp;
  if (r <= 64) {
    full = 1280;
    scaleOp = D3DTOP_MODULATE4X;
  } else if (r <= 128) {
    full = 768;
    scaleOp = D3DTOP_MODULATE2X;
  } else {
    full = 512;
    scaleOp = D3DTOP_MODULATE;
  }
  const int limit = full - 256;
  const int t = p * full / 255;
  const int e = full - t;
  uint32_t alpha;
  if (e < limit) {
    program.stages[0].alphaOp = D3DTOP_SUBTRACT;
    alpha = static_cast<uint32_t>(255 - e * 255 / limit);
  } else {
    program.stages[0].alphaOp = D3DTOP_ADD;
    if (full == 1280)
      alpha = static_cast<uint32_t>((e - 1024) / 4);
    else if (full == 768)
      alpha = static_cast<uint32_t>((e - 512) / 2);
    else
      alpha = static_cast<uint32_t>((e - 256) * 255 / 256);
  }
  if (program.stageCount > 1) program.stages[1].alphaOp = scaleOp;
  program.alphaBlendEnable = 1;
  program.textureFactor = ((alpha & 0xFF) << 24) | 0x00FFFFFF;
}

int SendBlendValue(D3DRENDERSTATETYPE state, int32_t* mirror, int32_t value) {
  if (value == -1) {
    if (GetDeviceStateCache().forceResend && *mirror > 1)
      return SetRenderStateCached(state, mirror, *mirror);
    return 0;
  }
  return SetRenderStateCached(state, mirror, static_cast<DWORD>(value));
}

int SendStage(int s, const BlendStageSetup& stage, bool tempRegister) {
  DeviceStateCache& cache = GetDeviceStateCache();
  int result = 0;
  auto send = [&](D3DTEXTURESTAGESTATETYPE type, int32_t* mirror, uint32_t value) {
    if (value == kStageValueKeep) return;
    if (SetStageStateCached(s, type, mirror, value) == -1) result = -1;
  };
  if (SetStageTextureState(s, stage.texture) == -1) result = -1;
  send(D3DTSS_TEXCOORDINDEX, cache.texCoordIndex, static_cast<uint32_t>(stage.texCoordIndex));
  if (tempRegister) send(D3DTSS_RESULTARG, cache.resultArg, static_cast<uint32_t>(stage.resultArg));
  send(D3DTSS_ALPHAARG1, cache.alphaArg1, stage.alphaArg1);
  send(D3DTSS_ALPHAARG2, cache.alphaArg2, stage.alphaArg2);
  send(D3DTSS_ALPHAOP, cache.alphaOp, stage.alphaOp);
  send(D3DTSS_COLORARG1, cache.colorArg1, stage.colorArg1);
  send(D3DTSS_COLORARG2, cache.colorArg2, stage.colorArg2);
  send(D3DTSS_COLOROP, cache.colorOp, stage.colorOp);
  return result;
}

void SetDefaultAlphaTest(BlendRenderProgram& program, const DrawSetupState& draw,
                         const DeviceStateCache& cache) {
  if (draw.alphaTest) {
    program.alphaTestEnable = 1;
    program.alphaFunc = D3DCMP_GREATER;
    program.alphaRef = 16;
  } else if (cache.zEnable) {
    program.alphaTestEnable = 1;
    program.alphaFunc = D3DCMP_GREATER;
    program.alphaRef = 0;
  } else {
    program.alphaTestEnable = 0;
    program.alphaFunc = D3DCMP_GREATER;
    program.alphaRef = 16;
  }
}

// The one stage of an untextured draw: the diffuse colour, changed as the mode's variant asks.
void BuildUntexturedProgram(BlendRenderProgram& program, DrawSetupState& draw,
                            const BlendTableRow& row, int mode) {
  draw.vertexType = 0;
  draw.drawsNothing = 0;
  program.stageCount = 1;
  BlendStageSetup stage = Stage(nullptr, 0, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_DIFFUSE,
                                D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_DIFFUSE);
  if (mode != 3) {
    switch (row.variant) {
      case 1:
        stage.colorOp = D3DTOP_BLENDDIFFUSEALPHA;
        stage.colorArg2 = D3DTA_TFACTOR;
        program.textureFactor = 0xFFFFFFFF;
        break;
      case 2: stage.colorArg1 = D3DTA_DIFFUSE | D3DTA_COMPLEMENT; break;
      case 3: {
        int white = GetBuiltInWhiteGraph();
        stage.texture = white != -1 ? GetGraphFirstTexture(white, nullptr, nullptr) : nullptr;
        stage.colorOp = D3DTOP_MODULATE4X;
        stage.colorArg2 = D3DTA_TEXTURE;
        break;
      }
      default: break;
    }
  }
  program.stages[0] = stage;
  program.alphaTestEnable = 0;
}

// The stages of a textured draw, with or without a blend graph, and the blend and alpha test
// they need.
void BuildTexturedProgram(BlendRenderProgram& program, DrawSetupState& draw,
                          const DeviceStateCache& cache, const BlendTableRow& row, int mode) {
  const bool blendTexture = draw.blendTexture != nullptr;
  const int variant = blendTexture ? (mode == 12 || mode == 13 ? 3 : 0) : row.variant;
  const int alphaKind = draw.alphaBlend                                        ? 1
                        : (draw.alphaTest || (!blendTexture && cache.zEnable)) ? 2
                                                                               : 0;
  BuildStageProgram(program, alphaKind, draw.blended != 0, draw.coloured != 0, blendTexture,
                    variant, draw.drawTexture, draw.blendTexture);
  SetDefaultAlphaTest(program, draw, cache);
  if (!blendTexture) {
    draw.vertexType = 1;
    draw.drawsNothing = 0;
    if (draw.alphaBlend && !program.alphaBlendEnable) {
      program.alphaBlendEnable = 1;
      program.destBlend = D3DBLEND_INVSRCALPHA;
      program.srcBlend = D3DBLEND_SRCALPHA;
    }
    if (variant == 1) program.textureFactor = 0xFFFFFFFF;
  } else {
    draw.vertexType = 2;
    if (mode == 0 || mode == 6) {
      program.destBlend = D3DBLEND_INVSRCALPHA;
      program.srcBlend = D3DBLEND_SRCALPHA;
    }
    draw.drawsNothing = draw.blendBorderParam == 255 ? 1 : 0;
    ApplyBorder(program, draw.blendBorderParam, draw.blendBorderRange,
                draw.alphaBlend || draw.alphaTest);
  }
}

// The program of the engine's own blend modes for the draw's textures.
void BuildBlendModeProgram(BlendRenderProgram& program, DeviceStateCache& cache,
                           const DrawSettings& settings, bool nativeSubtractBlend) {
  DrawSetupState& draw = cache.draw;
  const int mode = draw.blendMode >= 0 && draw.blendMode < kBlendModeCount ? draw.blendMode : 0;
  const BlendTableRow& row = kBlendTable[static_cast<size_t>(mode)];
  draw.blendChanged = 0;
  draw.textureChanged = 0;
  program.destBlend = row.destBlend;
  program.srcBlend = row.srcBlend;
  program.blendOp = row.blendOp;
  if (mode == 3 && nativeSubtractBlend) {
    program.destBlend = D3DBLEND_ONE;
    program.srcBlend = D3DBLEND_SRCALPHA;
    program.blendOp = D3DBLENDOP_REVSUBTRACT;
  }
  program.alphaBlendEnable = mode == 0 || mode == 6 ? 0 : 1;
  program.textureFactor = cache.textureFactor;
  program.alphaFunc = D3DCMP_GREATER;
  program.alphaRef = 16;
  if (draw.drawTexture == nullptr)
    BuildUntexturedProgram(program, draw, row, mode);
  else
    BuildTexturedProgram(program, draw, cache, row, mode);
  if (settings.alphaTestFunction != -1) {
    program.alphaTestEnable = 1;
    program.alphaFunc = settings.alphaTestFunction;
    program.alphaRef = settings.alphaTestReference;
  }
}

// The program's alpha test, blend and texture factor to the device (the factor to the pixel
// shaders too); -1 when a state could not be set.
int SendBlendRenderStates(const BlendRenderProgram& program, DeviceStateCache& cache) {
  int result = 0;
  auto check = [&](int r) {
    if (r == -1) result = -1;
  };
  check(SetRenderStateCached(D3DRS_ALPHAFUNC, &cache.alphaFunc,
                             static_cast<DWORD>(program.alphaFunc)));
  check(
      SetRenderStateCached(D3DRS_ALPHAREF, &cache.alphaRef, static_cast<DWORD>(program.alphaRef)));
  check(SetRenderStateCached(D3DRS_ALPHATESTENABLE, &cache.alphaTestEnable,
                             program.alphaTestEnable ? 1 : 0));
  check(SetRenderStateCached(D3DRS_ALPHABLENDENABLE, &cache.alphaBlendEnable,
                             program.alphaBlendEnable ? 1 : 0));
  int32_t factorMirror = static_cast<int32_t>(cache.textureFactor);
  const int32_t previousFactor = factorMirror;
  check(SetRenderStateCached(D3DRS_TEXTUREFACTOR, &factorMirror, program.textureFactor));
  cache.textureFactor = static_cast<uint32_t>(factorMirror);
  if (AreShadersInUse() && (cache.forceResend || factorMirror != previousFactor)) {
    const uint32_t factor = cache.textureFactor;
    const float values[4] = {static_cast<float>(factor & 0xFF) / 255.0f,
                             static_cast<float>((factor >> 8) & 0xFF) / 255.0f,
                             static_cast<float>((factor >> 16) & 0xFF) / 255.0f,
                             static_cast<float>(factor >> 24) / 255.0f};
    UploadPixelShaderConstants(1, 5, values);
  }
  check(SendBlendValue(D3DRS_SRCBLEND, &cache.srcBlend, program.srcBlend));
  check(SendBlendValue(D3DRS_DESTBLEND, &cache.destBlend, program.destBlend));
  check(SendBlendValue(D3DRS_BLENDOP, &cache.blendOp, program.blendOp));
  return result;
}

// The program's stages, the stage after them switched off; with a new stage count the filter
// mode and anisotropy go to the stages again.
int SendBlendStages(const BlendRenderProgram& program, DeviceStateCache& cache, bool userInUse,
                    bool tempRegister) {
  DrawSetupState& draw = cache.draw;
  int result = 0;
  auto check = [&](int r) {
    if (r == -1) result = -1;
  };
  const int stageCount =
      program.stageCount < kDeviceStageCount ? program.stageCount : kDeviceStageCount;
  for (int s = 0; s < stageCount; ++s) {
    if (s >= 2 && !userInUse && program.stages[s - 1].alphaOp == D3DTOP_DISABLE) break;
    check(SendStage(s, program.stages[s], tempRegister));
  }
  // The stage after the program is switched off, so that it ends the chain.
  if (stageCount < kDeviceStageCount) {
    BlendStageSetup off = Stage(nullptr, stageCount, D3DTOP_DISABLE, kStageValueKeep,
                                kStageValueKeep, D3DTOP_DISABLE, kStageValueKeep, kStageValueKeep);
    off.texCoordIndex = stageCount;
    check(SendStage(stageCount, off, false));
  }
  if (draw.stageCount != stageCount) {
    draw.stageCount = stageCount;
    int previous = cache.forceResend;
    SetForceResend(1);
    ApplyTextureFilterMode(cache.filterMode);
    SetMaxAnisotropy(cache.maxAnisotropySetting);
    SetForceResend(previous);
  }
  return result;
}

}  // namespace

void MarkBlendStateChanged() {
  DrawSetupState& draw = GetDeviceStateCache().draw;
  draw.blendChanged = 1;
  draw.textureChanged = 1;
  draw.drawTexture = nullptr;
}

int ApplyBlendState(int graphTextures, const BlendRenderProgram* userProgram, int userFlag) {
  GraphicsCoreState& core = GraphicsCore();
  if (core.device == nullptr) return -1;
  DeviceStateCache& cache = GetDeviceStateCache();
  DrawSetupState& draw = cache.draw;
  const BlendRenderProgram* user = userProgram != nullptr ? userProgram : draw.userProgram;
  const bool userInUse = user != nullptr && (userFlag || draw.userProgram != nullptr);
  BlendRenderProgram program{};

  if (userInUse) {
    program = *user;
    for (int s = 0; s < program.stageCount && s < kDeviceStageCount; ++s) {
      BlendStageSetup& stage = program.stages[s];
      if (stage.graph != -1 && (graphTextures || draw.userGraphTextures))
        stage.texture = GetGraphFirstTexture(stage.graph, nullptr, nullptr);
    }
  } else {
    // With the blend unchanged only a new texture goes to its stage.
    if (!cache.forceResend && !draw.blendChanged) {
      if (!draw.textureChanged) return -1;
      int stage = draw.blendTexture == nullptr ? 0 : draw.alphaBlend ? 2 : 1;
      SetStageTextureState(stage, draw.drawTexture);
      draw.textureChanged = 0;
      return 0;
    }
    BuildBlendModeProgram(program, cache, *GetDrawSettings(), core.nativeSubtractBlend != 0);
  }
  const int states = SendBlendRenderStates(program, cache);
  const int stages = SendBlendStages(program, cache, userInUse, core.tempRegisterSupported != 0);
  return states == -1 || stages == -1 ? -1 : 0;
}

namespace {

// The begin and the end of the subtract emulation are one step: a white box over the rectangle
// in blend mode 3 at full strength and full brightness, then the blend mode given (5 before the
// draw, 3 after it) with the caller's parameter and brightness back.
int InvertForSubtractBlend(const RECT* rect, int modeAfter) {
  DrawSettings* settings = GetDrawSettings();
  const uint32_t white = MakeScreenColorCode(255, 255, 255);
  const int param = settings->blendParam;
  const uint32_t brightness = GetDrawBrightnessRGB(settings);
  SetDrawBrightness(255, 255, 255);
  SetBlendModeAndParam(3, 255);
  if (rect != nullptr)
    DrawFilledBoxHardware(rect->left, rect->top, rect->right, rect->bottom, white, 1);
  SetDrawBrightnessPacked(brightness);
  return SetBlendModeAndParam(modeAfter, param);
}

}  // namespace

int BeginSubtractBlendEmulation(const RECT* rect) { return InvertForSubtractBlend(rect, 5); }

int EndSubtractBlendEmulation(const RECT* rect) { return InvertForSubtractBlend(rect, 3); }

int GetBuiltInWhiteGraph() {
  if (whiteGraph != -1 && IsGraphHandleLive(whiteGraph)) return whiteGraph;
  DrawSettings* settings = GetDrawSettings();
  const uint32_t transparent = settings->transparentColor;
  SetTransparentColor(255, 0, 255);
  whiteGraph = CreateGraphFromMemoryImage(kWhiteImage.data(), static_cast<int>(kWhiteImage.size()),
                                          nullptr, 0, 1, 0);
  settings->transparentColor = transparent;
  BeginDeviceScene();
  return whiteGraph;
}

int DeleteBuiltInWhiteGraph() {
  if (whiteGraph != -1 && IsGraphHandleLive(whiteGraph)) DeleteGraphHandle(whiteGraph);
  whiteGraph = -1;
  return 0;
}
