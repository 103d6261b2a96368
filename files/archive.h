// KVA archives: one scrambled file holding a folder tree (header, head block with the name, file
// and directory tables, data area with each file plain or as an LZ block). The reader opens an
// archive from its file (only the head block stays in memory) or from an image in memory, finds
// files and folders by path, reads files through entry streams and searches folders.
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/file_table.h"
#include "platform/win32/file.h"

constexpr std::size_t kArchiveKeySize = 12;
constexpr std::size_t kArchiveHeaderSize = 24;  // 28 from version 4
constexpr std::size_t kArchiveDirEntrySize = 16;
constexpr std::uint32_t kArchivePlain = 0xFFFFFFFF;  // packed size of an entry stored plain
constexpr std::uint32_t kArchiveNone = 0xFFFFFFFF;   // parent of the root
constexpr std::uint16_t kArchiveNewestVersion = 4;
constexpr std::size_t kArchiveSearchFormMax = 1024;

inline std::uint32_t ArchiveFileEntrySize(std::uint16_t version) { return version >= 2 ? 44 : 40; }

// One file table entry, read field by field from the head block.
struct ArchiveFileEntry {
  std::uint32_t nameOffset;
  std::uint32_t attributes;  // 0x10: folder
  FILETIME creationTime;
  FILETIME unusedTime;
  FILETIME lastWriteTime;
  std::uint32_t dataOffset;  // file: from the data area; folder: its directory record
  std::uint32_t dataSize;
  std::uint32_t packedSize;  // kArchivePlain, or the LZ block's size
};

struct ArchiveDirEntry {
  std::uint32_t unused;
  std::uint32_t parentOffset;  // kArchiveNone for the root
  std::uint32_t entryCount;
  std::uint32_t firstEntryOffset;  // in the file table
};

struct ArchiveRecord {
  std::uint16_t version;
  std::uint32_t headBlockSize;
  std::uint32_t dataAreaOffset;
  std::uint32_t headBlockOffset;
  std::uint32_t fileTableOffset;  // from the head block's start
  std::uint32_t dirTableOffset;   // from the head block's start
  std::uint32_t codePage;
  std::int32_t codePageKind;
  std::uint8_t* image;  // the whole archive in memory, descrambled; or null
  FileHandle file;      // the archive file's Win32FileRecord when streamed
  std::uint8_t* headBlock;
  std::uint32_t currentDir;  // offset of the current folder's record in the directory table
  std::uint8_t key[kArchiveKeySize];
  std::int32_t inMemory;
  std::int32_t callerOwnsImage;
  std::uint32_t imageSize;   // the archive's size in bytes, in memory or on disk
  std::int32_t pendingLoad;  // a whole-file read still running
  FileHandle pendingFile;
};

struct ArchiveSearchKey {
  std::uint8_t form[kArchiveSearchFormMax];
  std::uint16_t checkSum;
  std::uint16_t units;
};

struct ArchiveEntryStream {
  ArchiveRecord* archive;
  ArchiveFileEntry entry;
  std::uint8_t* unpacked;  // a packed file's bytes, or null
  std::uint8_t* packedPending;
  std::int32_t endFlag;
  std::int32_t position;
  std::int32_t noWait;
  std::int32_t pendingState;  // 0 none, 1 packed bytes being read, 2 plain bytes being read
  std::uint32_t pendingOffset;
  std::uint8_t* pendingDestination;
  std::uint32_t pendingLength;
};

struct ArchiveFindState {
  ArchiveRecord* archive;
  char pattern[260];  // upper-cased
  std::uint32_t folder;
  std::uint32_t nextIndex;  // 0 ".", 1 "..", then the folder's entries
};

int ClearArchiveRecord(ArchiveRecord* record);
int OpenArchiveStreamed(ArchiveRecord* record, const char* path, const char* keyString);
// The image is descrambled in place and stays the caller's; releasing scrambles it again.
int OpenArchiveImage(ArchiveRecord* record, void* image, std::uint32_t imageSize,
                     const char* keyString);
int LoadArchiveImageFromFile(ArchiveRecord* record, const char* path, const char* keyString,
                             int noWait);
