// Line reading, comment stripping, word splitting and checked number parsing for the sources.
#include "source_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace mubgen {

static std::string FormatError(const std::string& file, int line, const std::string& message) {
  if (line > 0) return file + ":" + std::to_string(line) + ": " + message;
  return file + ": " + message;
}

ContentError::ContentError(const std::string& f, int l, const std::string& m)
    : std::runtime_error(FormatError(f, l, m)), file(f), line(l), message(m) {}

void SourceFile::Fail(int line, const std::string& message) const {
  throw ContentError(path, line, message);
}

std::string StripComment(std::string_view line) {
  bool inQuote = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\'') inQuote = !inQuote;
    if (c == '#' && !inQuote && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
      line = line.substr(0, i);
      break;
    }
  }
  size_t end = line.size();
  while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r')) --end;
  return std::string(line.substr(0, end));
}

SourceFile SourceFromString(const std::string& text, const std::string& shownPath) {
  SourceFile f;
  f.path = shownPath;
  std::istringstream in(text);
  std::string raw;
  int number = 0;
  while (std::getline(in, raw)) {
    ++number;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    SourceLine l;
    l.number = number;
    l.raw = raw;
    l.text = StripComment(raw);
    f.lines.push_back(std::move(l));
  }
  return f;
}

SourceFile ReadSourceFile(const std::string& path, const std::string& shownPath) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ContentError(shownPath, 0, "cannot be read");
  std::ostringstream all;
  all << in.rdbuf();
  return SourceFromString(all.str(), shownPath);
}

std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= text.size()) break;
    size_t start = i;
    if (text[i] == '"') {
      // A double-quoted word keeps its spaces; the quotes are kept so callers can tell.
      ++i;
      while (i < text.size() && text[i] != '"') ++i;
      if (i < text.size()) ++i;
    } else {
      while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    }
    words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

bool IsBlank(std::string_view text) {
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\r') return false;
  return true;
}

int64_t ParseInteger(const SourceFile& f, int line, std::string_view word, int64_t min, int64_t max,
                     const char* what) {
  std::string s(word);
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || errno != 0)
    f.Fail(line, std::string(what) + ": \"" + s + "\" is not a whole number");
  if (v < min || v > max)
    f.Fail(line, std::string(what) + " " + s + " is out of range " + std::to_string(min) + ".." +
                     std::to_string(max));
  return v;
}

double ParseReal(const SourceFile& f, int line, std::string_view word, double min, double max,
                 const char* what) {
  std::string s(word);
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(s.c_str(), &end);
  if (s.empty() || *end != '\0' || errno != 0 || !std::isfinite(v))
    f.Fail(line, std::string(what) + ": \"" + s + "\" is not a number");
  if (v < min || v > max) {
    std::ostringstream m;
    m << what << " " << s << " is out of range " << min << ".." << max;
    f.Fail(line, m.str());
  }
  return v;
}

Rgb ParseColour(const SourceFile& f, int line, std::string_view word, bool allowBlack) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (word.size() != 6) f.Fail(line, "colour \"" + std::string(word) + "\" is not RRGGBB");
  int v[6];
  for (int i = 0; i < 6; ++i) {
    v[i] = hex(word[i]);
    if (v[i] < 0) f.Fail(line, "colour \"" + std::string(word) + "\" is not RRGGBB");
  }
  Rgb c{uint8_t(v[0] * 16 + v[1]), uint8_t(v[2] * 16 + v[3]), uint8_t(v[4] * 16 + v[5])};
  if (!allowBlack && c == Rgb{})
    f.Fail(line, "colour 000000 is the transparent colour key; use a near black such as 101010");
  return c;
}

}  // namespace mubgen
