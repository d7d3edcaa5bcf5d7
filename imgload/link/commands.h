// The download command set: one sending operation per request, each setting
// its reply countdown, and the judgements of the "AD" and "AB" replies.
#pragma once

#include <cstdint>

#include "imgload/link/link.h"
#include "imgload/link/protocol.h"

namespace imgload {

// Reply countdowns, seconds.
constexpr int COUNTDOWN_AD = 1;
constexpr int COUNTDOWN_AA = 1;
constexpr int COUNTDOWN_AB = 10;
constexpr int COUNTDOWN_EF = 1;
constexpr int COUNTDOWN_FG = 60;
constexpr int COUNTDOWN_FD_DATA = 30;
constexpr int COUNTDOWN_FD_END = 35;
constexpr int COUNTDOWN_AG = 1;

// The mode that a file's start address selects: "07" for 0, else "06".
const char* mode_for_address(std::uint32_t start_address);

void send_model_request(Link& link);                         // "AD"
void send_mode_request(Link& link, const char mode[2]);       // "AA" with "06"/"07"
void send_mode_query(Link& link);                            // "AB"
void send_speed_request(Link& link, int speed_code);         // "EF" code "12"
void send_announce_request(Link& link, std::uint32_t start_address,
                           std::uint32_t file_size);  // "FG"
// "FD" with the block number's low 16 bits, "0200" and 512 raw bytes; folds
// the block into *check_value.
void send_data_request(Link& link, std::uint32_t block_number, const std::uint8_t* data512,
                       std::uint32_t* check_value);
void send_end_request(Link& link, std::uint32_t check_value);  // "FD" FFFF 0000 value
void send_finish_request(Link& link);                        // "AG"
void send_run_request(Link& link);                           // "AA" with "01"

// XOR of the 128 little-endian words of a 512-byte block into *check_value.
void fold_check_value(const std::uint8_t* data512, std::uint32_t* check_value);

enum Judgement : int {
  JUDGE_WAIT = 0,          // REPLY_WAIT: ask again
  JUDGE_ACCEPTED = 1,
  JUDGE_FAILED = 2,        // a failed attempt: the reply status says which
  JUDGE_BAD_MODEL = 3,     // "AD": model information that is not two digits
  JUDGE_NO_EXTERNAL = 4,   // "AD": an entry bound for external flash the model lacks
  JUDGE_OTHER_MODE = 5     // "AB": another mode, ask again without costing an attempt
};

// Judges the "AD" reply after read_data_reply returned status: the model
// information byte, then the external-flash check over the job's entries;
// on JUDGE_NO_EXTERNAL *refused_entry is the first such entry (1-based).
// *model (when given) receives the model information byte once it is read.
Judgement judge_model_reply(const Link& link, ReplyStatus status, const std::uint32_t* start_addresses,
                            int entry_count, int* refused_entry, int* model = nullptr);
// Judges the "AB" reply against the mode sent for the current file.
Judgement judge_mode_reply(const Link& link, ReplyStatus status, const char mode[2]);

}  // namespace imgload
