// GDI fonts: a font is a FreeType face (found through fontconfig) sized so that ascent plus
// descent equals the requested height, with synthetic bold and oblique where the face has none,
// and further faces for characters the first one lacks. Glyphs come back in the two bitmap
// layouts of GetGlyphOutlineA.
#include "platform/win32/gdi_font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include <iconv.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/win32/file_path.h"
#include "platform/win32/gdi.h"

namespace {

constexpr int kFallbackFaceLimit = 4;
constexpr int kSemiBoldWeight = 600;

struct SizedFace {
  FT_Face face;
  bool syntheticBold;
  bool syntheticItalic;
};

struct GdiFont {
  GdiObjectHeader header;
  std::vector<SizedFace> faces;  // the first is the font's own face
  std::string path;
  TEXTMETRICA metrics;
  int height;
  int weight;
  bool italic;
  const char* lang;  // fontconfig language of the character set, or null
  const char* codePage;
};

std::mutex fontMutex;
FT_Library library;
bool libraryTried;

bool LibraryReady() {
  if (!libraryTried) {
    libraryTried = true;
    if (FT_Init_FreeType(&library) != 0) library = nullptr;
    if (library && !FcInit()) {
      FT_Done_FreeType(library);
      library = nullptr;
    }
  }
  return library != nullptr;
}

const char* LangOfCharSet(DWORD charSet) {
  switch (charSet) {
    case SHIFTJIS_CHARSET: return "ja";
    case HANGEUL_CHARSET: return "ko";
    case CHINESEBIG5_CHARSET: return "zh-tw";
    case GB2312_CHARSET: return "zh-cn";
    default: return nullptr;
  }
}

// The code page in which character codes of the font arrive; DEFAULT_CHARSET is the system's (932).
const char* CodePageOfCharSet(DWORD charSet) {
  switch (charSet) {
    case ANSI_CHARSET: return "CP1252";
    case HANGEUL_CHARSET: return "CP949";
    case CHINESEBIG5_CHARSET: return "CP950";
    case GB2312_CHARSET: return "CP936";
    default: return "CP932";
  }
}

bool EqualFolded(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char ca = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
    char cb = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (ca != cb) return false;
  }
  return *a == *b;
}

struct FaceChoice {
  std::string path;
  int index = 0;
  int weight = FC_WEIGHT_REGULAR;
  int slant = FC_SLANT_ROMAN;
};

// A face matching the request. `family` (when not empty) must be one of the match's families and
// `lang` (when not null) must be covered by it; `character` (when not 0) must be in it.
bool MatchFace(const char* family, const char* lang, bool mono, int weight, bool italic,
               FT_ULong character, FaceChoice* out) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return false;
  if (family && *family)
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  if (lang) FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(lang));
  if (mono) FcPatternAddInteger(pattern, FC_SPACING, FC_MONO);
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight > 0 ? weight : 400));
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcCharSet* wanted = nullptr;
  if (character) {
    wanted = FcCharSetCreate();
    FcCharSetAddChar(wanted, static_cast<FcChar32>(character));
    FcPatternAddCharSet(pattern, FC_CHARSET, wanted);
  }
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  bool ok = match != nullptr;
  if (ok && family && *family) {
    bool named = false;
    FcChar8* name = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i)
      if (EqualFolded(reinterpret_cast<const char*>(name), family)) named = true;
    ok = named;
  }
  if (ok && lang) {
    FcLangSet* langs = nullptr;
    ok = FcPatternGetLangSet(match, FC_LANG, 0, &langs) == FcResultMatch &&
         FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>(lang)) == FcLangEqual;
  }
  if (ok && character) {
    FcCharSet* have = nullptr;
    ok = FcPatternGetCharSet(match, FC_CHARSET, 0, &have) == FcResultMatch &&
         FcCharSetHasChar(have, static_cast<FcChar32>(character));
  }
  FcChar8* file = nullptr;
  if (ok) ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch;
  if (ok) {
    out->path = reinterpret_cast<const char*>(file);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &out->index) != FcResultMatch) out->index = 0;
    if (FcPatternGetInteger(match, FC_WEIGHT, 0, &out->weight) != FcResultMatch)
      out->weight = FC_WEIGHT_REGULAR;
    if (FcPatternGetInteger(match, FC_SLANT, 0, &out->slant) != FcResultMatch)
      out->slant = FC_SLANT_ROMAN;
  }
  if (wanted) FcCharSetDestroy(wanted);
  if (match) FcPatternDestroy(match);
  return ok;
}

