// The console of both command-line programs: the command line's words in
// UTF-8, UTF-8 output, and whether standard output can show a progress bar.
// One implementation per platform (posix/ or win32/).
#pragma once

#include <string>
#include <vector>

namespace zp3k {

// The words of the command line as UTF-8, with an argv-style array over
// them: on POSIX the words as given; on Windows read from the wide command
// line, so that a file name outside the ANSI code page arrives whole.
class CommandWords {
 public:
  CommandWords(int argc, char** argv);
  int argc() const { return static_cast<int>(words_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;  // into words_, then a null pointer
};

// Makes a console on standard output or error show the program's UTF-8
// and, where it can, the escape sequences of the progress bar (Windows);
// makes output to a closed pipe fail quietly instead of ending the program
// (POSIX). Called once, first thing in main.
void prepare_console();

// True when standard output is a terminal that shows the progress bar's
// escape sequences (else the line view is used).
bool console_shows_bar();

// True when standard output and error are one terminal (or console): their
// lines then go out in one order, through standard output.
bool streams_share_console();

// Shows all that was written before the process ends at once (Windows: the
// console relays are drained); nothing to do on POSIX.
void finish_console();

}  // namespace zp3k
