// kvapack: packs a folder into a KVA archive that the engine reads in the folder's place, lists an
// archive and unpacks one. Every output file is replaced whole or not at all.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "files/archive.h"
#include "platform/win32/file_path.h"
#include "system/atomic_file.h"
#include "tools/archive_writer.h"

namespace {

namespace fs = std::filesystem;

// The most one entry may hold. kvapack keeps an entry whole in memory while it writes it, and an
// LZ block can expand about 2,000 times, so a small archive could otherwise claim gigabytes; a
// larger file is refused when packing too, so that whatever kvapack packs it also unpacks.
constexpr std::uint64_t kEntryBytesMax = 64u << 20;
constexpr const char* kEntryTooLarge = "is larger than the 64 MiB one entry may hold";

int Usage() {
  std::fprintf(stderr,
               "usage: kvapack pack <folder> [<archive>] [--version 1-4] [--store]\n"
               "       kvapack list <archive>\n"
               "       kvapack unpack <archive> <folder>\n");
  return 2;
}

bool ReadWholeFile(const fs::path& path, std::vector<std::uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes.clear();
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

FILETIME ToFileTime(const struct timespec& t) {
  std::uint64_t ticks =
      (static_cast<std::uint64_t>(t.tv_sec) + 11644473600ULL) * 10000000ULL + t.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

int Pack(const fs::path& folder, const fs::path& archive, const ArchiveWriterOptions& options) {
  if (!fs::is_directory(folder)) {
    std::fprintf(stderr, "kvapack: %s is not a folder\n", folder.c_str());
    return 1;
  }
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  std::vector<ArchiveWriterFile> files;
  for (const fs::path& path : paths) {
    ArchiveWriterFile file;
    std::string relative = fs::relative(path, folder).generic_string();
    std::replace(relative.begin(), relative.end(), '/', '\\');
    if (!ConvertUtf8ToAnsi(relative, file.path)) {
      std::fprintf(stderr, "kvapack: %s has no code page 932 name\n", path.c_str());
      return 1;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    file.lastWriteTime = file.creationTime = ToFileTime(st.st_mtim);
    if (S_ISDIR(st.st_mode)) {
      file.folder = true;
    } else if (S_ISREG(st.st_mode)) {
      if (static_cast<std::uint64_t>(st.st_size) > kEntryBytesMax) {
        std::fprintf(stderr, "kvapack: %s %s\n", path.c_str(), kEntryTooLarge);
        return 1;
      }
      if (!ReadWholeFile(path, file.bytes) || file.bytes.size() > kEntryBytesMax) {
        std::fprintf(stderr, "kvapack: cannot read %s\n", path.c_str());
        return 1;
      }
      if (!(st.st_mode & S_IWUSR)) file.attributes |= FILE_ATTRIBUTE_READONLY;
    } else {
      continue;
    }
    files.push_back(std::move(file));
  }
  std::vector<std::uint8_t> bytes = WriteArchive(files, options);
  if (bytes.empty() || bytes.size() > 0x7FFFFFFF) {
    std::fprintf(stderr, "kvapack: %s cannot be packed\n", folder.c_str());
    return 1;
  }
  if (WriteFileAtomically(archive.c_str(), bytes) != 0) {
    std::fprintf(stderr, "kvapack: cannot write %s: %s\n", archive.c_str(), std::strerror(errno));
    return 1;
  }
  std::printf("%s: %zu entries, %zu bytes\n", archive.c_str(), files.size(), bytes.size());
  return 0;
}

// Where an entry goes below the output folder, or nothing when its name could lead out of it:
// an absolute name, a drive letter, an empty, "." or ".." component, with "\" and "/" alike.
std::optional<fs::path> PathBelowOutput(const std::string& utf8Name) {
  fs::path relative;
  std::size_t start = 0;
  while (start <= utf8Name.size()) {
    std::size_t end = utf8Name.find_first_of("/\\", start);
    if (end == std::string::npos) end = utf8Name.size();
    const std::string part = utf8Name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return std::nullopt;
    if (start == 0 && part.size() >= 2 && part[1] == ':' && std::isalpha(part[0] & 0xFF))
      return std::nullopt;
    relative /= part;
    start = end + 1;
  }
  return relative;
}

// Lists an archive, or unpacks it below `target`. Entries are read from their own records, so two
// of one name each give their own bytes; an entry that cannot be written where it belongs is
// reported by name, and the others are still written. What is written stays in proportion to the
// archive: each record is unpacked once (a folder listing records another folder lists is
// refused from there on), no entry passes kEntryBytesMax, and the entries together may not take
// more stored bytes than the archive has.
class Unpacker {
 public:
  Unpacker(ArchiveRecord* record, const fs::path* target) : record_(record), target_(target) {}

  // False when any entry was refused or not written.
  bool Run() {
    FindResultRecord found;
    VisitFolder(BeginArchiveFind(record_, "*", &found), found, "");
    return ok_;
  }

 private:
  void VisitFolder(ArchiveFindState* state, FindResultRecord& found, const std::string& prefix) {
    for (int more = state ? 0 : -1; more == 0; more = FetchNextArchiveMatch(state, &found)) {
      ArchiveFileEntry entry;
      const char* stored;
      std::uint64_t recordOffset = 0;
      if (GetArchiveFoundEntry(state, &entry, &stored, &recordOffset) != 0)
        continue;  // "." and ".."
      std::string name;
      if (!ConvertAnsiToUtf8(stored, name)) name = stored;
      name = prefix + name;
      if (!listedRecords_.insert(recordOffset).second) {
        Fail(name, "is listed twice; the rest of its folder is not unpacked");
        break;
      }
      if (found.directory) {
        std::printf("%12s  %s/\n", "", name.c_str());
        if (!visitedFolders_.insert(entry.dataOffset).second) {
          Fail(name, "is a folder that holds itself");
        } else if (MakeFolder(name)) {
          FindResultRecord inner;
          VisitFolder(BeginArchiveFolderFind(record_, entry, &inner), inner, name + "/");
        }
      } else {
        WriteEntry(name, entry);
      }
    }
    if (state) EndArchiveFind(state);
  }

  bool MakeFolder(const std::string& name) {
    if (!target_) return true;
    const std::optional<fs::path> relative = PathBelowOutput(name);
    if (!relative) return Fail(name, "would lie outside the output folder");
    std::error_code error;
    fs::create_directories(*target_ / *relative, error);
    if (error) return Fail(name, error.message().c_str());
    return true;
  }

  void WriteEntry(const std::string& name, const ArchiveFileEntry& entry) {
    const bool packed = record_->version >= 2 && entry.packedSize != kArchivePlain;
    if (entry.dataSize > kEntryBytesMax) {
      Fail(name, kEntryTooLarge);
      return;
    }
    storedBytes_ += packed ? entry.packedSize : entry.dataSize;
    if (storedBytes_ > record_->imageSize) {
      Fail(name, "shares its stored bytes with other entries");
      return;
    }
    ArchiveEntryStream stream;
    if (OpenArchiveEntryOf(&stream, record_, entry, 0) != 0) {
      Fail(name, "cannot be read");
      return;
    }
    std::vector<std::uint8_t> bytes(entry.dataSize);
    const bool read = ReadArchiveEntry(&stream, bytes.data(), entry.dataSize) == entry.dataSize;
    CloseArchiveEntry(&stream);
    std::printf("%12u  %s%s\n", entry.dataSize, name.c_str(), packed ? "  (packed)" : "");
    if (!read) {
      Fail(name, "cannot be read");
      return;
    }
    if (!target_) return;
    const std::optional<fs::path> relative = PathBelowOutput(name);
    if (!relative) {
      Fail(name, "would lie outside the output folder");
      return;
    }
    const fs::path path = *target_ / *relative;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) {
      Fail(name, error.message().c_str());
      return;
    }
    // A file this run has already written is the same file again: an entry of the same name, or
    // of a name that differs only in case where the file system ignores case.
    struct stat existing;
    if (stat(path.c_str(), &existing) == 0 && written_.count({existing.st_dev, existing.st_ino})) {
      Fail(name, "has the name of an entry already unpacked");
      return;
    }
    if (WriteFileAtomically(path.c_str(), bytes) != 0) {
      Fail(name, std::strerror(errno));
      return;
    }
    if (stat(path.c_str(), &existing) == 0) written_.insert({existing.st_dev, existing.st_ino});
  }

  bool Fail(const std::string& name, const char* reason) {
    std::fprintf(stderr, "kvapack: %s: %s\n", name.c_str(), reason);
    ok_ = false;
    return false;
  }

  ArchiveRecord* record_;
  const fs::path* target_;
  bool ok_ = true;
  std::set<std::uint32_t> visitedFolders_;
  std::set<std::uint64_t> listedRecords_;
  std::uint64_t storedBytes_ = 0;
  std::set<std::pair<dev_t, ino_t>> written_;
};

int ListOrUnpack(const fs::path& archivePath, const fs::path* target) {
  std::vector<std::uint8_t> image;
  ArchiveRecord record{};
  if (!ReadWholeFile(archivePath, image) || image.size() > 0x7FFFFFFF ||
      OpenArchiveImage(&record, image.data(), static_cast<std::uint32_t>(image.size()), nullptr) !=
          0) {
    std::fprintf(stderr, "kvapack: %s is not an archive this engine opens\n", archivePath.c_str());
    return 1;
  }
  std::printf("version %u\n", record.version);
  const bool ok = Unpacker(&record, target).Run();
  ReleaseArchiveRecord(&record);
  return ok ? 0 : 1;
}

int Run(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string command = argv[1];
  std::vector<std::string> positional;
  ArchiveWriterOptions options;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--store") {
      options.pack = false;
    } else if (arg == "--version" && i + 1 < argc) {
      int version = std::atoi(argv[++i]);
      if (version < 1 || version > kArchiveNewestVersion) return Usage();
      options.version = static_cast<std::uint16_t>(version);
    } else {
      positional.push_back(arg);
    }
  }
  if (command == "pack" && (positional.size() == 1 || positional.size() == 2)) {
    fs::path folder = fs::path(positional[0]).lexically_normal();
    if (folder.filename().empty()) folder = folder.parent_path();
    fs::path archive =
        positional.size() == 2 ? fs::path(positional[1]) : fs::path(folder.string() + ".kva");
    return Pack(folder, archive, options);
  }
  if (command == "list" && positional.size() == 1) return ListOrUnpack(positional[0], nullptr);
  if (command == "unpack" && positional.size() == 2) {
    fs::path target = positional[1];
    return ListOrUnpack(positional[0], &target);
  }
  return Usage();
}
}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvapack: %s\n", e.what());
    return 1;
  }
}
