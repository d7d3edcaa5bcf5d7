// The download sequencer: set-up, then one step per pass of a polled state
// machine (phase, step counter, retry budget) from "AD" to the final text,
// waiting for the reply countdown through the clock, never by spinning.
#include "imgload/download/sequencer.h"

#include <cstdio>
#include <cstring>

#include "imgload/download/image_file.h"
#include "imgload/download/messages.h"
#include "imgload/download/progress_view.h"
#include "imgload/download/status.h"
#include "imgload/link/commands.h"
#include "imgload/link/countdown.h"
#include "imgload/link/frame.h"
#include "imgload/link/serial_port.h"

namespace imgload {

namespace {

// Pauses, seconds of the reply countdown.
constexpr int PAUSE_AFTER_MODE = 1;
constexpr int PAUSE_AFTER_REOPEN = 1;
constexpr int PAUSE_AFTER_FINISH = 3;
constexpr int PAUSE_AFTER_CLOSE = 1;
constexpr unsigned SPEED_CHANGE_GAP_MS = 1000;  // ms the port stays closed for "EF"
constexpr int SPEED_CODE_BASE = 6;              // "EF" code of 9600 bit/s
constexpr int LABEL_SIZE = 32;                  // bytes, file and block labels

// Lengths of the requests, bytes, for the trace.
constexpr int LENGTH_AD = 10;
constexpr int LENGTH_AA = 12;
constexpr int LENGTH_AB = 10;
constexpr int LENGTH_EF = 14;
constexpr int LENGTH_FG = 26;
constexpr int LENGTH_FD_DATA = 530;
constexpr int LENGTH_FD_END = 26;
constexpr int LENGTH_AG = 10;

// What phase 4 keeps for the file being sent.
struct Transfer {
  FileHandle file;
  std::uint32_t block_number;
  std::uint32_t check_value;
  std::uint32_t blocks_left;  // data requests still due for the announced size
  std::uint8_t block[DATA_BLOCK_SIZE];
};
Transfer transfer = {INVALID_FILE, 0, 0, 0, {}};

int other_mode_answers = 0;  // "AB" answers with another mode for this file

void sent(int length) {
  if (link_trace != nullptr) link_trace->frame_sent(frames.transmit, length);
}

int traced(int status, const ReaderState& reader) {
  if (link_trace != nullptr && status != REPLY_WAIT) {
    link_trace->reply_read(frames.reply, reader.count, status);
  }
  return status;
}

int plain_reply() { return traced(read_reply(), frames.plain); }
int data_reply() { return traced(read_data_reply(), frames.data); }

bool open_line(std::uint32_t baud_rate) {
  serial_port.handle = open_port(sequencer.port_name, baud_rate, PORT_BYTE_SIZE,
                                 PORT_PARITY_EVEN, PORT_ONE_STOP_BIT);
  const bool opened = serial_port.handle != INVALID_PORT;
  if (link_trace != nullptr) link_trace->port_opened(sequencer.port_name, baud_rate, opened);
  return opened;
}

void close_line() {
  if (serial_port.handle == INVALID_PORT) return;
  close_port(serial_port.handle);
  serial_port.handle = INVALID_PORT;
  if (link_trace != nullptr) link_trace->port_closed();
}

void close_transfer_file() {
  close_image_file(transfer.file);
  transfer.file = INVALID_FILE;
}

void set_text(int control, const char* text) {
  if (progress_view != nullptr) progress_view->set_text(control, text);
}

// A pause: true once the countdown has run out; otherwise waits for the next
// tick of the clock, so the loop does not spin.
bool pause_over() {
  if (reply_countdown.expired()) return true;
  if (download_clock != nullptr) download_clock->wait_tick();
  return false;
}

// A failed reply to a request that may be sent again: the step goes back to
// the sending step, or the third failure ends the run.
void retry_or_fail(int status, int* step) {
  if (--sequencer.retries_left == 0) {
    show_error_for_code(status);
  } else {
    --*step;
  }
}

// The plain reply to a request that may be sent again: true once accepted;
// a failure takes the step back to the sending step or ends the run.
bool retried_reply_accepted(int* step) {
  const int status = plain_reply();
  if (status == REPLY_WAIT) return false;
  if (status != REPLY_OK) {
    retry_or_fail(status, step);
    return false;
  }
  return true;
}

// The plain reply to a request that is not sent again: true once accepted;
// a failure ends the run at once.
bool single_reply_accepted() {
  const int status = plain_reply();
  if (status == REPLY_WAIT) return false;
  if (status != REPLY_OK) {
    show_error_for_code(status);
    return false;
  }
  return true;
}

void enter_phase(Phase phase) {
  sequencer.phase = phase;
  sequencer.retries_left = RETRY_BUDGET;
}

const char* current_mode() { return mode_for_address(sequencer.start_addresses[sequencer.file_index]); }

void file_read_failure() {
  close_transfer_file();
  show_status(ROW_FILE_READ);
  running = 0;
}

void step_identify() {
  int& step = sequencer.control_step;
  if (step == 0) {
    set_text(CONTROL_STATUS, dialog_text(TEXT_TRANSFER_NOTICE));
    send_model_request();
    sent(LENGTH_AD);
    step = 1;
    return;
  }
  const int status = data_reply();
  switch (judge_model_reply(status, sequencer.start_addresses, download_job.entry_count)) {
    case JUDGE_WAIT:
    case JUDGE_STOPPED:  // the judgement has shown its text and ended the run
    case JUDGE_OTHER_MODE:
      break;
    case JUDGE_FAILED:
      retry_or_fail(status, &step);
      break;
    case JUDGE_ACCEPTED:
      enter_phase(PHASE_MODE);
      step = 0;
      break;
  }
}

void step_mode() {
  int& step = sequencer.control_step;
  switch (step) {
    case 0:
      other_mode_answers = 0;
      send_mode_request(current_mode());
      sent(LENGTH_AA);
      step = 1;
      break;
    case 1:
      if (!retried_reply_accepted(&step)) break;
      step = 2;
      reply_countdown.set(PAUSE_AFTER_MODE);
      sequencer.retries_left = RETRY_BUDGET;
      break;
    case 2:
      if (!pause_over()) break;
      step = 3;
      sequencer.retries_left = RETRY_BUDGET;
      break;
    case 3:
      send_mode_query();
      sent(LENGTH_AB);
      step = 4;
      break;
    default: {
      const int status = data_reply();
      switch (judge_mode_reply(status, current_mode())) {
        case JUDGE_WAIT:
        case JUDGE_STOPPED:
          break;
        case JUDGE_FAILED:
          retry_or_fail(status, &step);
          break;
        case JUDGE_ACCEPTED:
          enter_phase(PHASE_SPEED);
          step = 0;
          break;
        case JUDGE_OTHER_MODE:
          // Another mode costs no attempt, but the asking is bounded. A stop
          // request is no reason to leave: the controller is switching, and
          // the file is finished before the run ends.
          if (++other_mode_answers >= MODE_QUERY_LIMIT) {
            show_error_for_code(REPLY_TIMEOUT);
          } else {
            step = 3;
          }
          break;
      }
      break;
    }
  }
}

void step_speed() {
  int& step = sequencer.speed_step;
  switch (step) {
    case 0:
      send_speed_request(sequencer.speed_code);
      sent(LENGTH_EF);
      step = 1;
      break;
    case 1:
      // A failure spends the budget of the phase; sending "EF" again does not refill it.
      if (!retried_reply_accepted(&step)) break;
      step = 2;
      break;
    case 2:
      close_line();
      if (download_clock != nullptr) download_clock->sleep_ms(SPEED_CHANGE_GAP_MS);
      if (!open_line(sequencer.selected_speed)) {
        show_status(ROW_PORT_OPEN);
        running = 0;
        break;
      }
      reply_countdown.set(PAUSE_AFTER_REOPEN);
      step = 3;
      break;
    default:
      if (!pause_over()) break;
      enter_phase(PHASE_ANNOUNCE);
      step = 0;
      break;
  }
}

void step_announce() {
  int& step = sequencer.announce_step;
  const int index = sequencer.file_index;
  if (step == 0) {
    char label[LABEL_SIZE];
    std::snprintf(label, sizeof label, "No.%01d", index + 1);
    set_text(CONTROL_FILE_LABEL, label);
    send_announce_request(sequencer.start_addresses[index], sequencer.file_sizes[index]);
    sent(LENGTH_FG);
    step = 1;
    return;
  }
  if (!single_reply_accepted()) return;
  enter_phase(PHASE_BLOCKS);
  step = 0;
}

void step_blocks() {
  int& step = sequencer.transfer_step;
  const int index = sequencer.file_index;
  switch (step) {
    case 0: {
      transfer.file = open_image_file(sequencer.paths[index]);
      if (transfer.file == INVALID_FILE) {
        show_status(ROW_FILE_OPEN);
        running = 0;
        break;
      }
      std::uint32_t size = 0;
      // The controller was told the size measured at set-up; a file that has
      // changed size since cannot be sent as announced.
      if (!image_file_size(transfer.file, &size) || size != sequencer.file_sizes[index]) {
        file_read_failure();
        break;
      }
      progress_setup(size, DATA_BLOCK_SIZE);
      transfer.block_number = 1;
      transfer.check_value = 0;
      transfer.blocks_left = size / DATA_BLOCK_SIZE;
      sequencer.retries_left = RETRY_BUDGET;
      step = 1;
      break;
    }
    case 1: {
      const int got = read_image_file(transfer.file, transfer.block, DATA_BLOCK_SIZE);
      if (got == 0 && transfer.blocks_left == 0) {
        close_transfer_file();
        progress_step();
        sequencer.retries_left = RETRY_BUDGET;
        step = 3;
        break;
      }
      // A failed read, a short block, an early end (the file shrank) or data
      // past the announced size (it grew): nothing padded or extra is sent.
      if (got != DATA_BLOCK_SIZE || transfer.blocks_left == 0) {
        file_read_failure();
        break;
      }
      char label[LABEL_SIZE];
      std::snprintf(label, sizeof label, "Block No. %ld", static_cast<long>(transfer.block_number));
      set_text(CONTROL_BLOCK_LABEL, label);
      progress_step();
      send_data_request(transfer.block_number, transfer.block, &transfer.check_value);
      sent(LENGTH_FD_DATA);
      ++transfer.block_number;
      --transfer.blocks_left;
      step = 2;
      break;
    }
    case 2:
      if (single_reply_accepted()) {
        step = 1;
      } else if (running == 0) {
        close_transfer_file();  // the failed reply ended the run
      }
      break;
    case 3:
      send_end_request(transfer.check_value);
      sent(LENGTH_FD_END);
      step = 4;
      break;
    default:
      if (!single_reply_accepted()) break;
      enter_phase(PHASE_FINISH);
      step = 0;
      break;
  }
}

void step_finish() {
  int& step = sequencer.finish_step;
  switch (step) {
    case 0:
      send_finish_request();
      sent(LENGTH_AG);
      step = 1;
      break;
    case 1:
      if (!retried_reply_accepted(&step)) break;
      step = 2;
      reply_countdown.set(PAUSE_AFTER_FINISH);
      sequencer.retries_left = RETRY_BUDGET;
      break;
    default:
      if (!pause_over()) break;
      enter_phase(PHASE_CLOSE);
      step = 0;
      break;
  }
}

void step_next() {
  const bool last = sequencer.file_index == download_job.entry_count - 1;
  if (last || stop_requested.load() != 0) {
    enter_phase(PHASE_END);
  } else {
    enter_phase(PHASE_MODE);
    sequencer.control_step = 0;
    sequencer.speed_step = 0;
    sequencer.announce_step = 0;
    sequencer.transfer_step = 0;
    sequencer.finish_step = 0;
    progress_setup(2, 1);
    ++sequencer.file_index;
  }
  if (!open_line(PORT_BASE_SPEED)) {
    show_status(ROW_PORT_OPEN);
    running = 0;
  }
}

void step_end() {
  if (download_job.run_after_download != 0) {
    send_run_request();  // its reply is not read: the port closes right after
    sent(LENGTH_AA);
  }
  show_status(ROW_SUCCESS);
  running = 0;
}

void step() {
  switch (sequencer.phase) {
    case PHASE_IDENTIFY: step_identify(); break;
    case PHASE_MODE: step_mode(); break;
    case PHASE_SPEED: step_speed(); break;
    case PHASE_ANNOUNCE: step_announce(); break;
    case PHASE_BLOCKS: step_blocks(); break;
    case PHASE_FINISH: step_finish(); break;
    case PHASE_CLOSE:
      sequencer.phase = PHASE_SETTLE;
      reply_countdown.set(PAUSE_AFTER_CLOSE);
      close_line();
      break;
    case PHASE_SETTLE:
      if (pause_over()) sequencer.phase = PHASE_NEXT;
      break;
    case PHASE_NEXT: step_next(); break;
    default: step_end(); break;
  }
}

void clear_counters() {
  sequencer.phase = PHASE_IDENTIFY;
  sequencer.control_step = 0;
  sequencer.speed_step = 0;
  sequencer.announce_step = 0;
  sequencer.transfer_step = 0;
  sequencer.finish_step = 0;
}

// Set-up steps 2 to 5: the paths, start addresses and sizes of the files.
// False (with status row 7 shown) when a file cannot be opened and measured.
bool measure_files(int count) {
  for (int i = 0; i < count; ++i) {
    const char* path = download_job.paths[i];
    // A path too long for the copy would name another file once shortened.
    const std::size_t length = strnlen(path, JOB_PATH_SIZE);
    if (length >= static_cast<std::size_t>(RUN_PATH_SIZE)) return false;
    std::memcpy(sequencer.paths[i], path, length);
    sequencer.paths[i][length] = '\0';
  }
  progress_setup(2, 1);
  for (int i = 0; i < count; ++i) sequencer.start_addresses[i] = download_job.start_addresses[i];
  for (int i = 0; i < count; ++i) {
    const FileHandle file = open_image_file(sequencer.paths[i]);
    if (file == INVALID_FILE) return false;
    std::uint32_t size = 0;
    const bool measured = image_file_size(file, &size);
    close_image_file(file);
    if (!measured) return false;
    sequencer.file_sizes[i] = size;
  }
  return true;
}

// Set-up step 6: speed code, port name and selected speed. False when the
// job names no usable port or speed.
bool choose_port() {
  const int speed_index = download_job.speed_index;
  if (speed_index < 0 || speed_index > 4) return false;
  sequencer.speed_code = speed_index + SPEED_CODE_BASE;
  sequencer.selected_speed = SPEEDS[speed_index];
  const char* name = download_job.port_device;
  if (name[0] == '\0') {
    const int number = download_job.port_number;
    if (number < 1 || number > 4) return false;
    name = PORT_NAMES[number];
  }
  const std::size_t length = strnlen(name, sizeof download_job.port_device);
  if (length >= sizeof sequencer.port_name) return false;
  std::memcpy(sequencer.port_name, name, length);
  sequencer.port_name[length] = '\0';
  // The link state's copy of the name only informs; a long device path is cut.
  const std::size_t kept = length < sizeof serial_port.name ? length : sizeof serial_port.name - 1;
  std::memcpy(serial_port.name, sequencer.port_name, kept);
  serial_port.name[kept] = '\0';
  serial_port.baud_rate = sequencer.selected_speed;
  return true;
}

}  // namespace

void run_download() {
  running = 1;
  const int count = download_job.entry_count;
  if (count < 1 || count > MAX_ENTRIES || !measure_files(count)) {
    show_status(ROW_FILE_OPEN);
    running = 0;
    return;
  }
  if (!choose_port() || !open_line(PORT_BASE_SPEED)) {
    show_status(ROW_PORT_OPEN);
    running = 0;
  }
  sequencer.retries_left = RETRY_BUDGET;
  sequencer.file_index = 0;
  while (running == 1 && sequencer.file_index < count) step();
  // End of run, after success or failure.
  close_transfer_file();
  close_line();
  clear_counters();
}

}  // namespace imgload
