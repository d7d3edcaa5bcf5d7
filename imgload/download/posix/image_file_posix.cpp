// The image-file seam on POSIX: image files opened read-only under a shared
// flock: a file another program holds locked for writing is refused,
// while the downloads of several ports read the same file side by side.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "imgload/download/image_file.h"

namespace imgload {

FileHandle open_image_file(const char* path, FileSharing) {
  if (path == nullptr) return INVALID_FILE;
  // Non-blocking, so that a FIFO without a writer does not hold the open; it
  // is refused below like every file that is not a regular one.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return INVALID_FILE;
  struct stat info {};
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || flock(fd, LOCK_SH | LOCK_NB) != 0) {
    close(fd);
    return INVALID_FILE;
  }
  return fd;
}

bool image_file_size(FileHandle file, std::uint64_t* size) {
  struct stat info {};
  if (file == INVALID_FILE || fstat(static_cast<int>(file), &info) != 0 || info.st_size < 0) {
    return false;
  }
  *size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

int read_image_file(FileHandle file, std::uint8_t* buffer, int count) {
  if (file == INVALID_FILE || count < 0) return -1;
  for (;;) {
    const ssize_t n = read(static_cast<int>(file), buffer, static_cast<std::size_t>(count));
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return -1;
  }
}

void close_image_file(FileHandle file) {
  if (file != INVALID_FILE) close(static_cast<int>(file));  // also releases the flock
}

std::string image_file_open_reason(const char* path, FileSharing) {
  struct stat info {};
  if (stat(path, &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0;
  close(fd);
  return held ? "locked by another program" : "cannot be read";
}

}  // namespace imgload
