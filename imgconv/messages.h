// The converter's message table (rows 0..25), compiled from resources/ in
// UTF-8 by both builds, and the message of a corrupt record made from it.
#pragma once

#include <string>

#include "imgconv/convert.h"

namespace imgconv {

constexpr int CONVERT_MESSAGE_COUNT = 26;
constexpr int ROW_TITLE = 0;
constexpr int ROW_OVERWRITE_QUESTION = 10;
constexpr int ROW_RESULT_BASE = 11;  // the message of result k (1..8) is row 11 + k
constexpr int ROW_RECORD_FAULT_BASE = 19;  // the text of fault f (1..6) is row 19 + f

const char* convert_message(int row);
const char* convert_gloss(int row);  // English gloss (ASCII)

// Row 19 with the line number and the fault's text filled in, in Japanese or
// as the English gloss.
std::string record_fault_message(const RecordFaultReport& fault);
std::string record_fault_gloss(const RecordFaultReport& fault);

}  // namespace imgconv
