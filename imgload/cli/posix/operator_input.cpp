// The operator's lines on POSIX: standard input read with read(2), so that a
// thread waiting for the keyboard holds no lock of the C library's streams.
#include <unistd.h>

#include <cerrno>

#include "imgload/cli/operator_input.h"

namespace imgload {

bool read_more_input(std::string* pending) {
  for (;;) {
    char buffer[256];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    pending->append(buffer, static_cast<std::size_t>(n));
    return true;
  }
}

}  // namespace imgload
