// The archive reader: key and scrambling, opening from a file or from memory, releasing, path
// look-up with search forms, and folder searches. Every offset and size taken from an archive is
// checked against its head block or its size before it is used.
#include "files/archive.h"

#include <cstring>

#include "files/win32_file.h"
#include "system/little_endian.h"
#include "system/text_helpers.h"
#include "system/tracked_memory.h"

namespace {

// The engine's fixed key values. Archives open only with the values they were made with: never
// change them.
constexpr std::uint8_t kKeyFill = 0x5A;
constexpr std::uint8_t kFallbackKey[kArchiveKeySize] = {0x4B, 0x9E, 0x27, 0xC1, 0x73, 0x0D,
                                                        0xE8, 0x5A, 0x36, 0xB4, 0x91, 0x6F};

std::uint8_t RotateLeft(std::uint8_t v, int bits) {
  return static_cast<std::uint8_t>((v << bits) | (v >> (8 - bits)));
}

FILETIME LeTime(const std::uint8_t* p) { return FILETIME{ReadLittle32(p), ReadLittle32(p + 4)}; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool InHeadBlock(const ArchiveRecord* record, std::uint64_t offset, std::uint64_t size) {
  return offset <= record->headBlockSize && size <= record->headBlockSize - offset;
}

bool ReadDirEntry(const ArchiveRecord* record, std::uint32_t dirOffset, ArchiveDirEntry* dir) {
  const std::uint64_t at = std::uint64_t{record->dirTableOffset} + dirOffset;
  if (!InHeadBlock(record, at, kArchiveDirEntrySize)) return false;
  const std::uint8_t* p = record->headBlock + at;
  *dir = ArchiveDirEntry{ReadLittle32(p), ReadLittle32(p + 4), ReadLittle32(p + 8),
                         ReadLittle32(p + 12)};
  return InHeadBlock(record, std::uint64_t{record->fileTableOffset} + dir->firstEntryOffset,
                     std::uint64_t{dir->entryCount} * ArchiveFileEntrySize(record->version));
}

// Entry `index` of a folder whose record has been checked by ReadDirEntry.
void ReadFileEntry(const ArchiveRecord* record, const ArchiveDirEntry& dir, std::uint32_t index,
                   ArchiveFileEntry* entry) {
  const std::uint32_t size = ArchiveFileEntrySize(record->version);
  const std::uint8_t* p = record->headBlock + record->fileTableOffset + dir.firstEntryOffset +
                          std::uint64_t{index} * size;
  entry->nameOffset = ReadLittle32(p);
  entry->attributes = ReadLittle32(p + 4);
  entry->creationTime = LeTime(p + 8);
  entry->unusedTime = LeTime(p + 16);
  entry->lastWriteTime = LeTime(p + 24);
  entry->dataOffset = ReadLittle32(p + 32);
  entry->dataSize = ReadLittle32(p + 36);
  entry->packedSize = size >= 44 ? ReadLittle32(p + 40) : kArchivePlain;
}

// The parts of a name table entry, when the whole entry and its stored name lie in the head block.
bool ReadNameEntry(const ArchiveRecord* record, std::uint32_t nameOffset, std::uint16_t* units,
                   std::uint16_t* checkSum, const std::uint8_t** form, const char** stored) {
  if (!InHeadBlock(record, nameOffset, 4)) return false;
  const std::uint8_t* p = record->headBlock + nameOffset;
  *units = ReadLittle16(p);
  *checkSum = ReadLittle16(p + 2);
  const std::uint64_t formAt = std::uint64_t{nameOffset} + 4;
  if (*units == 0 || !InHeadBlock(record, formAt, std::uint64_t{*units} * 4)) return false;
  *form = record->headBlock + formAt;
  const std::uint64_t nameAt = formAt + std::uint64_t{*units} * 4;
  if (nameAt >= record->headBlockSize ||
      !std::memchr(record->headBlock + nameAt, 0, record->headBlockSize - nameAt))
    return false;
  if ((*form)[*units * 4 - 1] != 0) return false;  // the form ends with at least one zero
  *stored = reinterpret_cast<const char*>(record->headBlock + nameAt);
  return true;
}

bool KeyMatches(const ArchiveRecord* record, const ArchiveFileEntry& entry,
                const ArchiveSearchKey* key) {
  std::uint16_t units, checkSum;
  const std::uint8_t* form;
  const char* stored;
  if (!ReadNameEntry(record, entry.nameOffset, &units, &checkSum, &form, &stored)) return false;
  return units == key->units && checkSum == key->checkSum &&
         std::memcmp(form, key->form, units * 4u) == 0;
}

bool IsFolder(const ArchiveFileEntry& entry) {
  return (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void CompletePendingLoad(ArchiveRecord* record) {
  while (record->pendingLoad && !FinishArchiveImageLoad(record)) Sleep(1);
}

// The header's bytes must all lie inside the archive: 24, or 28 from version 4.
bool ParseHeader(ArchiveRecord* record, const std::uint8_t* header, std::uint32_t archiveSize) {
  if (archiveSize < kArchiveHeaderSize ||
      (ReadLittle16(header + 2) >= 4 && archiveSize < kArchiveHeaderSize + 4))
    return false;
  record->version = ReadLittle16(header + 2);
  record->headBlockSize = ReadLittle32(header + 4);
  record->dataAreaOffset = ReadLittle32(header + 8);
  record->headBlockOffset = ReadLittle32(header + 12);
  record->fileTableOffset = ReadLittle32(header + 16);
  record->dirTableOffset = ReadLittle32(header + 20);
  record->codePage = record->version >= 4 ? ReadLittle32(header + 24) : 0;
  record->codePageKind = ArchiveCodePageKind(record->codePage);
  record->imageSize = archiveSize;
  const std::uint64_t headerSize =
      record->version >= 4 ? kArchiveHeaderSize + 4 : kArchiveHeaderSize;
  return record->version <= kArchiveNewestVersion && headerSize <= archiveSize &&
         std::uint64_t{record->headBlockOffset} + record->headBlockSize <= archiveSize &&
         record->fileTableOffset <= record->headBlockSize &&
         InHeadBlock(record, record->dirTableOffset, kArchiveDirEntrySize) &&
         record->dataAreaOffset <= archiveSize;
}

struct TrackedBlock {
  std::uint8_t* bytes = nullptr;
  ~TrackedBlock() { TrackedFree(bytes); }
};

// Walks a path's folders from the current one. lastFailed tells whether the component that
// failed was the path's last one.
int WalkArchiveDirs(ArchiveRecord* record, const char* path, ArchiveSearchKey* keyOut,
                    bool* lastFailed) {
  if (lastFailed) *lastFailed = false;
  if (std::strcmp(path, ".") == 0) return 0;
  if (IsSeparator(path[0]) && path[1] == 0) {
    record->currentDir = 0;
    return 0;
  }
  if (std::strcmp(path, "..") == 0) {
    ArchiveDirEntry dir, parent;
    if (!ReadDirEntry(record, record->currentDir, &dir) || dir.parentOffset == kArchiveNone ||
        !ReadDirEntry(record, dir.parentOffset, &parent))
      return -1;
    record->currentDir = dir.parentOffset;
    return 0;
  }
  const char* p = path;
  ArchiveSearchKey key;
  for (;;) {
    if (IsSeparator(*p)) {
      record->currentDir = 0;
      if (!*++p) return 0;
      continue;
    }
    int length = 0;
    MakeArchiveSearchName(&key, record, p, &length);
    const char* next = p + length;
    if (keyOut) *keyOut = key;
    if (EnterArchiveSubdir(record, &key) != 0) {
      if (lastFailed) *lastFailed = *next == 0 || (IsSeparator(*next) && next[1] == 0);
      return -1;
    }
    if (*next == 0 || next[1] == 0) return 0;
    p = next + 1;
  }
}

bool HasSeparator(const char* path, int kind) {
  for (const char* p = path; *p; ++p) {
    if (IsLeadByteForCodePage(p, kind) && p[1]) {
      ++p;
      continue;
    }
    if (IsSeparator(*p)) return true;
  }
  return false;
}

int FindFileInCurrent(const ArchiveRecord* record, const ArchiveSearchKey* key,
                      ArchiveFileEntry* entry) {
  ArchiveDirEntry dir;
  if (!ReadDirEntry(record, record->currentDir, &dir)) return -1;
  for (std::uint32_t i = 0; i < dir.entryCount; ++i) {
    ArchiveFileEntry candidate;
    ReadFileEntry(record, dir, i, &candidate);
    if (!IsFolder(candidate) && KeyMatches(record, candidate, key)) {
      *entry = candidate;
      return 0;
    }
  }
  return -1;
}

const char* NextCharacter(const char* p, int kind) {
  return (IsLeadByteForCodePage(p, kind) && p[1]) ? p + 2 : p + 1;
}

bool MatchFrom(const char* name, const char* pattern, int kind) {
  while (*pattern) {
    if (*pattern == '*') {
      while (*pattern == '*') ++pattern;
      if (!*pattern) return true;
      for (const char* n = name; *n; n = NextCharacter(n, kind))
        if (MatchFrom(n, pattern, kind)) return true;
      return false;
    }
    if (!*name) return false;
    if (IsLeadByteForCodePage(pattern, kind) && pattern[1]) {
      if (name[0] != pattern[0] || name[1] != pattern[1]) return false;
      name += 2;
      pattern += 2;
      continue;
    }
    if (*pattern != '?' && *pattern != *name) return false;
    ++pattern;
    ++name;
  }
  return *name == 0;
}

void UpperCaseForArchive(char* text, int kind) {
  MakeArchiveSearchForm(text, std::strlen(text), kind, reinterpret_cast<std::uint8_t*>(text));
}

}  // namespace

int ArchiveCodePageKind(std::uint32_t codePage) {
  switch (codePage) {
    case 932: return kCodePageKindShiftJis;
    case 949: return kCodePageKindKorean;
    case 950: return kCodePageKindChineseTraditional;
    case 936: return kCodePageKindChineseSimplified;
    default: return 0;
  }
}

void MakeArchiveSearchForm(const char* name, std::size_t length, int kind, std::uint8_t* form) {
  for (std::size_t i = 0; i < length; ++i) {
    if (IsLeadByteForCodePage(name + i, kind) && i + 1 < length) {
      form[i] = static_cast<std::uint8_t>(name[i]);
      form[i + 1] = static_cast<std::uint8_t>(name[i + 1]);
      ++i;
      continue;
    }
    const char c = name[i];
    form[i] = static_cast<std::uint8_t>((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c);
  }
}

int DeriveArchiveKey(const char* keyString, std::uint8_t* key) {
  const std::size_t length = keyString ? std::strlen(keyString) : 0;
  for (std::size_t i = 0; i < kArchiveKeySize; ++i)
    key[i] = length ? static_cast<std::uint8_t>(keyString[i % length]) : kKeyFill;
  key[0] ^= 0x3C;
  key[1] = static_cast<std::uint8_t>(~key[1]);
  key[2] = RotateLeft(key[2], 3);
  key[3] ^= 0xA7;
  key[4] = RotateLeft(key[4], 5);
  key[5] = static_cast<std::uint8_t>(~key[5]);
  key[6] ^= 0x19;
  key[7] = RotateLeft(key[7], 1) ^ 0x6E;
  key[8] = static_cast<std::uint8_t>(~key[8]);
  key[9] ^= 0xD2;
  key[10] = RotateLeft(key[10], 6);
  key[11] ^= 0x81;
  return 0;
}

void GetArchiveFallbackKey(std::uint8_t* key) { std::memcpy(key, kFallbackKey, kArchiveKeySize); }

std::size_t DescrambleArchiveBytes(std::size_t byteCount, void* buffer, std::uint64_t fileOffset,
                                   const std::uint8_t* key) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t phase = static_cast<std::size_t>(fileOffset % kArchiveKeySize);
  for (std::size_t i = 0; i < byteCount; ++i) {
    bytes[i] ^= key[phase];
    if (++phase == kArchiveKeySize) phase = 0;
  }
  return phase;
}

std::uint32_t ReadArchiveBytes(std::int64_t fileOffset, FileHandle file, void* buffer,
                               std::uint32_t byteCount, const std::uint8_t* key) {
  const std::int32_t start = Win32FileTell(file);
  Win32FileRead(buffer, 1, byteCount, file);
  while (!Win32FileIdleCheck(file))
    WaitForSingleObject(reinterpret_cast<Win32FileRecord*>(file)->idleEvent, INFINITE);
  const std::int32_t end = Win32FileTell(file);
  const auto read = static_cast<std::uint32_t>(end > start ? end - start : 0);
  DescrambleArchiveBytes(read, buffer,
                         static_cast<std::uint64_t>(fileOffset >= 0 ? fileOffset : start), key);
  return read;
}

int ClearArchiveRecord(ArchiveRecord* record) {
  *record = ArchiveRecord{};
  return 0;
}

int OpenArchiveStreamed(ArchiveRecord* record, const char* path, const char* keyString) {
  if (record->headBlock || record->image || record->file) return -1;
  *record = ArchiveRecord{};
  FileHandle file = Win32FileOpen(path, 0, 1, 1);
  if (!file) return -1;
  auto fail = [&] {
    Win32FileClose(file);
    *record = ArchiveRecord{};
    return -1;
  };
  const std::uint32_t fileSize = reinterpret_cast<Win32FileRecord*>(file)->fileSize;
  DeriveArchiveKey(keyString, record->key);
  std::uint8_t header[kArchiveHeaderSize + 4] = {};
  if (ReadArchiveBytes(0, file, header, 8, record->key) != 8) return fail();
  if (header[0] != 'K' || header[1] != 'V') {
    GetArchiveFallbackKey(record->key);
    Win32FileSeek(file, 0, 0);
    if (ReadArchiveBytes(0, file, header, 8, record->key) != 8 || header[0] != 'K' ||
        header[1] != 'V')
      return fail();
  }
  if (ReadLittle16(header + 2) > kArchiveNewestVersion) return fail();
  const std::uint32_t rest = ReadLittle16(header + 2) >= 4 ? 20 : 16;
  if (ReadArchiveBytes(8, file, header + 8, rest, record->key) != rest ||
      !ParseHeader(record, header, fileSize))
    return fail();
  TrackedBlock headBlock;
  headBlock.bytes =
      static_cast<std::uint8_t*>(TrackedAlloc(record->headBlockSize ? record->headBlockSize : 1));
  if (!headBlock.bytes ||
      Win32FileSeek(file, static_cast<std::int32_t>(record->headBlockOffset), 0) != 0 ||
      ReadArchiveBytes(record->headBlockOffset, file, headBlock.bytes, record->headBlockSize,
                       record->key) != record->headBlockSize)
    return fail();
  record->headBlock = headBlock.bytes;
  headBlock.bytes = nullptr;
  record->file = file;
  record->currentDir = 0;
  record->inMemory = 0;
  record->callerOwnsImage = 0;
  return 0;
}

int OpenArchiveImage(ArchiveRecord* record, void* image, std::uint32_t imageSize,
                     const char* keyString) {
  if (record->headBlock || record->image || record->file || !image || imageSize < 8) return -1;
  *record = ArchiveRecord{};
  auto* bytes = static_cast<std::uint8_t*>(image);
  DeriveArchiveKey(keyString, record->key);
  std::uint8_t signature[8];
  std::memcpy(signature, bytes, 8);
  DescrambleArchiveBytes(8, signature, 0, record->key);
  if (signature[0] != 'K' || signature[1] != 'V') {
    GetArchiveFallbackKey(record->key);
    std::memcpy(signature, bytes, 8);
    DescrambleArchiveBytes(8, signature, 0, record->key);
    if (signature[0] != 'K' || signature[1] != 'V') {
      *record = ArchiveRecord{};
      return -1;
    }
  }
  DescrambleArchiveBytes(imageSize, bytes, 0, record->key);
  if (!ParseHeader(record, bytes, imageSize)) {
    // The caller gets the image back exactly as it was given.
    DescrambleArchiveBytes(imageSize, bytes, 0, record->key);
    *record = ArchiveRecord{};
    return -1;
  }
  record->image = bytes;
  record->headBlock = bytes + record->headBlockOffset;
  record->currentDir = 0;
  record->inMemory = 1;
  record->callerOwnsImage = 1;
  return 0;
}

int LoadArchiveImageFromFile(ArchiveRecord* record, const char* path, const char* keyString,
                             int noWait) {
  if (OpenArchiveStreamed(record, path, keyString) != 0) return -1;
  auto* image = static_cast<std::uint8_t*>(TrackedAlloc(record->imageSize ? record->imageSize : 1));
  if (!image || Win32FileSeek(record->file, 0, 0) != 0) {
    TrackedFree(image);
    ReleaseArchiveRecord(record);
    return -1;
  }
  Win32FileRead(image, 1, record->imageSize, record->file);
  record->image = image;
  record->pendingFile = record->file;
  record->file = 0;
  record->pendingLoad = 1;
  record->inMemory = 1;
  record->callerOwnsImage = 0;
  if (!noWait) CompletePendingLoad(record);
  return 0;
}

int FinishArchiveImageLoad(ArchiveRecord* record) {
  if (!record->pendingLoad) return 1;
  if (!Win32FileIdleCheck(record->pendingFile)) return 0;
  const std::int32_t read = Win32FileTell(record->pendingFile);
  const std::uint32_t valid = read > 0 ? static_cast<std::uint32_t>(read) : 0;
  // Bytes the file no longer had stay zero rather than stale.
  if (valid < record->imageSize) std::memset(record->image + valid, 0, record->imageSize - valid);
  DescrambleArchiveBytes(valid, record->image, 0, record->key);
  Win32FileClose(record->pendingFile);
  record->pendingFile = 0;
  record->pendingLoad = 0;
  return 1;
}

int ReleaseArchiveRecord(ArchiveRecord* record) {
  if (!record->headBlock && !record->image && !record->file && !record->pendingLoad) return 0;
  CompletePendingLoad(record);
  if (record->file) Win32FileClose(record->file);
  if (record->inMemory && record->callerOwnsImage) {
    DescrambleArchiveBytes(record->imageSize, record->image, 0, record->key);
  } else {
    TrackedFree(record->headBlock);
    TrackedFree(record->image);
  }
  *record = ArchiveRecord{};
  return 0;
}

int CloseArchiveAndClear(ArchiveRecord* record) {
  ReleaseArchiveRecord(record);
  *record = ArchiveRecord{};
  return 0;
}

std::uint8_t* GetArchiveImagePointer(ArchiveRecord* record) {
  CompletePendingLoad(record);
  return record->inMemory ? record->image : nullptr;
}

int MakeArchiveSearchName(ArchiveSearchKey* key, const ArchiveRecord* record, const char* text,
                          int* byteCount) {
  int length = 0;
  while (text[length] && !IsSeparator(text[length]))
    length +=
        (IsLeadByteForCodePage(text + length, record->codePageKind) && text[length + 1]) ? 2 : 1;
  if (byteCount) *byteCount = length;
  std::memset(key->form, 0, sizeof key->form);
  // A component too long for a search form matches nothing: no stored name has 0 units.
  if (static_cast<std::size_t>(length) + 4 > kArchiveSearchFormMax) {
    key->units = 0;
    key->checkSum = 0;
    return length;
  }
  key->units = static_cast<std::uint16_t>((length + 4) / 4);
  MakeArchiveSearchForm(text, static_cast<std::size_t>(length), record->codePageKind, key->form);
  std::uint32_t sum = 0;
  for (int i = 0; i < key->units * 4; ++i) sum += key->form[i];
  key->checkSum = static_cast<std::uint16_t>(sum);
  return length;
}

int EnterArchiveSubdir(ArchiveRecord* record, const ArchiveSearchKey* key) {
  ArchiveDirEntry dir, target;
  if (!ReadDirEntry(record, record->currentDir, &dir)) return -1;
  for (std::uint32_t i = 0; i < dir.entryCount; ++i) {
    ArchiveFileEntry entry;
    ReadFileEntry(record, dir, i, &entry);
    if (IsFolder(entry) && KeyMatches(record, entry, key) &&
        ReadDirEntry(record, entry.dataOffset, &target)) {
      record->currentDir = entry.dataOffset;
      return 0;
    }
  }
  return -1;
}

int ChangeArchiveDir(ArchiveRecord* record, const char* path, int restore,
                     ArchiveSearchKey* keyOut) {
  CompletePendingLoad(record);
  const std::uint32_t saved = record->currentDir;
  const int result = WalkArchiveDirs(record, path, keyOut, nullptr);
  if (result != 0 && restore) record->currentDir = saved;
  return result;
}

int FindArchiveFileEntry(const char* path, ArchiveRecord* record, ArchiveFileEntry* entry) {
  CompletePendingLoad(record);
  const std::uint32_t saved = record->currentDir;
  ArchiveSearchKey key;
  int result = -1;
  if (HasSeparator(path, record->codePageKind)) {
    bool lastFailed = false;
    // The walk names a folder, or stops before the file: only a file as the last component counts.
    if (WalkArchiveDirs(record, path, &key, &lastFailed) != 0 && lastFailed)
      result = FindFileInCurrent(record, &key, entry);
  } else {
    MakeArchiveSearchName(&key, record, path, nullptr);
    result = FindFileInCurrent(record, &key, entry);
  }
  record->currentDir = saved;
  return result;
}

int GetArchiveFileLocation(ArchiveRecord* record, const char* path, std::uint32_t* position,
                           std::uint32_t* size) {
  ArchiveFileEntry entry;
  if (FindArchiveFileEntry(path, record, &entry) != 0) return -1;
  const std::uint64_t start = std::uint64_t{record->dataAreaOffset} + entry.dataOffset;
  if (start + entry.dataSize > record->imageSize) return -1;
  *position = static_cast<std::uint32_t>(start);
  *size = entry.dataSize;
  return 0;
}

int SplitArchivePath(const char* path, const ArchiveRecord* record, char* nameOut,
                     char* folderOut) {
  const char* last = nullptr;
  for (const char* p = path; *p; p = NextCharacter(p, record->codePageKind))
    if (IsSeparator(*p) || *p == ':') last = p;
  if (!last) {
    folderOut[0] = 0;
    std::strcpy(nameOut, path);
    return 0;
  }
  std::memcpy(folderOut, path, static_cast<std::size_t>(last - path));
  folderOut[last - path] = 0;
  std::strcpy(nameOut, last + 1);
  return 0;
}

int MatchArchiveWildcard(const char* name, const char* pattern, const ArchiveRecord* record) {
  return MatchFrom(name, pattern, record->codePageKind) ? 0 : -1;
}

namespace {

ArchiveFindState* StartArchiveFind(ArchiveRecord* record, std::uint32_t folder,
                                   const char* upperCasedName, FindResultRecord* result) {
  auto* state = static_cast<ArchiveFindState*>(TrackedAllocZeroed(sizeof(ArchiveFindState)));
  if (!state) return nullptr;
  state->archive = record;
  std::strcpy(state->pattern, upperCasedName);
  state->folder = folder;
  state->nextIndex = 0;
  if (FetchNextArchiveMatch(state, result) != 0) {
    TrackedFree(state);
    return nullptr;
  }
  return state;
}

}  // namespace

ArchiveFindState* BeginArchiveFind(ArchiveRecord* record, const char* pattern,
                                   FindResultRecord* result) {
  CompletePendingLoad(record);
  if (!pattern || std::strlen(pattern) >= sizeof(ArchiveFindState::pattern)) return nullptr;
  char name[sizeof(ArchiveFindState::pattern)];
  char folder[sizeof(ArchiveFindState::pattern)];
  SplitArchivePath(pattern, record, name, folder);
  UpperCaseForArchive(name, record->codePageKind);
  UpperCaseForArchive(folder, record->codePageKind);
  const std::uint32_t saved = record->currentDir;
  if (folder[0] && ChangeArchiveDir(record, folder, 1, nullptr) != 0) return nullptr;
  const std::uint32_t searched = record->currentDir;
  record->currentDir = saved;
  return StartArchiveFind(record, searched, name, result);
}

ArchiveFindState* BeginArchiveFolderFind(ArchiveRecord* record, const ArchiveFileEntry& folder,
                                         FindResultRecord* result) {
  CompletePendingLoad(record);
  ArchiveDirEntry dir;
  if (!IsFolder(folder) || !ReadDirEntry(record, folder.dataOffset, &dir)) return nullptr;
  return StartArchiveFind(record, folder.dataOffset, "*", result);
}

int FetchNextArchiveMatch(ArchiveFindState* state, FindResultRecord* result) {
  ArchiveRecord* record = state->archive;
  ArchiveDirEntry dir;
  if (!ReadDirEntry(record, state->folder, &dir)) return -1;
  const std::uint64_t candidates = std::uint64_t{dir.entryCount} + 2;
  while (state->nextIndex < candidates) {
    const std::uint32_t index = state->nextIndex++;
    if (index < 2) {
      if (index == 1 && dir.parentOffset == kArchiveNone) continue;
      const char* dots = index == 0 ? "." : "..";
      if (!MatchFrom(dots, state->pattern, record->codePageKind)) continue;
      if (result) {
        *result = FindResultRecord{};
        std::strcpy(result->name, dots);
        result->directory = 1;
      }
      return 0;
    }
    ArchiveFileEntry entry;
    ReadFileEntry(record, dir, index - 2, &entry);
    std::uint16_t units, checkSum;
    const std::uint8_t* form;
    const char* stored;
    if (!ReadNameEntry(record, entry.nameOffset, &units, &checkSum, &form, &stored)) continue;
    if (!MatchFrom(reinterpret_cast<const char*>(form), state->pattern, record->codePageKind))
      continue;
    if (result) {
      *result = FindResultRecord{};
      CopyStringMax(result->name, stored, sizeof(result->name) - 1);
      result->directory = IsFolder(entry) ? 1 : 0;
      result->sizeLow = entry.dataSize;
      ConvertFileTimeToDateRecord(&entry.creationTime, &result->creationTime);
      ConvertFileTimeToDateRecord(&entry.lastWriteTime, &result->lastWriteTime);
    }
    return 0;
  }
  return -1;
}

int GetArchiveFoundEntry(const ArchiveFindState* state, ArchiveFileEntry* entry,
                         const char** storedName, std::uint64_t* recordOffset) {
  ArchiveDirEntry dir;
  if (state->nextIndex < 3 || !ReadDirEntry(state->archive, state->folder, &dir)) return -1;
  const std::uint32_t index = state->nextIndex - 3;
  if (index >= dir.entryCount) return -1;
  ReadFileEntry(state->archive, dir, index, entry);
  if (recordOffset)
    *recordOffset = std::uint64_t{state->archive->fileTableOffset} + dir.firstEntryOffset +
                    std::uint64_t{index} * ArchiveFileEntrySize(state->archive->version);
  std::uint16_t units, checkSum;
  const std::uint8_t* form;
  return ReadNameEntry(state->archive, entry->nameOffset, &units, &checkSum, &form, storedName)
             ? 0
             : -1;
}

int EndArchiveFind(ArchiveFindState* state) {
  TrackedFree(state);
  return 0;
}
