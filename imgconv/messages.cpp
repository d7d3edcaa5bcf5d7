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

// The template with {line} and {fault} replaced.
std::string fill_in(const char* text, const RecordFaultReport& fault, const char* fault_text) {
  char number[24];
  std::snprintf(number, sizeof number, "%lu", fault.line);
  std::string out = text;
  for (const auto& field : {std::make_pair(std::string("{line}"), std::string(number)),
                            std::make_pair(std::string("{fault}"), std::string(fault_text))}) {
    std::size_t at = out.find(field.first);
    if (at != std::string::npos) out.replace(at, field.first.size(), field.second);
  }
  return out;
}

int fault_row(const RecordFaultReport& fault) {
  bool known = fault.fault > RECORD_FAULT_NONE && fault.fault <= RECORD_FAULT_TOO_LONG;
  return known ? ROW_RECORD_FAULT_BASE + fault.fault : -1;
}

}  // namespace

std::string record_fault_message(const RecordFaultReport& fault) {
  return fill_in(convert_message(ROW_RESULT_BASE + CONVERT_ERR_SOURCE_RECORD), fault,
                 convert_message(fault_row(fault)));
}

std::string record_fault_gloss(const RecordFaultReport& fault) {
  return fill_in(convert_gloss(ROW_RESULT_BASE + CONVERT_ERR_SOURCE_RECORD), fault,
                 convert_gloss(fault_row(fault)));
}

const char* convert_message(int row) { return kTexts[row]; }

const char* convert_gloss(int row) { return kGlosses[row]; }

}  // namespace imgconv
