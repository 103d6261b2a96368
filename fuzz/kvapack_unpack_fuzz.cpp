// Fuzz target: `kvapack unpack` run whole, in process, on an archive file into an empty folder.
// The input is the plain archive; the harness scrambles it with the engine's key before writing
// it. The program's own main is built into the target under another name (fuzz/CMakeLists.txt),
// so what is fuzzed is what a user runs; its listing goes to /dev/null.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "files/archive.h"

int RunKvapackProgram(int argc, char** argv);

namespace {

namespace fs = std::filesystem;

const fs::path& WorkFolder() {
  static const fs::path folder = [] {
    std::freopen("/dev/null", "w", stdout);
    fs::path made = fs::temp_directory_path() / ("kvapack_unpack_fuzz." + std::to_string(getpid()));
    fs::create_directories(made);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(WorkFolder(), ignored);
    });
    return made;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 18)) return 0;
  std::vector<std::uint8_t> file(data, data + size);
  std::uint8_t key[kArchiveKeySize];
  DeriveArchiveKey(nullptr, key);
  DescrambleArchiveBytes(file.size(), file.data(), 0, key);
  const fs::path archive = WorkFolder() / "input.kva";
  const fs::path output = WorkFolder() / "out";
  std::FILE* out = std::fopen(archive.c_str(), "wb");
  if (!out) return 0;
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  if (std::fclose(out) != 0 || !written) return 0;
  std::string arguments[] = {"kvapack", "unpack", archive.string(), output.string()};
  char* argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(),
                  arguments[3].data(), nullptr};
  RunKvapackProgram(4, argv);
  std::error_code ignored;
  fs::remove_all(output, ignored);
  return 0;
}
