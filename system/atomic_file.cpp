// Whole-file writes through a synced temporary file and a rename.
#include "system/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// Makes the folder's record of the rename durable. File systems that cannot sync a folder say
// so with EINVAL; the rename is then as durable as that file system makes it.
bool SyncFolderOf(const std::string& path) {
  const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0 || errno == EINVAL;
  const int savedErrno = errno;
  close(fd);
  errno = savedErrno;
  return synced;
}

constexpr std::string_view kTemporaryMark = ".tmp";
constexpr std::size_t kTemporaryLetters = 6;  // mkostemp's XXXXXX

// What a temporary's name starts with: the file's own name, shortened where needed so that the
// whole stays within the file system's limit on one name. Without that a file whose name is near
// the limit could never be written.
std::string_view TemporaryStemOf(std::string_view name) {
  constexpr std::size_t kLongest = NAME_MAX - kTemporaryMark.size() - kTemporaryLetters;
  return name.substr(0, std::min(name.size(), kLongest));
}

std::string_view NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string_view(path)
                                    : std::string_view(path).substr(slash + 1);
}

// The stem, ".tmp" and six letters or digits: the name mkostemp gives a temporary of the file.
bool IsTemporaryOf(std::string_view candidate, std::string_view name) {
  const std::string_view stem = TemporaryStemOf(name);
  if (candidate.size() != stem.size() + kTemporaryMark.size() + kTemporaryLetters) return false;
  if (candidate.substr(0, stem.size()) != stem) return false;
  if (candidate.substr(stem.size(), kTemporaryMark.size()) != kTemporaryMark) return false;
  for (const char c : candidate.substr(stem.size() + kTemporaryMark.size()))
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string TemporaryNameFor(const std::string& path) {
  const std::string_view name = NameOf(path);
  return path.substr(0, path.size() - name.size()) + std::string(TemporaryStemOf(name)) +
         std::string(kTemporaryMark) + "XXXXXX";
}

// A write ended by a kill leaves its temporary behind; the next write to the same file removes
// such leftovers, and only those of that file. A writer holds its temporary locked until it is
// renamed, so one still being written (by another process) is left alone.
void RemoveStaleTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string_view name = NameOf(path);
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  const int dirFd = dirfd(dir);
  while (const dirent* entry = readdir(dir)) {
    if (!IsTemporaryOf(entry->d_name, name)) continue;
    const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0)
      unlinkat(dirFd, entry->d_name, 0);
    close(fd);
  }
  closedir(dir);
}

}  // namespace

int WriteFileAtomically(const char* path, std::span<const std::uint8_t> bytes) {
  RemoveStaleTemporaries(path);
  std::string temporary = TemporaryNameFor(path);
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  flock(fd, LOCK_EX | LOCK_NB);
  // The new file keeps the permissions of the one it replaces; a new one is readable by all.
  struct stat previous;
  const mode_t mode = stat(path, &previous) == 0 ? (previous.st_mode & 07777) : 0644;
  bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
  int savedErrno = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && std::rename(temporary.c_str(), path) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    std::remove(temporary.c_str());
    errno = savedErrno;
    return -1;
  }
  return SyncFolderOf(path) ? 0 : -1;
}
