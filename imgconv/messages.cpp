// The converter's message table in the build's code page.
#include "imgconv/messages.h"

namespace imgconv {
namespace {

#define MSG(text, gloss) text,
const char* const kTexts[CONVERT_MESSAGE_COUNT] = {
#include "imgconv_messages.inc"
};
#undef MSG

#define MSG(text, gloss) gloss,
const char* const kGlosses[CONVERT_MESSAGE_COUNT] = {
#include "imgconv_messages.inc"
};
#undef MSG

}  // namespace

const char* convert_message(int row) {
  return (row >= 0 && row < CONVERT_MESSAGE_COUNT) ? kTexts[row] : "";
}

const char* convert_gloss(int row) {
  return (row >= 0 && row < CONVERT_MESSAGE_COUNT) ? kGlosses[row] : "";
}

}  // namespace imgconv
