// The console on POSIX: the words arrive as the user's locale wrote them
// (UTF-8), the terminal takes UTF-8 and escape sequences as it is.
#include <unistd.h>

#include "imgload/cli/console.h"

namespace zp3k {

CommandWords::CommandWords(int argc, char** argv) : words_(argv, argv + argc) {
  for (std::string& w : words_) pointers_.push_back(&w[0]);
  pointers_.push_back(nullptr);
}

void prepare_console() {}

bool console_shows_bar() { return isatty(STDOUT_FILENO) != 0; }

}  // namespace zp3k
