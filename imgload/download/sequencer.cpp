// The download sequencer: set-up, then one step per pass of a polled state
// machine (phase, step counter, retry budget) from "AD" to the final text,
// waiting for the reply countdown through the clock, never by spinning.
#include "imgload/download/sequencer.h"

#include <cstring>

#include "imgload/download/messages.h"
#include "imgload/download/status.h"
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

StatusText row_text(int row) {
  StatusText status;
  status.row = row;
  return status;
}

}  // namespace

Download::Download(const DownloadJob& job, const std::atomic<int>& stop_requested,
                   SerialPort& port, ProgressView* view, LinkTrace* trace, SharedImages images)
    : job_(job),
      stop_requested_(stop_requested),
      view_(view),
      link_(port, countdown_, trace),
      given_images_(std::move(images)) {}

void Download::show(const StatusText& status) {
  if (view_ != nullptr) view_->status_shown(status);
}

// Every failure shows its text and ends the run; the text is the outcome.
void Download::end_with_row(int row) {
  outcome_ = row_text(row);
  show(outcome_);
  running_ = false;
}

void Download::end_with_code(int status) {
  const int row = row_for_code(status);
  if (row >= 0) {
    end_with_row(row);
  } else {
    outcome_ = row_text(-1);  // a code without a row: no text, no success
    running_ = false;
  }
}

void Download::progress_setup(std::uint32_t total, std::uint32_t unit) {
  if (view_ != nullptr) view_->range_set(progress_maximum(total, unit));
}

void Download::progress_step() {
  if (view_ != nullptr) view_->stepped();
}

// A pause: true once the countdown has run out; otherwise waits for the next
// tick of the clock, so the loop does not spin.
bool Download::pause_over() {
  if (countdown_.expired()) return true;
  clock_->wait_tick();
  return false;
}

// A failed reply to a request that may be sent again: the step goes back to
// the sending step, or the third failure ends the run.
void Download::retry_or_fail(int status, int* step) {
  if (--retries_left_ == 0) {
    end_with_code(status);
  } else {
    --*step;
  }
}

// The plain reply to a request that may be sent again: true once accepted;
// a failure takes the step back to the sending step or ends the run.
bool Download::retried_reply_accepted(int* step) {
  const int status = link_.read_reply();
  if (status == REPLY_WAIT) return false;
  if (status != REPLY_OK) {
    retry_or_fail(status, step);
    return false;
  }
  return true;
}

// The plain reply to a request that is not sent again: true once accepted;
// a failure ends the run at once.
bool Download::single_reply_accepted() {
  const int status = link_.read_reply();
  if (status == REPLY_WAIT) return false;
  if (status != REPLY_OK) {
    end_with_code(status);
    return false;
  }
  return true;
}

void Download::enter_phase(Phase phase) {
  steps_.phase = phase;
  retries_left_ = RETRY_BUDGET;
}

const char* Download::current_mode() const {
  return mode_for_address(job_.start_addresses[file_index_]);
}

