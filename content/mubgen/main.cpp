// mubgen: makes the game's data from the readable sources in content/.
//   mubgen SOURCE-DIR OUTPUT-DIR           writes OUTPUT-DIR/data, image, sound, replay
//   mubgen --check SOURCE-DIR              checks the sources only
//   mubgen --replay SOURCE-DIR IN.rpt OUT.rp   compiles a text replay
//   mubgen --resources SOURCE-DIR OUT.cpp       writes the program's resources (its icon) as C++
//   mubgen --dump-map FILE.mdt | --dump-replay FILE.rp   prints a binary as source text
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "generator.h"
#include "map_compiler.h"
#include "program_resources.h"
#include "replay_compiler.h"
#include "source_text.h"
#include "system/atomic_file.h"
#include "type_tables.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: mubgen SOURCE-DIR OUTPUT-DIR\n"
               "       mubgen --check SOURCE-DIR\n"
               "       mubgen --replay SOURCE-DIR IN.rpt OUT.rp\n"
               "       mubgen --resources SOURCE-DIR OUT.cpp\n"
               "       mubgen --dump-map FILE.mdt\n"
               "       mubgen --dump-replay FILE.rp\n");
  return 2;
}

bool ReadBytes(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// Writes one output file whole; 0, or 1 with the reason on standard error.
int WriteOutput(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (WriteFileAtomically(path.c_str(), bytes) == 0) return 0;
  std::fprintf(stderr, "mubgen: %s: cannot be written: %s\n", path.c_str(), std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() == 2 && (a[0] == "--dump-map" || a[0] == "--dump-replay")) {
    std::vector<uint8_t> bytes;
    if (!ReadBytes(a[1], bytes)) {
      std::fprintf(stderr, "%s: cannot be read\n", a[1].c_str());
      return 1;
    }
    std::string text = a[0] == "--dump-map" ? mubgen::DumpMap(bytes) : mubgen::DumpReplay(bytes);
    if (text.empty()) {
      std::fprintf(stderr, "%s: too short\n", a[1].c_str());
      return 1;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  if (a.size() == 2 && a[0] == "--check") {
    try {
      auto content = mubgen::BuildContent(a[1]);
      for (const auto& w : content.warnings) std::fprintf(stderr, "warning: %s\n", w.c_str());
    } catch (const mubgen::ContentError& e) {
      std::fprintf(stderr, "mubgen: %s\n", e.what());
      return 1;
    }
    return 0;
  }
  if (a.size() == 4 && a[0] == "--replay") {
    try {
      mubgen::TypeTables types = mubgen::ReadTypeTables(a[1], a[1]);
      return WriteOutput(a[3], mubgen::CompileReplay(mubgen::ReadSourceFile(a[2], a[2]), types));
    } catch (const mubgen::ContentError& e) {
      std::fprintf(stderr, "mubgen: %s\n", e.what());
      return 1;
    }
  }
  if (a.size() == 3 && a[0] == "--resources") {
    try {
      std::string text = mubgen::BuildProgramResources(a[1]);
      return WriteOutput(a[2], std::vector<uint8_t>(text.begin(), text.end()));
    } catch (const mubgen::ContentError& e) {
      std::fprintf(stderr, "mubgen: %s\n", e.what());
      return 1;
    }
  }
  if (a.size() != 2 || a[0].rfind("--", 0) == 0) return Usage();
  std::string message;
  std::vector<std::string> warnings;
  int result = mubgen::GenerateContent(a[0], a[1], message, warnings);
  for (const auto& w : warnings) std::fprintf(stderr, "warning: %s\n", w.c_str());
  if (result != 0) {
    std::fprintf(stderr, "mubgen: %s\n", message.c_str());
    return 1;
  }
  return 0;
}
