// The downloader's message table: dialog texts (rows 0..33), the port and
// speed lists and the 16 message rows. Compiled from resources/ in UTF-8 by
// both builds.
#pragma once

#include "imgload/link/protocol.h"

namespace imgload {

constexpr int DIALOG_TEXT_COUNT = 34;
constexpr int MESSAGE_COUNT = 16;

enum DialogTextRow : int {
  TEXT_TITLE = 0,
  TEXT_TRANSFER_NOTICE = 24,   // "データ転送中\n電源を切らないでください!"
  TEXT_STOP_BUTTON = 29,       // "次番号\n転送中止"
};

enum MessageRow : int {
  // 0..10: the status table
  ROW_SUCCESS = 0,
  ROW_TIMEOUT = 5,
  ROW_FILE_OPEN = 7,
  ROW_FILE_READ = 8,
  ROW_DATA_ERROR = 9,
  ROW_PORT_OPEN = 10,
  MSG_BAD_PATH = 11,
  MSG_BAD_ADDRESS = 12,
  MSG_FILE_OPEN = 13,
  MSG_BAD_SIZE = 14,
  MSG_NO_EXTERNAL_FLASH = 15,
};

const char* dialog_text(int row);     // rows 0..33
const char* message_text(int row);    // rows 0..15
const char* message_gloss(int row);   // English gloss of a message row (ASCII)

extern const char PORT_NAMES[5][5];  // "COM0".."COM4"

// The line speeds of SPEEDS as decimal texts, "9600".."115200".
struct SpeedTexts {
  char text[SPEED_COUNT][7];
  constexpr SpeedTexts() : text() {
    for (int i = 0; i < SPEED_COUNT; ++i) {
      int digits = 0;
      for (std::uint32_t v = SPEEDS[i]; v != 0; v /= 10) ++digits;
      for (std::uint32_t v = SPEEDS[i]; v != 0; v /= 10) text[i][--digits] = static_cast<char>('0' + v % 10);
    }
  }
  const char* operator[](int i) const { return text[i]; }
};
inline constexpr SpeedTexts SPEED_TEXTS{};

}  // namespace imgload