void Download::step_identify() {
  int& step = steps_.control_step;
  if (step == 0) {
    StatusText notice;
    notice.kind = StatusText::TRANSFER_NOTICE;
    show(notice);
    send_model_request(link_);
    step = 1;
    return;
  }
  const int status = link_.read_data_reply();
  StatusText refusal;
  refusal.kind = StatusText::NO_EXTERNAL_FLASH;
  switch (judge_model_reply(link_, status, job_.start_addresses, job_.entry_count, &refusal.entry)) {
    case JUDGE_WAIT:
    case JUDGE_OTHER_MODE:
      break;
    case JUDGE_BAD_MODEL:
      end_with_row(ROW_DATA_ERROR);
      break;
    case JUDGE_NO_EXTERNAL:
      outcome_ = refusal;
      show(refusal);
      running_ = false;
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

void Download::step_mode() {
  int& step = steps_.control_step;
  switch (step) {
    case 0:
      other_mode_answers_ = 0;
      send_mode_request(link_, current_mode());
      step = 1;
      break;
    case 1:
      if (!retried_reply_accepted(&step)) break;
      step = 2;
      countdown_.set(PAUSE_AFTER_MODE);
      retries_left_ = RETRY_BUDGET;
      break;
    case 2:
      if (!pause_over()) break;
      step = 3;
      retries_left_ = RETRY_BUDGET;
      break;
    case 3:
      send_mode_query(link_);
      step = 4;
      break;
    default: {
      const int status = link_.read_data_reply();
      switch (judge_mode_reply(link_, status, current_mode())) {
        case JUDGE_WAIT:
        case JUDGE_BAD_MODEL:
        case JUDGE_NO_EXTERNAL:
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
          if (++other_mode_answers_ >= MODE_QUERY_LIMIT) {
            end_with_code(REPLY_TIMEOUT);
          } else {
            step = 3;
          }
          break;
      }
      break;
    }
  }
}

void Download::step_speed() {
  int& step = steps_.speed_step;
  switch (step) {
    case 0:
      send_speed_request(link_, speed_code_);
      step = 1;
      break;
    case 1:
      // A failure spends the budget of the phase; sending "EF" again does not refill it.
      if (!retried_reply_accepted(&step)) break;
      step = 2;
      break;
    case 2:
      link_.close();
      clock_->sleep_ms(SPEED_CHANGE_GAP_MS);
      if (!link_.open(port_name_, selected_speed_)) {
        end_with_row(ROW_PORT_OPEN);
        break;
      }
      countdown_.set(PAUSE_AFTER_REOPEN);
      step = 3;
      break;
    default:
      if (!pause_over()) break;
      enter_phase(PHASE_ANNOUNCE);
      step = 0;
      break;
  }
}

void Download::step_announce() {
  int& step = steps_.announce_step;
  if (step == 0) {
    if (view_ != nullptr) view_->file_started(file_index_ + 1);
    const std::size_t size = images_->files[file_index_].size();  // at most IMAGE_FILE_LIMIT
    send_announce_request(link_, job_.start_addresses[file_index_], static_cast<std::uint32_t>(size));
    step = 1;
    return;
  }
  if (!single_reply_accepted()) return;
  enter_phase(PHASE_BLOCKS);
  step = 0;
}

void Download::step_blocks() {
  int& step = steps_.transfer_step;
  switch (step) {
    case 0: {
      // The blocks come from the snapshot the size was announced from.
      const std::vector<std::uint8_t>& image = images_->files[file_index_];
      const std::uint32_t size = static_cast<std::uint32_t>(image.size());
      progress_setup(size, DATA_BLOCK_SIZE);
      transfer_.next = image.data();
      transfer_.block_number = 1;
      transfer_.check_value = 0;
      transfer_.blocks_left = size / DATA_BLOCK_SIZE;
      retries_left_ = RETRY_BUDGET;
      step = 1;
      break;
    }
    case 1: {
      if (transfer_.blocks_left == 0) {
        // A partial last block is not padded: the file cannot be sent as announced.
        if (images_->files[file_index_].size() % DATA_BLOCK_SIZE != 0) {
          end_with_row(ROW_FILE_READ);
          break;
        }
        progress_step();
        retries_left_ = RETRY_BUDGET;
        step = 3;
        break;
      }
      if (view_ != nullptr) view_->block_sent(transfer_.block_number);
      progress_step();
      send_data_request(link_, transfer_.block_number, transfer_.next, &transfer_.check_value);
      transfer_.next += DATA_BLOCK_SIZE;
      ++transfer_.block_number;
      --transfer_.blocks_left;
      step = 2;
      break;
    }
    case 2:
      if (single_reply_accepted()) step = 1;
      break;
    case 3:
      send_end_request(link_, transfer_.check_value);
      step = 4;
      break;
    default:
      if (!single_reply_accepted()) break;
      enter_phase(PHASE_FINISH);
      step = 0;
      break;
  }
}

void Download::step_finish() {
  int& step = steps_.finish_step;
  switch (step) {
    case 0:
      send_finish_request(link_);
      step = 1;
      break;
    case 1:
      if (!retried_reply_accepted(&step)) break;
      step = 2;
      countdown_.set(PAUSE_AFTER_FINISH);
      retries_left_ = RETRY_BUDGET;
      break;
    default:
      if (!pause_over()) break;
      enter_phase(PHASE_CLOSE);
      step = 0;
      break;
  }
}

void Download::step_next() {
  const bool last = file_index_ == job_.entry_count - 1;
  if (last || stop_requested_.load() != 0) {
    enter_phase(PHASE_END);
  } else {
    enter_phase(PHASE_MODE);
    steps_.control_step = 0;
    steps_.speed_step = 0;
    steps_.announce_step = 0;
    steps_.transfer_step = 0;
    steps_.finish_step = 0;
    progress_setup(2, 1);
    ++file_index_;
  }
  if (!link_.open(port_name_, PORT_BASE_SPEED)) end_with_row(ROW_PORT_OPEN);
}

void Download::step_end() {
  if (job_.run_after_download != 0) {
    send_run_request(link_);  // its reply is not read: the port closes right after
  }
  end_with_row(ROW_SUCCESS);
}

void Download::step() {
  switch (steps_.phase) {
    case PHASE_IDENTIFY: step_identify(); break;
    case PHASE_MODE: step_mode(); break;
    case PHASE_SPEED: step_speed(); break;
    case PHASE_ANNOUNCE: step_announce(); break;
    case PHASE_BLOCKS: step_blocks(); break;
    case PHASE_FINISH: step_finish(); break;
    case PHASE_CLOSE:
      steps_.phase = PHASE_SETTLE;
      countdown_.set(PAUSE_AFTER_CLOSE);
      link_.close();
      break;
    case PHASE_SETTLE:
      if (pause_over()) steps_.phase = PHASE_NEXT;
      break;
    case PHASE_NEXT: step_next(); break;
    default: step_end(); break;
  }
}

// Set-up steps 2 to 5: the paths and the bytes of the files, and the bar.
// The status row that ends the run when a file cannot be read whole, or -1.
int Download::take_snapshots() {
  for (int i = 0; i < job_.entry_count; ++i) {
    // A path too long for the sequencer would name another file once shortened.
    if (strnlen(job_.paths[i], JOB_PATH_SIZE) >= static_cast<std::size_t>(RUN_PATH_SIZE)) {
      return ROW_FILE_OPEN;
    }
  }
  progress_setup(2, 1);
  images_ = given_images_;  // taken by the front end when it checked the files
  if (images_ != nullptr) return -1;
  auto images = std::make_shared<ImageSet>();
  for (int i = 0; i < job_.entry_count; ++i) {
    switch (load_image_file(job_.paths[i], &images->files[i])) {
      case ImageLoad::LOADED:
        break;
      case ImageLoad::CANNOT_OPEN:
        return ROW_FILE_OPEN;
      case ImageLoad::TOO_LARGE:  // it grew past any image since it was checked
      case ImageLoad::CANNOT_READ:
        return ROW_FILE_READ;
    }
  }
  images_ = std::move(images);
  return -1;
}

// Set-up step 6: speed code, port name and selected speed. False when the
// job names no usable port or speed.
bool Download::choose_port() {
  const int speed_index = job_.speed_index;
  if (speed_index < 0 || speed_index > 4) return false;
  speed_code_ = speed_index + SPEED_CODE_BASE;
  selected_speed_ = SPEEDS[speed_index];
  const char* name = job_.port_device;
  if (name[0] == '\0') {
    const int number = job_.port_number;
    if (number < 1 || number > 4) return false;
    name = PORT_NAMES[number];
  }
  const std::size_t length = strnlen(name, sizeof job_.port_device);
  if (length >= sizeof port_name_) return false;
  std::memcpy(port_name_, name, length);
  port_name_[length] = '\0';
  return true;
}

DownloadOutcome Download::run(Clock& clock) {
  clock_ = &clock;
  running_ = true;
  outcome_ = row_text(ROW_SUCCESS);
  const int count = job_.entry_count;
  const int refused = count < 1 || count > MAX_ENTRIES ? ROW_FILE_OPEN : take_snapshots();
  if (refused >= 0) {
    end_with_row(refused);
    return outcome_;
  }
  if (!choose_port() || !link_.open(port_name_, PORT_BASE_SPEED)) end_with_row(ROW_PORT_OPEN);
  retries_left_ = RETRY_BUDGET;
  file_index_ = 0;
  while (running_ && file_index_ < count) step();
  // End of run, after success or failure.
  link_.close();
  steps_ = SequencerSteps{};
  return outcome_;
}

}  // namespace imgload