bool IsGothicAlias(const std::string& name) {
  return name == "ＭＳ ゴシック" || EqualFolded(name.c_str(), "MS Gothic");
}

// The face the font mapper settles on: the named face, or for the gothic alias IPA Gothic, then any
// monospaced face of the character set's language, then DejaVu Sans Mono, then anything at all.
bool ChooseFace(const std::string& name, DWORD charSet, int weight, bool italic, FaceChoice* out) {
  const char* lang = LangOfCharSet(charSet);
  if (IsGothicAlias(name)) {
    if (MatchFace("IPAGothic", nullptr, true, weight, italic, 0, out)) return true;
    if (MatchFace(nullptr, "ja", true, weight, italic, 0, out)) return true;
  } else if (!name.empty() && MatchFace(name.c_str(), nullptr, false, weight, italic, 0, out)) {
    return true;
  }
  if (lang && MatchFace(nullptr, lang, true, weight, italic, 0, out)) return true;
  if (MatchFace("DejaVu Sans Mono", nullptr, true, weight, italic, 0, out)) return true;
  return MatchFace(nullptr, nullptr, true, weight, italic, 0, out);
}

// Scales the face so that the OS/2 Windows ascent plus descent (or the hhea ones) fill `height`.
bool SizeFace(FT_Face face, int height) {
  long ascent = face->ascender;
  long descent = -face->descender;
  if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
      os2 && os2->usWinAscent + os2->usWinDescent > 0) {
    ascent = os2->usWinAscent;
    descent = os2->usWinDescent;
  }
  if (ascent + descent <= 0 || !FT_IS_SCALABLE(face)) return false;
  FT_Size_RequestRec request{};
  request.type = FT_SIZE_REQUEST_TYPE_NOMINAL;
  request.height = static_cast<FT_Long>(static_cast<long long>(height) * 64 * face->units_per_EM /
                                        (ascent + descent));
  request.width = request.height;
  return FT_Request_Size(face, &request) == 0;
}

void WinAscentDescent(FT_Face face, long* ascent, long* descent) {
  *ascent = face->ascender;
  *descent = -face->descender;
  if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
      os2 && os2->usWinAscent + os2->usWinDescent > 0) {
    *ascent = os2->usWinAscent;
    *descent = os2->usWinDescent;
  }
}

bool OpenSizedFace(const FaceChoice& choice, int height, int weight, bool italic, SizedFace* out) {
  FT_Face face = nullptr;
  if (FT_New_Face(library, choice.path.c_str(), choice.index, &face) != 0) return false;
  if (!SizeFace(face, height)) {
    FT_Done_Face(face);
    return false;
  }
  out->face = face;
  out->syntheticBold = weight >= kSemiBoldWeight && choice.weight < FC_WEIGHT_DEMIBOLD;
  out->syntheticItalic = italic && choice.slant == FC_SLANT_ROMAN;
  return true;
}

int GetFontObject(GdiObjectHeader*, int, void*) { return 0; }

BOOL DestroyFont(GdiObjectHeader* object) {
  std::lock_guard<std::mutex> lock(fontMutex);
  auto* font = reinterpret_cast<GdiFont*>(object);
  for (SizedFace& sized : font->faces) FT_Done_Face(sized.face);
  delete font;
  return TRUE;
}

GdiFont& StockFont() {
  // Never destroyed: a program may end the engine from a static destructor or an exit handler.
  static auto* font = new GdiFont{
      {GDI_OBJECT_FONT, GetFontObject, nullptr}, {}, {}, {}, 0, 0, false, nullptr, "CP932"};
  return *font;
}

GdiFont* SelectedFont(HDC dc) {
  if (!dc) return nullptr;
  auto* header = static_cast<GdiObjectHeader*>(dc->selected[GDI_OBJECT_FONT]);
  if (!header || header->kind != GDI_OBJECT_FONT || header->getObject != GetFontObject)
    return nullptr;
  auto* font = reinterpret_cast<GdiFont*>(header);
  return font->faces.empty() ? nullptr : font;
}

