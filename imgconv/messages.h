// The converter's message table (rows 0..18), compiled from resources/ in
// UTF-8 by both builds.
#pragma once

namespace imgconv {

constexpr int CONVERT_MESSAGE_COUNT = 19;
constexpr int ROW_TITLE = 0;
constexpr int ROW_OVERWRITE_QUESTION = 10;
constexpr int ROW_RESULT_BASE = 11;  // the message of result k (1..7) is row 11 + k

const char* convert_message(int row);
const char* convert_gloss(int row);  // English gloss (ASCII)

}  // namespace imgconv
