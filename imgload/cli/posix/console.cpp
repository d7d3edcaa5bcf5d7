// The console on POSIX: the words arrive as the user's locale wrote them
// (UTF-8), the terminal takes UTF-8 and escape sequences as it is.
#include <signal.h>
#include <unistd.h>

#include "imgload/cli/console.h"

namespace zp3k {

CommandWords::CommandWords(int argc, char** argv) : words_(argv, argv + argc) {
  for (std::string& w : words_) pointers_.push_back(&w[0]);
  pointers_.push_back(nullptr);
}

// Output that nobody reads (a closed pipe) fails quietly: a download or a
// conversion goes on to its end instead of being killed half-way.
void prepare_console() { signal(SIGPIPE, SIG_IGN); }

bool console_shows_bar() { return isatty(STDOUT_FILENO) != 0; }

void finish_console() {}

}  // namespace zp3k
