// Conversion between the engine's code page and UTF-16, and the wide-character file calls built
// on it. Code page 932 (and CP_ACP, which is 932 here) goes through UTF-8; other code pages the
// engine may name (949, 950, 936) are refused, since no text of this system is in them.
#include <string>

#include "platform/win32/file_path.h"
#include "platform/win32/kernel.h"

namespace {

bool Utf8ToUtf16(const std::string& text, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    char32_t code = 0;
    int extra = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F;
      extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F;
      extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    i += 1 + extra;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return true;
}

bool Utf16ToUtf8(const char16_t* text, int length, std::string& out) {
  out.clear();
  for (int i = 0; i < length; ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00) {
      if (i + 1 >= length || text[i + 1] < 0xDC00 || text[i + 1] >= 0xE000) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (code >= 0xDC00 && code < 0xE000) {
      return false;
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return true;
}

bool IsEngineCodePage(UINT codePage) { return codePage == CP_ACP || codePage == 932; }

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int bytes, LPWSTR wide, int capacity) {
  if (text == nullptr || !IsEngineCodePage(codePage) || capacity < 0) return 0;
  const std::string narrow = bytes < 0 ? std::string(text) : std::string(text, bytes);
  // Counted text with a NUL inside is not a path or a name: refused.
  if (narrow.find('\0') != std::string::npos) return 0;
  std::string utf8;
  std::u16string converted;
  if (!ConvertAnsiToUtf8(narrow.c_str(), utf8) || !Utf8ToUtf16(utf8, converted)) return 0;
  if (bytes < 0) converted.push_back(u'\0');
  const int needed = static_cast<int>(converted.size());
  if (capacity == 0) return needed;
  if (wide == nullptr || needed > capacity) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < needed; ++i) wide[i] = converted[i];
  return needed;
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int length, LPSTR text, int capacity,
                        LPCSTR, BOOL*) {
  if (wide == nullptr || !IsEngineCodePage(codePage) || capacity < 0) return 0;
  int count = length;
  if (count < 0) {
    count = 0;
    while (wide[count] != 0) ++count;
  }
  std::string utf8, narrow;
  if (!Utf16ToUtf8(wide, count, utf8) || !ConvertUtf8ToAnsi(utf8, narrow)) return 0;
  if (length < 0) narrow.push_back('\0');
  const int needed = static_cast<int>(narrow.size());
  if (capacity == 0) return needed;
  if (text == nullptr || needed > capacity) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < needed; ++i) text[i] = narrow[i];
  return needed;
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
  char narrow[MAX_PATH * 2];
  if (WideCharToMultiByte(CP_ACP, 0, fileName, -1, narrow, sizeof(narrow), nullptr, nullptr) == 0)
    return INVALID_HANDLE_VALUE;
  return CreateFileA(narrow, desiredAccess, shareMode, security, creationDisposition,
                     flagsAndAttributes, templateFile);
}

BOOL DeleteFileW(LPCWSTR fileName) {
  char narrow[MAX_PATH * 2];
  if (WideCharToMultiByte(CP_ACP, 0, fileName, -1, narrow, sizeof(narrow), nullptr, nullptr) == 0)
    return FALSE;
  return DeleteFileA(narrow);
}
