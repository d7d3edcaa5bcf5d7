// The converter's command-line reader: up to four "-X value" words into the option slots.
#include "imgconv/command_line.h"

#include <cstring>

namespace imgconv {
namespace {

constexpr int COMPLETE_WORDS = 4;  // words of a complete command line
constexpr char SEPARATOR = ' ';    // only the space separates; tabs belong to the value

}  // namespace

int option_slot(char letter) {
  switch (letter) {
    case 'S': return SLOT_SOURCE;
    case 'D': return SLOT_DEST;
    case 'V': return SLOT_VERSION;
    case 'C': return SLOT_COMMENT;
    default: return -1;
  }
}

int parse_command_line(const char* command_line, CommandLineSlots* slots) {
  std::memset(slots, 0, sizeof *slots);
  // The command-line copy holds at most COMMAND_LINE_SIZE - 1 bytes; the rest is cut.
  char copy[COMMAND_LINE_SIZE];
  std::size_t length = 0;
  while (length < COMMAND_LINE_SIZE - 1 && command_line[length] != '\0') ++length;
  std::memcpy(copy, command_line, length);
  copy[length] = '\0';
  if (length == 0) return 0;

  bool seen[4] = {false, false, false, false};
  char* slot = nullptr;
  bool in_value = false;
  int words = 0;
  std::size_t position = 0;

  for (std::size_t i = 0; i < length; ++i) {
    char c = copy[i];
    if (c == SEPARATOR) {
      if (words >= COMPLETE_WORDS) break;
      ++words;
      in_value = false;
      position = 0;
    } else if (in_value) {
      // A slot holds as much as the copy; the copy is no longer than that.
      slot[position++] = c;
      if (words == COMPLETE_WORDS - 1) words = COMPLETE_WORDS;
    } else {
      if (c != '-') return 0;
      int index = i + 1 < length ? option_slot(copy[i + 1]) : -1;
      if (index < 0 || seen[index]) return 0;
      seen[index] = true;
      slot = slots->value[index];
      in_value = true;
      ++i;  // scanning continues after the option letter
    }
  }
  if (words == 0 && in_value) words = 1;
  return words;
}

}  // namespace imgconv
