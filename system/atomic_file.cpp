// Whole-file writes through a synced temporary file and a rename.
#include "system/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

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

// Makes the folder's record of the rename durable. File systems that cannot sync a folder say
// so with EINVAL; the rename is then as durable as that file system makes it.
bool SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0 || errno == EINVAL;
  const int savedErrno = errno;
  close(fd);
  errno = savedErrno;
  return synced;
}

// The temporary file's name: the file's own name with ".tmpXXXXXX" after it, the name shortened
// where needed so that the whole stays within the file system's limit on one name. Without that a
// file whose name is near the limit could never be written.
std::string TemporaryNameFor(const std::string& path) {
  constexpr std::size_t kSuffixLength = sizeof(".tmpXXXXXX") - 1;
  const std::size_t slash = path.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string temporary = path;
  if (temporary.size() - nameStart > NAME_MAX - kSuffixLength)
    temporary.resize(nameStart + NAME_MAX - kSuffixLength);
  return temporary + ".tmpXXXXXX";
}

}  // namespace

int WriteFileAtomically(const char* path, std::span<const std::uint8_t> bytes) {
  std::string temporary = TemporaryNameFor(path);
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return -1;
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