int FinishArchiveImageLoad(ArchiveRecord* record);
int ReleaseArchiveRecord(ArchiveRecord* record);
int CloseArchiveAndClear(ArchiveRecord* record);
std::uint8_t* GetArchiveImagePointer(ArchiveRecord* record);

// The byte length of the component at the start of text; its key goes to key.
int MakeArchiveSearchName(ArchiveSearchKey* key, const ArchiveRecord* record, const char* text,
                          int* byteCount);
int EnterArchiveSubdir(ArchiveRecord* record, const ArchiveSearchKey* key);
int ChangeArchiveDir(ArchiveRecord* record, const char* path, int restore,
                     ArchiveSearchKey* keyOut);
// 0 with the entry of a file (never a folder), or -1; the current folder is unchanged.
int FindArchiveFileEntry(const char* path, ArchiveRecord* record, ArchiveFileEntry* entry);
int GetArchiveFileLocation(ArchiveRecord* record, const char* path, std::uint32_t* position,
                           std::uint32_t* size);
int SplitArchivePath(const char* path, const ArchiveRecord* record, char* nameOut, char* folderOut);
int MatchArchiveWildcard(const char* name, const char* pattern, const ArchiveRecord* record);

int OpenArchiveEntry(ArchiveEntryStream* stream, ArchiveRecord* record, const char* path,
                     int noWait);
// Opens the entry itself rather than the first one its name finds: a tool walking an archive
// reads each entry it meets, even where two share a name.
int OpenArchiveEntryOf(ArchiveEntryStream* stream, ArchiveRecord* record,
                       const ArchiveFileEntry& entry, int noWait);
std::uint32_t ReadArchiveEntry(ArchiveEntryStream* stream, void* buffer, std::uint32_t byteCount);
int SeekArchiveEntry(ArchiveEntryStream* stream, std::int32_t offset, int origin);
std::int32_t TellArchiveEntry(ArchiveEntryStream* stream);
int EofArchiveEntry(ArchiveEntryStream* stream);
int PollArchiveEntryRead(ArchiveEntryStream* stream);
int CloseArchiveEntry(ArchiveEntryStream* stream);

// Null when the folder is missing or nothing matches; the state is tracked memory.
ArchiveFindState* BeginArchiveFind(ArchiveRecord* record, const char* pattern,
                                   FindResultRecord* result);
int FetchNextArchiveMatch(ArchiveFindState* state, FindResultRecord* result);
int EndArchiveFind(ArchiveFindState* state);
// Every entry of the folder that `folder` (a folder's own entry) names, found by its record
// rather than by its name. Null when the entry is no folder of this archive.
ArchiveFindState* BeginArchiveFolderFind(ArchiveRecord* record, const ArchiveFileEntry& folder,
                                         FindResultRecord* result);
// The entry of the last match found and its whole stored name (a find result holds at most 259
// bytes of it): 0, or -1 for "." and "..". recordOffset, when given, receives the record's offset
// in the head block, which tells two listings of one record apart.
int GetArchiveFoundEntry(const ArchiveFindState* state, ArchiveFileEntry* entry,
                         const char** storedName, std::uint64_t* recordOffset = nullptr);

// The key: with a key string its bytes repeated to 12, else the engine's fill; then the engine's
// transform. The fallback key is tried when an archive's signature does not come out.
int DeriveArchiveKey(const char* keyString, std::uint8_t* key);
void GetArchiveFallbackKey(std::uint8_t* key);
std::size_t DescrambleArchiveBytes(std::size_t byteCount, void* buffer, std::uint64_t fileOffset,
                                   const std::uint8_t* key);
std::uint32_t ReadArchiveBytes(std::int64_t fileOffset, FileHandle file, void* buffer,
                               std::uint32_t byteCount, const std::uint8_t* key);

// The code page kind of a version 4 archive's code page (0 for any other).
int ArchiveCodePageKind(std::uint32_t codePage);
// The search form of a name under a code page kind: single-byte a-z upper-cased.
void MakeArchiveSearchForm(const char* name, std::size_t length, int kind, std::uint8_t* form);
