// The production log's file and host name on POSIX: O_APPEND, one write, gethostname.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "imgload/cli/production_log.h"

namespace imgload {

bool append_to_log(const std::string& path, const std::string& text) {
  // O_APPEND puts every write at the end as one step, so lines of several
  // processes on one log never overwrite or split each other.
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ssize_t written = 0;
  do {
    written = text.empty() ? 0 : write(fd, text.data(), text.size());
  } while (written < 0 && errno == EINTR);
  const bool closed = close(fd) == 0;
  return closed && static_cast<std::size_t>(written) == text.size();
}

std::string host_name() {
  char name[256] = {};  // bytes: more than HOST_NAME_MAX (64 on Linux)
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

}  // namespace imgload
