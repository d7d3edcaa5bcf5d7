// The converter's command-line reader: -S source, -D destination, -V version,
// -C comment; 4 means complete (the dialog converts at once).
#pragma once

#include "image/paths.h"

namespace imgconv {

// The reader takes as many characters of a command line as a path may hold
// (the Windows front end cuts it there in UTF-16 units); in UTF-8 they take
// at most 3 bytes each.
constexpr int COMMAND_LINE_UNITS = zp3k::PATH_LIMIT;
constexpr int COMMAND_LINE_SIZE = 3 * COMMAND_LINE_UNITS + 1;  // bytes, NUL included

enum OptionSlot { SLOT_SOURCE = 0, SLOT_DEST = 1, SLOT_VERSION = 2, SLOT_COMMENT = 3 };

struct CommandLineSlots {
  char value[4][COMMAND_LINE_SIZE];
};

// The slot of an option letter ('S', 'D', 'V', 'C', upper case only), or -1.
int option_slot(char letter);

// Fills the slots from a command line (without the program name) and returns
// 0 to 4. A command line or value longer than COMMAND_LINE_SIZE - 1 bytes is cut.
int parse_command_line(const char* command_line, CommandLineSlots* slots);

}  // namespace imgconv
