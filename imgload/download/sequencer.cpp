// The download sequencer: set-up, then one step per pass of a polled state
// machine (phase, step counter, retry budget) from "AD" to the final text,
// waiting for the reply countdown through the clock, never by spinning.
#include "imgload/download/sequencer.h"

#include <cstring>

#include "imgload/download/messages.h"
#include "imgload/link/serial_port.h"

namespace imgload {

ProgressView& no_progress_view() {
  static ProgressView none;
  return none;
}

namespace {

// Pauses, seconds of the reply countdown.
constexpr int PAUSE_AFTER_MODE = 1;    // "AA" accepted: the controller switches mode
constexpr int PAUSE_AFTER_REOPEN = 1;  // the port reopened at the new speed
constexpr int PAUSE_AFTER_FINISH = 3;  // "AG" accepted: the controller writes the flash
constexpr int PAUSE_AFTER_CLOSE = 1;   // the port closed after a file
constexpr unsigned SPEED_CHANGE_GAP_MS = 1000;  // ms the port stays closed for "EF"
constexpr int SPEED_CODE_BASE = 6;              // "EF" code of 9600 bit/s

}  // namespace

Download::Download(const DownloadJob& job, const std::atomic<int>& stop_requested,
                   SerialPort& port, ProgressView& view, LinkTrace& trace, SharedImages images)
    : job_(job),
      stop_requested_(stop_requested),
      view_(view),
      link_(port, countdown_, trace),
      given_images_(std::move(images)) {}

// Every end of a run goes through here: the result is kept and given to
// the view, and the step loop stops.
void Download::end(DownloadEnd how, int file, ReplyStatus reply, zp3k::Status port_status) {
  DownloadResult ended;
  ended.end = how;
  ended.file = file;
  ended.files = job_.entry_count;
  ended.reply = reply;
  ended.port_status = port_status;
  ended.answered = result_.answered;
  ended.model = result_.model;
  if (how == DownloadEnd::TIMED_OUT || how == DownloadEnd::REPLY_REJECTED) name_failed_request(&ended);
  result_ = ended;
  running_ = false;
  view_.ended(result_);
}

// The request whose reply failed: its letters, its block when it was a data
// request, and whether the line itself failed.
void Download::name_failed_request(DownloadResult* ended) const {
  std::memcpy(ended->request, link_.last_command(), sizeof ended->request);
  ended->line_failed = link_.read_failed();
  if (steps_.phase != PHASE_BLOCKS) return;
  ended->blocks = transfer_.blocks;
  // Step 2 waits for a data request's reply (the block counter is already
  // past it); step 4 for the end request's, which has no block.
  if (steps_.transfer_step == 2) ended->block = transfer_.block_number - 1;
}

// A reply that failed for the last time: a timeout, or a refused or
// corrupt reply.
void Download::end_with_reply(ReplyStatus status) {
  end(status == REPLY_TIMEOUT ? DownloadEnd::TIMED_OUT : DownloadEnd::REPLY_REJECTED,
      file_index_ + 1, status);
}

// Opens the port at baud_rate; a port that does not open ends the run.
bool Download::open_port(std::uint32_t baud_rate) {
  const zp3k::Status opened = link_.open(port_name_, baud_rate);
  if (!opened.ok()) end(DownloadEnd::PORT_OPEN_FAILED, file_index_ + 1, REPLY_OK, opened);
  return opened.ok();
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
void Download::retry_or_fail(ReplyStatus status, int* step) {
  if (--retries_left_ == 0) {
    end_with_reply(status);
  } else {
    --*step;
  }
}

// The plain reply to a request that may be sent again: true once accepted;
// a failure takes the step back to the sending step or ends the run.
bool Download::retried_reply_accepted(int* step) {
  const ReplyStatus status = link_.read_reply();
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
  const ReplyStatus status = link_.read_reply();
  if (status == REPLY_WAIT) return false;
  if (status != REPLY_OK) {
    end_with_reply(status);
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
    view_.transfer_started();
    send_model_request(link_);
    step = 1;
    return;
  }
  const ReplyStatus status = link_.read_data_reply();
  // Any byte of a model reply, even a garbled one, shows something is there.
  if (link_.data_reader().count > 0) result_.answered = true;
  int refused_entry = 0;
  // The model is kept in the result, which the production log reports.
  const Judgement judged = judge_model_reply(link_, status, job_.start_addresses, job_.entry_count,
                                             &refused_entry, &result_.model);
  learned_model_.store(result_.model);
  switch (judged) {
    case JUDGE_WAIT:
    case JUDGE_OTHER_MODE:
      break;
    case JUDGE_BAD_MODEL:
      end(DownloadEnd::BAD_MODEL, 1);
      break;
    case JUDGE_NO_EXTERNAL:
      end(DownloadEnd::NO_EXTERNAL_FLASH, refused_entry);
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
      const ReplyStatus status = link_.read_data_reply();
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
            end_with_reply(REPLY_TIMEOUT);
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
      if (!open_port(selected_speed_)) break;
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
    const std::size_t size = images_->files[file_index_].size();  // at most IMAGE_FILE_LIMIT
    view_.file_started(file_index_ + 1, job_.paths[file_index_],
                       static_cast<std::uint32_t>(size / DATA_BLOCK_SIZE));
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
      transfer_.next = image.data();
      transfer_.block_number = 1;
      transfer_.check_value = 0;
      transfer_.blocks = size / DATA_BLOCK_SIZE;
      transfer_.blocks_left = transfer_.blocks;
      retries_left_ = RETRY_BUDGET;
      step = 1;
      break;
    }
    case 1: {
      if (transfer_.blocks_left == 0) {
        // A partial last block is not padded: the file cannot be sent as announced.
        if (images_->files[file_index_].size() % DATA_BLOCK_SIZE != 0) {
          end(DownloadEnd::FILE_READ_FAILED, file_index_ + 1);
          break;
        }
        view_.file_sent(file_index_ + 1);
        retries_left_ = RETRY_BUDGET;
        step = 3;
        break;
      }
      view_.block_sent(transfer_.block_number, transfer_.blocks);
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
  stopped_ = !last && stop_requested_.load() != 0;
  view_.file_finished(file_index_ + 1, !last && !stopped_);
  if (last || stopped_) {
    enter_phase(PHASE_END);
  } else {
    steps_ = SequencerSteps{};  // every step counter back to 0
    enter_phase(PHASE_MODE);
    ++file_index_;
  }
  open_port(PORT_BASE_SPEED);
}

void Download::step_end() {
  if (job_.run_after_download != 0) {
    send_run_request(link_);  // its reply is not read: the port closes right after
  }
  end(stopped_ ? DownloadEnd::STOPPED : DownloadEnd::SUCCEEDED, file_index_ + 1);
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

// Set-up steps 2 to 5: the paths and the bytes of the files. False when
// the run ended because a file cannot be opened or read whole.
bool Download::take_snapshots() {
  for (int i = 0; i < job_.entry_count; ++i) {
    // A path too long for the sequencer would name another file once shortened.
    if (strnlen(job_.paths[i], JOB_PATH_SIZE) >= static_cast<std::size_t>(RUN_PATH_SIZE)) {
      end(DownloadEnd::FILE_OPEN_FAILED, i + 1);
      return false;
    }
  }
  view_.run_started(job_.entry_count);
  images_ = given_images_;  // taken by the front end when it checked the files
  if (images_ != nullptr) return true;
  auto images = std::make_shared<ImageSet>();
  for (int i = 0; i < job_.entry_count; ++i) {
    const zp3k::Status loaded = load_image_file(job_.paths[i], &images->files[i]);
    // Too large: it grew past any image since it was checked.
    if (loaded.result == zp3k::Result::TOO_LARGE || loaded.result == zp3k::Result::READ_FAILED) {
      end(DownloadEnd::FILE_READ_FAILED, i + 1);
      return false;
    }
    if (!loaded.ok()) {
      end(DownloadEnd::FILE_OPEN_FAILED, i + 1);
      return false;
    }
  }
  images_ = std::move(images);
  return true;
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

DownloadResult Download::run(Clock& clock) {
  clock_ = &clock;
  result_ = DownloadResult{};
  learned_model_.store(-1);
  running_ = true;
  stopped_ = false;
  file_index_ = 0;
  const int count = job_.entry_count;
  if (count < 1 || count > MAX_ENTRIES) {
    end(DownloadEnd::FILE_OPEN_FAILED, 0);
  } else if (take_snapshots()) {
    // A job naming no usable port or speed ends as a port that did not open.
    if (!choose_port()) end(DownloadEnd::PORT_OPEN_FAILED, 1, REPLY_OK, {zp3k::Result::FAILED, 0});
    if (running_) open_port(PORT_BASE_SPEED);
  }
  retries_left_ = RETRY_BUDGET;
  while (running_) step();
  // End of run, after success or failure.
  link_.close();
  steps_ = SequencerSteps{};
  return result_;
}

}  // namespace imgload
