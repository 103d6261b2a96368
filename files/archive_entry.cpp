// Files inside an archive: opening (a packed file is unpacked at once), reading, seeking and the
// reads that finish in the background. Every entry of a streamed archive shares the archive's
// file record; its lock keeps one entry's seek, read and descrambling together.
#include <cstring>

#include "files/archive.h"
#include "files/lz_decoder.h"
#include "files/win32_file.h"
#include "system/tracked_memory.h"

namespace {

Win32FileRecord* FileRecordOf(const ArchiveEntryStream* stream) {
  return reinterpret_cast<Win32FileRecord*>(stream->archive->file);
}

std::uint64_t EntryStart(const ArchiveEntryStream* stream) {
  return std::uint64_t{stream->archive->dataAreaOffset} + stream->entry.dataOffset;
}

bool IsPacked(const ArchiveRecord* record, const ArchiveFileEntry& entry) {
  return record->version >= 2 && entry.packedSize != kArchivePlain;
}

// An entry's sizes must be ones an LZ block can have before anything is sized from them: a
// damaged record claiming 2 GiB behind a few packed bytes costs nothing.
bool PackedSizesPossible(const ArchiveFileEntry& entry) {
  return entry.packedSize >= kLZBlockHeaderSize &&
         entry.dataSize <= MaxLZUnpackedSize(entry.packedSize);
}

// The archive requires the block's own sizes to agree with the entry's; only then is the buffer
// for the unpacked bytes made.
bool UnpackEntry(ArchiveEntryStream* stream, const std::uint8_t* block, std::uint32_t blockSize) {
  LZBlockHeader header;
  if (ReadLZBlockHeader(block, blockSize, &header) != 0 ||
      header.packedSize != stream->entry.packedSize ||
      header.unpackedSize != stream->entry.dataSize)
    return false;
  const std::uint32_t size = stream->entry.dataSize;
  stream->unpacked = static_cast<std::uint8_t*>(TrackedAlloc(size ? size : 1));
  if (!stream->unpacked) return false;
  return UnpackLZBlock(block, blockSize, stream->unpacked, size) == static_cast<std::int64_t>(size);
}

void WaitForPendingRead(ArchiveEntryStream* stream) {
  while (!PollArchiveEntryRead(stream)) Sleep(1);
}

void MoveArchiveFileTo(FileHandle file, std::uint64_t offset) {
  if (static_cast<std::uint64_t>(Win32FileTell(file)) != offset)
    Win32FileSeek(file, static_cast<std::int32_t>(offset), 0);
}

}  // namespace

int OpenArchiveEntry(ArchiveEntryStream* stream, ArchiveRecord* record, const char* path,
                     int noWait) {
  *stream = ArchiveEntryStream{};
  ArchiveFileEntry entry;
  if (FindArchiveFileEntry(path, record, &entry) != 0) return -1;
  return OpenArchiveEntryOf(stream, record, entry, noWait);
}

int OpenArchiveEntryOf(ArchiveEntryStream* stream, ArchiveRecord* record,
                       const ArchiveFileEntry& entry, int noWait) {
  *stream = ArchiveEntryStream{};
  if (entry.attributes & 0x10) return -1;
  const bool packed = IsPacked(record, entry);
  const std::uint64_t stored = packed ? entry.packedSize : entry.dataSize;
  const std::uint64_t start = std::uint64_t{record->dataAreaOffset} + entry.dataOffset;
  if (start + stored > record->imageSize || entry.dataSize > 0x7FFFFFFF) return -1;
  if (packed && !PackedSizesPossible(entry)) return -1;
  stream->archive = record;
  stream->entry = entry;
  stream->noWait = noWait ? 1 : 0;
  if (!packed) return 0;

  if (record->inMemory) {
    if (!UnpackEntry(stream, record->image + start, entry.packedSize)) {
      CloseArchiveEntry(stream);
      return -1;
    }
    return 0;
  }
  // The packed bytes lie inside the archive file (checked above), so this is bounded by its size.
  stream->packedPending = static_cast<std::uint8_t*>(TrackedAlloc(entry.packedSize));
  if (!stream->packedPending) {
    CloseArchiveEntry(stream);
    return -1;
  }
  Win32FileRecord* file = FileRecordOf(stream);
  EnterCriticalSection(&file->lock);
  MoveArchiveFileTo(record->file, start);
  if (noWait) {
    // The lock stays held until PollArchiveEntryRead has the bytes.
    Win32FileRead(stream->packedPending, 1, entry.packedSize, record->file);
    stream->pendingState = 1;
    stream->pendingOffset = static_cast<std::uint32_t>(start);
    return 0;
  }
  const std::uint32_t read = ReadArchiveBytes(static_cast<std::int64_t>(start), record->file,
                                              stream->packedPending, entry.packedSize, record->key);
  LeaveCriticalSection(&file->lock);
  const bool unpackedOk =
      read == entry.packedSize && UnpackEntry(stream, stream->packedPending, entry.packedSize);
  TrackedFree(stream->packedPending);
  stream->packedPending = nullptr;
  if (!unpackedOk) {
    CloseArchiveEntry(stream);
    return -1;
  }
  return 0;
}

