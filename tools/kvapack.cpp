// kvapack: packs a folder into a KVA archive that the engine reads in the folder's place, lists an
// archive and unpacks one. Output files are written whole to a temporary name and renamed.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "files/archive.h"
#include "platform/win32/file_path.h"
#include "tools/archive_writer.h"

namespace {

namespace fs = std::filesystem;

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

// Writes to a temporary file beside the target and renames it into place.
bool WriteFileAtomically(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::string temporary = path.string() + ".tmpXXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  bool ok = done == bytes.size() && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) {
    chmod(temporary.c_str(), 0644);
    ok = std::rename(temporary.c_str(), path.c_str()) == 0;
  }
  if (!ok) std::remove(temporary.c_str());
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
      if (!ReadWholeFile(path, file.bytes)) {
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
  if (!WriteFileAtomically(archive, bytes)) {
    std::fprintf(stderr, "kvapack: cannot write %s\n", archive.c_str());
    return 1;
  }
  std::printf("%s: %zu entries, %zu bytes\n", archive.c_str(), files.size(), bytes.size());
  return 0;
}

// Visits every entry below the archive's folder `prefix` ("" for the root, else ending in "\").
template <class Visit>
bool Walk(ArchiveRecord* record, const std::string& prefix, Visit& visit) {
  FindResultRecord result;
  ArchiveFindState* state = BeginArchiveFind(record, (prefix + "*").c_str(), &result);
  bool ok = true;
  for (int more = state ? 0 : -1; more == 0 && ok; more = FetchNextArchiveMatch(state, &result)) {
    std::string name = result.name;
    if (name == "." || name == "..") continue;
    ok = visit(prefix + name, result);
    if (ok && result.directory) ok = Walk(record, prefix + name + "\\", visit);
  }
  if (state) EndArchiveFind(state);
  return ok;
}

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
  auto visit = [&](const std::string& path, const FindResultRecord& found) {
    std::string utf8;
    if (!ConvertAnsiToUtf8(path.c_str(), utf8)) utf8 = path;
    std::replace(utf8.begin(), utf8.end(), '\\', '/');
    if (found.directory) {
      std::printf("%12s  %s/\n", "", utf8.c_str());
      if (target) fs::create_directories(*target / utf8);
      return true;
    }
    ArchiveEntryStream stream;
    if (OpenArchiveEntry(&stream, &record, path.c_str(), 0) != 0) {
      std::fprintf(stderr, "kvapack: %s cannot be read\n", utf8.c_str());
      return false;
    }
    std::vector<std::uint8_t> bytes(stream.entry.dataSize);
    bool ok =
        ReadArchiveEntry(&stream, bytes.data(), stream.entry.dataSize) == stream.entry.dataSize;
    const bool packed = record.version >= 2 && stream.entry.packedSize != kArchivePlain;
    std::printf("%12u  %s%s\n", stream.entry.dataSize, utf8.c_str(), packed ? "  (packed)" : "");
    CloseArchiveEntry(&stream);
    if (ok && target) {
      fs::create_directories((*target / utf8).parent_path());
      ok = WriteFileAtomically(*target / utf8, bytes);
    }
    return ok;
  };
  bool ok = Walk(&record, "", visit);
  ReleaseArchiveRecord(&record);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
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
