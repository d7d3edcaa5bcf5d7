// Text from files and from the command line made safe to show: valid UTF-8
// in every JSON string, and no control character reaching a terminal raw
// (an image comment or a file name could otherwise retitle the window,
// clear the screen or move the cursor).
#pragma once

#include <cstddef>
#include <string>

namespace zp3k {

// True when text is well-formed UTF-8 (no overlong form, no surrogate, at
// most U+10FFFF).
bool valid_utf8(const std::string& text);

// A JSON string literal of text, quotes included. Control characters are
// escaped (\n, \r, \t, \" and \\ by name, the rest as \u00XX); every byte
// that is not part of well-formed UTF-8 becomes \ufffd, so the literal is
// valid JSON for a strict reader whatever the bytes were.
std::string json_string(const std::string& text);

// The bytes as lower-case hexadecimal digits, two per byte: a name's exact
// bytes where json_string had to replace some.
std::string hex_bytes(const std::string& text);

// text as a terminal may show it: C0 controls, DEL, C1 controls (U+0080 to
// U+009F) and bytes that are not well-formed UTF-8 are written as \xHH
// (ESC as \x1b), one per byte; every other character, backslashes included,
// stays as it is.
std::string terminal_text(const std::string& text);

}  // namespace zp3k