std::uint32_t ReadArchiveEntry(ArchiveEntryStream* stream, void* buffer, std::uint32_t byteCount) {
  WaitForPendingRead(stream);
  if (stream->endFlag) return 0;
  const std::uint32_t size = stream->entry.dataSize;
  if (static_cast<std::uint32_t>(stream->position) >= size) {
    stream->endFlag = 1;
    return 0;
  }
  std::uint32_t n = byteCount;
  if (n > size - static_cast<std::uint32_t>(stream->position))
    n = size - static_cast<std::uint32_t>(stream->position);
  ArchiveRecord* record = stream->archive;
  if (stream->unpacked) {
    std::memcpy(buffer, stream->unpacked + stream->position, n);
  } else if (record->inMemory) {
    std::memcpy(buffer, record->image + EntryStart(stream) + stream->position, n);
  } else {
    Win32FileRecord* file = FileRecordOf(stream);
    const std::uint64_t offset = EntryStart(stream) + static_cast<std::uint64_t>(stream->position);
    EnterCriticalSection(&file->lock);
    MoveArchiveFileTo(record->file, offset);
    if (stream->noWait) {
      Win32FileRead(buffer, 1, n, record->file);
      stream->pendingState = 2;
      stream->pendingOffset = static_cast<std::uint32_t>(offset);
      stream->pendingDestination = static_cast<std::uint8_t*>(buffer);
      stream->pendingLength = n;
    } else {
      // What the file gave is what the caller gets: a short read is reported as such.
      n = ReadArchiveBytes(static_cast<std::int64_t>(offset), record->file, buffer, n, record->key);
      LeaveCriticalSection(&file->lock);
    }
  }
  stream->position += static_cast<std::int32_t>(n);
  stream->endFlag = 0;
  return n;
}

int SeekArchiveEntry(ArchiveEntryStream* stream, std::int32_t offset, int origin) {
  WaitForPendingRead(stream);
  const std::int64_t size = stream->entry.dataSize;
  std::int64_t position = origin == 1   ? std::int64_t{stream->position} + offset
                          : origin == 2 ? size + offset
                                        : std::int64_t{offset};
  if (position < 0) position = 0;
  if (position > size) position = size;
  stream->position = static_cast<std::int32_t>(position);
  stream->endFlag = 0;
  return 0;
}

std::int32_t TellArchiveEntry(ArchiveEntryStream* stream) {
  WaitForPendingRead(stream);
  return stream->position;
}

int EofArchiveEntry(ArchiveEntryStream* stream) {
  WaitForPendingRead(stream);
  return stream->endFlag ? -1 : 0;
}

int PollArchiveEntryRead(ArchiveEntryStream* stream) {
  if (stream->pendingState == 0) return 1;
  ArchiveRecord* record = stream->archive;
  if (!Win32FileIdleCheck(record->file)) return 0;
  const std::int32_t end = Win32FileTell(record->file);
  const std::uint32_t read = end > static_cast<std::int32_t>(stream->pendingOffset)
                                 ? static_cast<std::uint32_t>(end) - stream->pendingOffset
                                 : 0;
  if (stream->pendingState == 1) {
    DescrambleArchiveBytes(read, stream->packedPending, stream->pendingOffset, record->key);
    // A block that does not unpack leaves an empty file rather than wrong bytes.
    if (read != stream->entry.packedSize ||
        !UnpackEntry(stream, stream->packedPending, stream->entry.packedSize)) {
      TrackedFree(stream->unpacked);
      stream->unpacked = nullptr;
      stream->entry.dataSize = 0;
    }
    TrackedFree(stream->packedPending);
    stream->packedPending = nullptr;
  } else {
    DescrambleArchiveBytes(read, stream->pendingDestination, stream->pendingOffset, record->key);
    if (read < stream->pendingLength)
      stream->position -= static_cast<std::int32_t>(stream->pendingLength - read);
  }
  stream->pendingState = 0;
  LeaveCriticalSection(&FileRecordOf(stream)->lock);
  return 1;
}

int CloseArchiveEntry(ArchiveEntryStream* stream) {
  WaitForPendingRead(stream);
  TrackedFree(stream->unpacked);
  TrackedFree(stream->packedPending);
  *stream = ArchiveEntryStream{};
  return 0;
}