void FillMetrics(GdiFont* font, DWORD charSet) {
  FT_Face face = font->faces[0].face;
  long ascentUnits = 0;
  long descentUnits = 0;
  WinAscentDescent(face, &ascentUnits, &descentUnits);
  TEXTMETRICA& tm = font->metrics;
  tm = TEXTMETRICA{};
  tm.tmHeight = font->height;
  tm.tmAscent = static_cast<LONG>(
      (static_cast<long long>(font->height) * ascentUnits * 2 + (ascentUnits + descentUnits)) /
      (2 * (ascentUnits + descentUnits)));
  tm.tmDescent = font->height - tm.tmAscent;
  tm.tmInternalLeading = font->height - static_cast<LONG>((face->size->metrics.y_ppem));
  if (tm.tmInternalLeading < 0) tm.tmInternalLeading = 0;
  const int bold = font->faces[0].syntheticBold ? 1 : 0;
  tm.tmMaxCharWidth =
      static_cast<LONG>((FT_MulFix(face->max_advance_width, face->size->metrics.x_scale) + 63) >>
                        6) +
      bold;
  long average = face->max_advance_width / 2;
  if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2)); os2)
    average = os2->xAvgCharWidth;
  tm.tmAveCharWidth =
      static_cast<LONG>((FT_MulFix(average, face->size->metrics.x_scale) + 32) >> 6) + bold;
  tm.tmWeight = font->weight;
  tm.tmOverhang = bold;
  tm.tmDigitizedAspectX = tm.tmDigitizedAspectY = 96;
  tm.tmFirstChar = 0x20;
  tm.tmLastChar = 0xFF;
  tm.tmDefaultChar = 0x1F;
  tm.tmBreakChar = 0x20;
  tm.tmItalic = font->italic ? 1 : 0;
  tm.tmPitchAndFamily = FT_IS_FIXED_WIDTH(face) ? 0 : 1;  // the bit set means variable pitch
  tm.tmCharSet = static_cast<BYTE>(charSet);
}

// The character code as Unicode: one byte, or lead byte and trail byte, in the font's code page.
FT_ULong ToUnicode(const GdiFont* font, UINT code) {
  if (code < 0x80) return code;
  char bytes[2];
  size_t length = 0;
  if (code > 0xFF) bytes[length++] = static_cast<char>((code >> 8) & 0xFF);
  bytes[length++] = static_cast<char>(code & 0xFF);
  iconv_t cd = iconv_open("UTF-32LE", font->codePage);
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  unsigned char out[8] = {};
  char* in = bytes;
  char* outPtr = reinterpret_cast<char*>(out);
  size_t outLeft = sizeof(out);
  size_t status = iconv(cd, &in, &length, &outPtr, &outLeft);
  iconv_close(cd);
  if (status == static_cast<size_t>(-1) || length != 0 || outLeft != 4) return 0;
  return out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<FT_ULong>(out[3]) << 24);
}

// The face that holds the character (looking further through fontconfig when the font's own faces
// lack it) and its glyph index; the first face's missing-glyph box when none does.
const SizedFace* FindGlyph(GdiFont* font, FT_ULong character, FT_UInt* index) {
  for (const SizedFace& sized : font->faces)
    if ((*index = FT_Get_Char_Index(sized.face, character)) != 0) return &sized;
  *index = 0;
  if (character == 0 || static_cast<int>(font->faces.size()) > kFallbackFaceLimit)
    return &font->faces[0];
  FaceChoice choice;
  SizedFace extra{};
  if ((MatchFace(nullptr, font->lang, true, font->weight, font->italic, character, &choice) ||
       MatchFace(nullptr, nullptr, false, font->weight, font->italic, character, &choice)) &&
      OpenSizedFace(choice, font->height, font->weight, font->italic, &extra)) {
    if ((*index = FT_Get_Char_Index(extra.face, character)) != 0) {
      font->faces.push_back(extra);
      return &font->faces.back();
    }
    FT_Done_Face(extra.face);
  }
  return &font->faces[0];
}

}  // namespace

HFONT CreateFontA(int height, int, int, int, int weight, DWORD italic, DWORD, DWORD, DWORD charSet,
                  DWORD, DWORD, DWORD quality, DWORD, LPCSTR faceName) {
  std::lock_guard<std::mutex> lock(fontMutex);
  if (!LibraryReady()) return nullptr;
  std::string name;
  if (faceName && !ConvertAnsiToUtf8(faceName, name)) name.clear();
  if (height < 0) height = -height;  // a character height; close enough for the engine's uses
  if (height == 0) height = 16;
  if (weight <= 0) weight = 400;
  FaceChoice choice;
  if (!ChooseFace(name, charSet, weight, italic != 0, &choice)) return nullptr;
  auto* font = new (std::nothrow) GdiFont{};
  if (!font) return nullptr;
  font->header = {GDI_OBJECT_FONT, GetFontObject, DestroyFont};
  font->height = height;
  font->weight = weight;
  font->italic = italic != 0;
  font->lang = LangOfCharSet(charSet);
  font->codePage = CodePageOfCharSet(charSet);
  font->path = choice.path;
  SizedFace sized{};
  if (!OpenSizedFace(choice, height, weight, italic != 0, &sized)) {
    delete font;
    return nullptr;
  }
  font->faces.push_back(sized);
  FillMetrics(font, charSet);
  (void)quality;
  return reinterpret_cast<HFONT>(&font->header);
}

BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics) {
  std::lock_guard<std::mutex> lock(fontMutex);
  GdiFont* font = SelectedFont(dc);
  if (!font || !metrics) return FALSE;
  *metrics = font->metrics;
  return TRUE;
}

DWORD GetGlyphOutlineA(HDC dc, UINT character, UINT format, GLYPHMETRICS* metrics, DWORD bufferSize,
                       LPVOID buffer, const MAT2* matrix) {
  std::lock_guard<std::mutex> lock(fontMutex);
  GdiFont* font = SelectedFont(dc);
  if (!font || !metrics || !matrix || (format != GGO_BITMAP && format != GGO_GRAY4_BITMAP))
    return GDI_ERROR;
  const bool mono = format == GGO_BITMAP;
  FT_UInt index = 0;
  const SizedFace* sized = FindGlyph(font, ToUnicode(font, character), &index);
  FT_Face face = sized->face;
  if (FT_Load_Glyph(face, index,
                    FT_LOAD_NO_BITMAP | (mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL)) != 0)
    return GDI_ERROR;
  FT_GlyphSlot slot = face->glyph;
  FT_Pos extraAdvance = 0;
  // An outline without contours (a space) has no pixels, whatever the renderer makes of it.
  const bool empty = slot->format == FT_GLYPH_FORMAT_OUTLINE && slot->outline.n_contours == 0;
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    if (sized->syntheticItalic) {
      FT_Matrix shear{0x10000, 0x0366A, 0, 0x10000};
      FT_Outline_Transform(&slot->outline, &shear);
    }
    if (sized->syntheticBold) {
      FT_Outline_EmboldenXY(&slot->outline, 64, 0);
      extraAdvance = 64;
    }
  }
  if (FT_Render_Glyph(slot, mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0)
    return GDI_ERROR;
  const FT_Bitmap& bitmap = slot->bitmap;
  const int width = static_cast<int>(bitmap.width);
  const int rows = static_cast<int>(bitmap.rows);
  *metrics = GLYPHMETRICS{};
  metrics->gmCellIncX = static_cast<SHORT>((slot->advance.x + extraAdvance + 32) >> 6);
  if (empty || width == 0 || rows == 0) {
    metrics->gmBlackBoxX = metrics->gmBlackBoxY = 1;
    return 0;
  }
  metrics->gmBlackBoxX = static_cast<UINT>(width);
  metrics->gmBlackBoxY = static_cast<UINT>(rows);
  metrics->gmptGlyphOrigin = {slot->bitmap_left, slot->bitmap_top};
  const int pitch = mono ? (width + 31) / 32 * 4 : (width + 3) & ~3;
  const DWORD size = static_cast<DWORD>(pitch * rows);
  if (!buffer || bufferSize == 0) return size;
  if (bufferSize < size) return GDI_ERROR;
  auto* out = static_cast<unsigned char*>(buffer);
  std::memset(out, 0, size);
  for (int r = 0; r < rows; ++r) {
    const unsigned char* source = bitmap.buffer + static_cast<ptrdiff_t>(r) * bitmap.pitch;
    unsigned char* row = out + static_cast<ptrdiff_t>(r) * pitch;
    if (mono) {
      std::memcpy(row, source, static_cast<size_t>((width + 7) / 8));
    } else {
      for (int c = 0; c < width; ++c)
        row[c] = static_cast<unsigned char>((source[c] * 16 + 127) / 255);
    }
  }
  return size;
}

const char* GetFontFilePath(HFONT handle) {
  auto* header = reinterpret_cast<GdiObjectHeader*>(handle);
  if (!header || header->kind != GDI_OBJECT_FONT || header->getObject != GetFontObject)
    return nullptr;
  auto* font = reinterpret_cast<GdiFont*>(header);
  return font->faces.empty() ? nullptr : font->path.c_str();
}

HGDIOBJ GetStockSystemFont() { return &StockFont().header; }
