// Reading the generator's text sources: lines with their numbers, comments, tokens, and the
// error that names the file and line of a bad source.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mubgen {

// A refused source. what() is "<file>:<line>: <message>" (no line part when line is 0).
class ContentError : public std::runtime_error {
 public:
  ContentError(const std::string& file, int line, const std::string& message);
  std::string file;
  int line;
  std::string message;
};

struct SourceLine {
  int number = 0;    // 1-based line number in the file
  std::string raw;   // the line as written, without the line end
  std::string text;  // comment removed, trailing white space removed
};

struct SourceFile {
  std::string path;  // as shown in messages
  std::vector<SourceLine> lines;

  [[noreturn]] void Fail(int line, const std::string& message) const;
};

// Reads a text file; a file that cannot be read is an error naming it.
SourceFile ReadSourceFile(const std::string& path, const std::string& shownPath);
SourceFile SourceFromString(const std::string& text, const std::string& shownPath);

// A comment starts at "#" at the line start or after white space, outside a '...' literal.
std::string StripComment(std::string_view line);

std::vector<std::string> SplitWords(std::string_view text);
bool IsBlank(std::string_view text);

// Number parsing with range checks; every failure names file and line.
int64_t ParseInteger(const SourceFile& f, int line, std::string_view word, int64_t min, int64_t max,
                     const char* what);
double ParseReal(const SourceFile& f, int line, std::string_view word, double min, double max,
                 const char* what);

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};
// "RRGGBB" in hex; pure black is refused where it would be read as the colour key.
Rgb ParseColour(const SourceFile& f, int line, std::string_view word, bool allowBlack);

}  // namespace mubgen
