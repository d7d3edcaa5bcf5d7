// The downloader's message table, compiled from resources/ in UTF-8 by both
// builds, and the port and speed lists of its dialogs.
#include "imgload/download/messages.h"

#include "image/text_table.h"

namespace imgload {
namespace {

#define TEXT(text) text "\0"
constexpr auto kDialogTexts = zp3k::make_text_table<DIALOG_TEXT_COUNT>(
#include "imgload_texts.inc"
);
#undef TEXT

#define MESSAGE_TABLE_FILE "imgload_messages.inc"
#define MESSAGE_TABLE_ROWS MESSAGE_COUNT
#include "image/message_tables.h"

}  // namespace

const char PORT_NAMES[5][5] = {"COM0", "COM1", "COM2", "COM3", "COM4"};

const char* dialog_text(int row) { return kDialogTexts[row]; }

const char* message_text(int row) { return kTexts[row]; }

const char* message_gloss(int row) { return kGlosses[row]; }

}  // namespace imgload
