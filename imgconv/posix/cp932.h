// Text conversion of the POSIX front end between UTF-8 (the terminal) and cp932 (the image).
#pragma once

#include <string>

namespace imgconv {

// A line feed not preceded by a carriage return becomes CR LF, as the
// Windows comment field stores a line break.
std::string to_crlf(const std::string& text);

enum class TextError { NONE, NOT_UTF8, NOT_CP932 };

// UTF-8 to cp932, refusing (never replacing) what cannot be converted: text
// that is not valid UTF-8, or a character that cp932 cannot represent. *bad
// then holds that character (or the bad bytes as \xNN) for the message.
TextError utf8_to_cp932(const std::string& utf8, std::string* cp932, std::string* bad);

// cp932 to UTF-8 for display; a byte sequence that is not cp932 is shown as \xNN.
std::string cp932_to_utf8(const std::string& cp932);

}  // namespace imgconv
