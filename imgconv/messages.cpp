// The converter's message table and the message of a corrupt record.
#include "imgconv/messages.h"

#include <cstdio>
#include <utility>

#include "image/text_table.h"

namespace imgconv {
namespace {

#define MESSAGE_TABLE_FILE "imgconv_messages.inc"
#define MESSAGE_TABLE_ROWS CONVERT_MESSAGE_COUNT
#include "image/message_tables.h"

// The corrupt-record row of a table (texts or glosses) with {line} and
// {fault} replaced; a fault outside the table reads as "".
std::string fill_in(const RecordFaultReport& fault, const char* (*row_text)(int row)) {
  char number[24];
  std::snprintf(number, sizeof number, "%lu", fault.line);
  const bool known = fault.fault > RECORD_FAULT_NONE && fault.fault <= RECORD_FAULT_TOO_LONG;
  const std::pair<std::string, std::string> fields[] = {
      {"{line}", number}, {"{fault}", row_text(known ? ROW_RECORD_FAULT_BASE + fault.fault : -1)}};
  std::string out = row_text(ROW_RESULT_BASE + CONVERT_ERR_SOURCE_RECORD);
  for (const auto& field : fields) {
    std::size_t at = out.find(field.first);
    if (at != std::string::npos) out.replace(at, field.first.size(), field.second);
  }
  return out;
}

}  // namespace

std::string record_fault_message(const RecordFaultReport& fault) { return fill_in(fault, convert_message); }

std::string record_fault_gloss(const RecordFaultReport& fault) { return fill_in(fault, convert_gloss); }

const char* convert_message(int row) { return kTexts[row]; }

const char* convert_gloss(int row) { return kGlosses[row]; }

}  // namespace imgconv
