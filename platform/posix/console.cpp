// The console on POSIX: the words arrive as the user's locale wrote them
// (UTF-8), the terminal takes UTF-8 and escape sequences as it is.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/console.h"

namespace zp3k {

CommandWords::CommandWords(int argc, char** argv) : words_(argv, argv + argc) {
  for (std::string& w : words_) pointers_.push_back(&w[0]);
  pointers_.push_back(nullptr);
}

// Output that nobody reads (a closed pipe) fails quietly: a download or a
// conversion goes on to its end instead of being killed half-way.
void prepare_console() { signal(SIGPIPE, SIG_IGN); }

bool console_shows_bar() { return isatty(STDOUT_FILENO) != 0; }

// The same device behind both descriptors: the same terminal.
bool streams_share_console() {
  struct stat out {};
  struct stat err {};
  return isatty(STDOUT_FILENO) != 0 && isatty(STDERR_FILENO) != 0 &&
         fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0 &&
         out.st_rdev == err.st_rdev;
}

void finish_console() {}

}  // namespace zp3k
