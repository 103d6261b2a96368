// Path mapping between the engine's drive-Z:, backslash, code page 932 form and POSIX UTF-8 paths,
// with case-insensitive look-up of names that do not exist exactly.
#include "platform/win32/file_path.h"

#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

bool IsAscii(const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  return true;
}

bool Convert(const char* to, const char* from, const char* text, size_t length, std::string& out) {
  out.clear();
  if (IsAscii(text, length)) {
    out.assign(text, length);
    return true;
  }
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result;
  result.resize(length * 4 + 16);
  char* in = const_cast<char*>(text);
  size_t inLeft = length;
  char* outPtr = result.data();
  size_t outLeft = result.size();
  size_t status = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (status == static_cast<size_t>(-1) || inLeft != 0) return false;
  result.resize(result.size() - outLeft);
  out = std::move(result);
  return true;
}

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualFolded(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (FoldAscii(*a) != FoldAscii(*b)) return false;
  return *a == *b;
}

std::string JoinPath(const std::string& base, const std::string& name) {
  if (base.empty()) return name;
  if (base.back() == '/') return base + name;
  return base + "/" + name;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The entry of `directory` equal to `name` under ASCII case folding, the first in byte order.
bool FindFoldedEntry(const std::string& directory, const std::string& name, std::string& found) {
  DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
  if (!dir) return false;
  bool any = false;
  while (dirent* entry = readdir(dir)) {
    if (!EqualFolded(entry->d_name, name.c_str())) continue;
    if (!any || std::strcmp(entry->d_name, found.c_str()) < 0) found = entry->d_name;
    any = true;
  }
  closedir(dir);
  return any;
}

// Steps over one UTF-8 character.
const char* NextCharacter(const char* s) {
  ++s;
  while ((static_cast<unsigned char>(*s) & 0xC0) == 0x80) ++s;
  return s;
}

bool MatchFrom(const char* pattern, const char* name) {
  while (*pattern) {
    if (*pattern == '*') {
      while (*pattern == '*') ++pattern;
      if (!*pattern) return true;
      for (const char* n = name; *n; n = NextCharacter(n))
        if (MatchFrom(pattern, n)) return true;
      return false;
    }
    if (!*name) return false;
    if (*pattern == '?') {
      ++pattern;
      name = NextCharacter(name);
      continue;
    }
    if (FoldAscii(*pattern) != FoldAscii(*name)) return false;
    ++pattern;
    ++name;
  }
  return *name == 0;
}

}  // namespace

bool ConvertAnsiToUtf8(const char* text, std::string& out) {
  if (!text) return false;
  return Convert("UTF-8", "CP932", text, std::strlen(text), out);
}

bool ConvertUtf8ToAnsi(const std::string& text, std::string& out) {
  return Convert("CP932", "UTF-8", text.data(), text.size(), out);
}

bool MapToPosixPath(const char* path, std::string& out) {
  std::string utf8;
  if (!path || !*path || !ConvertAnsiToUtf8(path, utf8)) return false;
  for (char& c : utf8)
    if (c == '\\') c = '/';
  if (utf8.size() >= 2 && utf8[0] == '/' && utf8[1] == '/') return false;
  if (utf8.size() >= 2 && utf8[1] == ':') {
    if (FoldAscii(utf8[0]) != 'Z') return false;
    utf8.erase(0, 2);
    if (utf8.empty()) utf8.push_back('.');
  }
  out = std::move(utf8);
  return true;
}

bool MapPosixToEnginePath(const std::string& posixPath, std::string& out) {
  if (posixPath.empty() || posixPath[0] != '/') return false;
  std::string windows = "Z:" + posixPath;
  for (char& c : windows)
    if (c == '/') c = '\\';
  return ConvertUtf8ToAnsi(windows, out);
}

std::string ResolvePosixPath(const std::string& posixPath) {
  if (posixPath.empty() || Exists(posixPath)) return posixPath;
  std::string resolved = posixPath[0] == '/' ? "/" : "";
  bool missing = false;
  size_t start = 0;
  while (start <= posixPath.size()) {
    size_t end = posixPath.find('/', start);
    if (end == std::string::npos) end = posixPath.size();
    std::string name = posixPath.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    std::string candidate = JoinPath(resolved, name);
    std::string found;
    if (!missing && name != "." && name != ".." && !Exists(candidate) &&
        FindFoldedEntry(resolved, name, found)) {
      candidate = JoinPath(resolved, found);
    } else if (!missing && !Exists(candidate)) {
      missing = true;
    }
    resolved = candidate;
  }
  if (posixPath.back() == '/' && !resolved.empty() && resolved.back() != '/') resolved += '/';
  return resolved.empty() ? posixPath : resolved;
}

bool ResolveEnginePath(const char* path, std::string& out) {
  std::string posix;
  if (!MapToPosixPath(path, posix)) return false;
  out = ResolvePosixPath(posix);
  return true;
}

bool MatchWildcard(const char* pattern, const char* name) {
  if (std::strcmp(pattern, "*.*") == 0) return true;
  return MatchFrom(pattern, name);
}
