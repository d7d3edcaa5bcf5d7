// The download command set: each request built byte for byte and sent as one
// frame with its reply countdown, and the judgements of the "AD" (model
// information) and "AB" (mode query) replies.
#include "imgload/link/commands.h"

#include <cstring>

#include "image/image_format.h"

namespace imgload {

namespace {

constexpr std::uint8_t MODEL_EXTERNAL_PAIR = 0x30;  // both bits: external flash fitted
constexpr std::uint8_t MODEL_EXTERNAL_BIT = 0x08;   // alone: external flash fitted
constexpr int MODEL_BYTE_OFFSET = 7;                // "AD" reply offsets 7 and 8
constexpr std::uint32_t END_BLOCK_NUMBER = 0xFFFF;

// Appends value as count upper-case digits at fields[*n].
void put_hex(std::uint8_t* fields, int* n, std::uint32_t value, int count) {
  char digits[9];
  to_hex_digits(static_cast<int>(value), count, digits);
  std::memcpy(fields + *n, digits, static_cast<std::size_t>(count));
  *n += count;
}

void put_text(std::uint8_t* fields, int* n, const char* text, int count) {
  std::memcpy(fields + *n, text, static_cast<std::size_t>(count));
  *n += count;
}

void send_request(Link& link, const char* command, const std::uint8_t* fields, int field_count,
                  int countdown) {
  link.send_frame(command, fields, field_count);
  link.countdown().set(countdown);
}

bool has_external_flash(std::uint8_t model) {
  return (model & MODEL_EXTERNAL_PAIR) == MODEL_EXTERNAL_PAIR || (model & MODEL_EXTERNAL_BIT) != 0;
}

}  // namespace

const char* mode_for_address(std::uint32_t start_address) {
  return start_address == 0 ? "07" : "06";
}

void send_model_request(Link& link) { send_request(link, "AD", nullptr, 0, COUNTDOWN_AD); }

void send_mode_request(Link& link, const char mode[2]) {
  std::uint8_t fields[2];
  int n = 0;
  put_text(fields, &n, mode, 2);
  send_request(link, "AA", fields, n, COUNTDOWN_AA);
}

void send_mode_query(Link& link) { send_request(link, "AB", nullptr, 0, COUNTDOWN_AB); }

void send_speed_request(Link& link, int speed_code) {
  std::uint8_t fields[4];
  int n = 0;
  put_hex(fields, &n, static_cast<std::uint32_t>(speed_code), 2);
  put_text(fields, &n, "12", 2);
  send_request(link, "EF", fields, n, COUNTDOWN_EF);
}

void send_announce_request(Link& link, std::uint32_t start_address, std::uint32_t file_size) {
  std::uint8_t fields[16];
  int n = 0;
  put_hex(fields, &n, start_address, 8);
  put_hex(fields, &n, file_size, 8);
  send_request(link, "FG", fields, n, COUNTDOWN_FG);
}

void fold_check_value(const std::uint8_t* data512, std::uint32_t* check_value) {
  *check_value = image::xor_words(data512, DATA_BLOCK_SIZE, *check_value);
}

void send_data_request(Link& link, std::uint32_t block_number, const std::uint8_t* data512,
                       std::uint32_t* check_value) {
  std::uint8_t fields[8 + DATA_BLOCK_SIZE];
  int n = 0;
  put_hex(fields, &n, block_number & 0xFFFF, 4);
  put_hex(fields, &n, DATA_BLOCK_SIZE, 4);
  std::memcpy(fields + n, data512, DATA_BLOCK_SIZE);  // raw bytes, CR included
  n += DATA_BLOCK_SIZE;
  fold_check_value(data512, check_value);
  send_request(link, "FD", fields, n, COUNTDOWN_FD_DATA);
}

void send_end_request(Link& link, std::uint32_t check_value) {
  std::uint8_t fields[16];
  int n = 0;
  put_hex(fields, &n, END_BLOCK_NUMBER, 4);
  put_hex(fields, &n, 0, 4);
  put_hex(fields, &n, check_value, 8);
  send_request(link, "FD", fields, n, COUNTDOWN_FD_END);
}

void send_finish_request(Link& link) { send_request(link, "AG", nullptr, 0, COUNTDOWN_AG); }

void send_run_request(Link& link) {
  std::uint8_t fields[2];
  int n = 0;
  put_text(fields, &n, "01", 2);
  // The run ends right after this request; the countdown only keeps the
  // usual one second of the mode request.
  send_request(link, "AA", fields, n, COUNTDOWN_AA);
}

Judgement judge_model_reply(const Link& link, ReplyStatus status, const std::uint32_t* start_addresses,
                            int entry_count, int* refused_entry, int* model) {
  if (status == REPLY_WAIT) return JUDGE_WAIT;
  if (status != REPLY_OK) return JUDGE_FAILED;
  std::uint8_t byte = 0;
  if (!parse_hex_byte(reinterpret_cast<const char*>(link.reply() + MODEL_BYTE_OFFSET), &byte)) {
    return JUDGE_BAD_MODEL;
  }
  if (model != nullptr) *model = byte;
  if (has_external_flash(byte)) return JUDGE_ACCEPTED;
  for (int i = 0; i < entry_count; ++i) {
    const std::uint32_t address = start_addresses[i];
    if (address >= EXTERNAL_FLASH_FIRST && address <= EXTERNAL_FLASH_LAST) {
      *refused_entry = i + 1;
      return JUDGE_NO_EXTERNAL;
    }
  }
  return JUDGE_ACCEPTED;
}

Judgement judge_mode_reply(const Link& link, ReplyStatus status, const char mode[2]) {
  if (status == REPLY_WAIT) return JUDGE_WAIT;
  if (status != REPLY_OK) return JUDGE_FAILED;
  const char* code = link.reply_code();
  if (code[0] == mode[0] && code[1] == mode[1]) return JUDGE_ACCEPTED;
  return JUDGE_OTHER_MODE;
}

}  // namespace imgload
