// Reading a file for --info on POSIX: opened without waiting and refused at
// once unless it is a regular file (a FIFO, device or directory is no image).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "imgconv/cli/image_info.h"

namespace imgconv {

bool read_regular_file(const char* path, std::vector<std::uint8_t>* data) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  std::size_t size = 0;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  while (ok && size < data->size()) {
    const ssize_t n = read(fd, data->data() + size, data->size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  close(fd);
  data->resize(size);
  return ok;
}

}  // namespace imgconv
