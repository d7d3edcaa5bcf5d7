// The downloader's message table, compiled from resources/ in the build's
// code page (UTF-8 on POSIX, cp932 for Windows).
#include "imgload/download/messages.h"

namespace imgload {
namespace {

#define TEXT(text) text,
const char* const kDialogTexts[DIALOG_TEXT_COUNT] = {
#include "imgload_texts.inc"
};
#undef TEXT

#define MSG(text, gloss) text,
const char* const kMessages[MESSAGE_COUNT] = {
#include "imgload_messages.inc"
};
#undef MSG

#define MSG(text, gloss) gloss,
const char* const kGlosses[MESSAGE_COUNT] = {
#include "imgload_messages.inc"
};
#undef MSG

}  // namespace

const char* const PORT_NAMES[5] = {"COM0", "COM1", "COM2", "COM3", "COM4"};
const char* const SPEED_TEXTS[5] = {"9600", "19200", "38400", "57600", "115200"};

const char* dialog_text(int row) {
  return (row >= 0 && row < DIALOG_TEXT_COUNT) ? kDialogTexts[row] : "";
}

const char* message_text(int row) {
  return (row >= 0 && row < MESSAGE_COUNT) ? kMessages[row] : "";
}

const char* message_gloss(int row) {
  return (row >= 0 && row < MESSAGE_COUNT) ? kGlosses[row] : "";
}

}  // namespace imgload
