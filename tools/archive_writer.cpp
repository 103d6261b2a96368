// The archive writer: folder tree, name table with search forms, breadth-first file table,
// directory table, data area with LZ blocks where they pay, and the scrambling.
#include "tools/archive_writer.h"

#include <algorithm>
#include <map>
#include <memory>

#include "files/archive.h"
#include "tools/lz_encoder.h"

namespace {

struct Node {
  std::string name;
  bool folder = false;
  const ArchiveWriterFile* file = nullptr;
  std::map<std::string, std::unique_ptr<Node>> children;  // byte order of the names
  std::uint32_t nameOffset = 0;
  std::uint32_t dirOffset = 0;
  std::uint32_t firstEntry = 0;
  std::uint32_t entryOffset = 0;
  std::uint32_t parentDir = kArchiveNone;
};

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
void PutTime(std::vector<std::uint8_t>& b, std::size_t at, const FILETIME& t) {
  Put32(b, at, t.dwLowDateTime);
  Put32(b, at + 4, t.dwHighDateTime);
}

// Splits at "\" and "/", stepping over double-byte characters of the kind.
std::vector<std::string> SplitPath(const std::string& path, int kind) {
  std::vector<std::string> parts;
  std::string part;
  for (std::size_t i = 0; i < path.size(); ++i) {
    auto c = static_cast<unsigned char>(path[i]);
    bool lead = (kind >= 2 && kind <= 4) ? c >= 0x80
                                         : ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
    if (lead && i + 1 < path.size()) {
      part += path.substr(i, 2);
      ++i;
    } else if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += path[i];
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// The paths as a tree of folders and files under the root; false when a path is empty or a name
// too long for its search form.
bool BuildNameTree(const std::vector<ArchiveWriterFile>& files, int kind, Node* root) {
  root->folder = true;
  for (const ArchiveWriterFile& file : files) {
    std::vector<std::string> parts = SplitPath(file.path, kind);
    if (parts.empty()) return false;
    Node* node = root;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (parts[i].size() + 4 > kArchiveSearchFormMax) return false;
      std::unique_ptr<Node>& child = node->children[parts[i]];
      if (!child) {
        child = std::make_unique<Node>();
        child->name = parts[i];
        child->folder = true;
      }
      node = child.get();
    }
    node->folder = file.folder;
    node->file = &file;
  }
  return true;
}

// A node's name record: its search form's length in units and checksum, the form, then the name.
void AddNameRecord(Node* node, int kind, std::vector<std::uint8_t>& names) {
  node->nameOffset = static_cast<std::uint32_t>(names.size());
  const std::size_t units = (node->name.size() + 4) / 4;
  std::vector<std::uint8_t> form(units * 4, 0);
  MakeArchiveSearchForm(node->name.data(), node->name.size(), kind, form.data());
  std::uint32_t sum = 0;
  for (std::uint8_t b : form) sum += b;
  std::size_t at = names.size();
  names.resize(at + 4);
  Put16(names, at, static_cast<std::uint32_t>(units));
  Put16(names, at + 2, sum & 0xFFFF);
  names.insert(names.end(), form.begin(), form.end());
  names.insert(names.end(), node->name.begin(), node->name.end());
  names.push_back(0);
  while (names.size() % 4) names.push_back(0);
}

// One file table entry: name, attributes, times, and where its folder record or its data (packed
// when that is smaller) lies; a file's data goes to the end of `out`.
void WriteFileEntry(const Node& child, std::size_t e, std::uint32_t dataAreaOffset,
                    std::uint16_t version, bool pack, std::vector<std::uint8_t>& out) {
  const ArchiveWriterFile* file = child.file;
  Put32(out, e, child.nameOffset);
  Put32(out, e + 4, child.folder ? 0x10 : (file ? file->attributes & ~0x10u : 0x20));
  if (file) {
    PutTime(out, e + 8, file->creationTime);
    PutTime(out, e + 16, file->lastWriteTime);
    PutTime(out, e + 24, file->lastWriteTime);
  }
  std::uint32_t packedSize = kArchivePlain;
  if (child.folder) {
    Put32(out, e + 32, child.dirOffset);
    Put32(out, e + 36, 0);
  } else {
    const std::vector<std::uint8_t> empty;
    const std::vector<std::uint8_t>& bytes = file ? file->bytes : empty;
    Put32(out, e + 32, static_cast<std::uint32_t>(out.size() - dataAreaOffset));
    Put32(out, e + 36, static_cast<std::uint32_t>(bytes.size()));
    std::vector<std::uint8_t> block;
    if (version >= 2 && pack && !bytes.empty()) block = PackLZBlock(bytes.data(), bytes.size());
    if (!block.empty() && block.size() < bytes.size()) {
      packedSize = static_cast<std::uint32_t>(block.size());
      out.insert(out.end(), block.begin(), block.end());
    } else {
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
  }
  if (version >= 2) Put32(out, e + 40, packedSize);
}

}  // namespace

std::vector<std::uint8_t> WriteArchive(const std::vector<ArchiveWriterFile>& files,
                                       const ArchiveWriterOptions& options) {
  const std::uint16_t version =
      std::clamp<std::uint16_t>(options.version, 1, kArchiveNewestVersion);
  const int kind = version >= 4 ? ArchiveCodePageKind(options.codePage) : 0;
  const std::uint32_t entrySize = ArchiveFileEntrySize(version);
  const std::size_t headerSize = version >= 4 ? kArchiveHeaderSize + 4 : kArchiveHeaderSize;

  Node root;
  if (!BuildNameTree(files, kind, &root)) return {};

  // Breadth-first: the folders in the order their records are written.
  std::vector<Node*> folders = {&root};
  for (std::size_t i = 0; i < folders.size(); ++i)
    for (auto& [name, child] : folders[i]->children)
      if (child->folder) folders.push_back(child.get());

  std::vector<std::uint8_t> names;
  std::uint32_t entryCount = 0;
  for (std::size_t d = 0; d < folders.size(); ++d) {
    Node* folder = folders[d];
    folder->dirOffset = static_cast<std::uint32_t>(d * kArchiveDirEntrySize);
    folder->firstEntry = entryCount * entrySize;
    for (auto& [name, child] : folder->children) {
      AddNameRecord(child.get(), kind, names);
      child->entryOffset = entryCount * entrySize;
      child->parentDir = folder->dirOffset;
      ++entryCount;
    }
  }

  const std::uint32_t fileTableOffset = static_cast<std::uint32_t>(names.size());
  const std::uint32_t dirTableOffset = fileTableOffset + entryCount * entrySize;
  const std::uint32_t headBlockSize =
      dirTableOffset + static_cast<std::uint32_t>(folders.size() * kArchiveDirEntrySize);
  const std::uint32_t headBlockOffset = static_cast<std::uint32_t>(headerSize);
  const std::uint32_t dataAreaOffset = headBlockOffset + headBlockSize;

  std::vector<std::uint8_t> out(dataAreaOffset, 0);
  out[0] = 'K';
  out[1] = 'V';
  Put16(out, 2, version);
  Put32(out, 4, headBlockSize);
  Put32(out, 8, dataAreaOffset);
  Put32(out, 12, headBlockOffset);
  Put32(out, 16, fileTableOffset);
  Put32(out, 20, dirTableOffset);
  if (version >= 4) Put32(out, 24, options.codePage);
  std::copy(names.begin(), names.end(), out.begin() + headBlockOffset);

  for (std::size_t d = 0; d < folders.size(); ++d) {
    Node* folder = folders[d];
    const std::size_t at = headBlockOffset + dirTableOffset + folder->dirOffset;
    Put32(out, at, d == 0 ? kArchiveNone : folder->entryOffset);
    Put32(out, at + 4, folder->parentDir);
    Put32(out, at + 8, static_cast<std::uint32_t>(folder->children.size()));
    Put32(out, at + 12, folder->firstEntry);
    for (auto& [name, child] : folder->children) {
      WriteFileEntry(*child, headBlockOffset + fileTableOffset + child->entryOffset, dataAreaOffset,
                     version, options.pack, out);
    }
  }

  std::uint8_t key[kArchiveKeySize];
  if (options.key == ArchiveKeyChoice::kFallback) {
    GetArchiveFallbackKey(key);
  } else {
    DeriveArchiveKey(options.key == ArchiveKeyChoice::kString ? options.keyString.c_str() : nullptr,
                     key);
  }
  DescrambleArchiveBytes(out.size(), out.data(), 0, key);
  return out;
}
