// The operator's lines on POSIX: standard input read with read(2), so that a
// thread waiting for the keyboard holds no lock of the C library's streams.
#include <unistd.h>

#include <cerrno>

#include "imgload/cli/operator_input.h"

namespace imgload {

bool read_input_line(std::string* line) {
  static std::string pending;  // read past the last line end; one reader only
  for (;;) {
    const std::size_t end = pending.find('\n');
    if (end != std::string::npos) {
      *line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    char buffer[256];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {  // the end: a last line without its line end still counts
      if (pending.empty()) return false;
      *line = pending;
      pending.clear();
      return true;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace imgload
