// The scripted serial port and the virtual clock of the tests.
#include "fake_port.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace imgload {
namespace testing {

Bytes to_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

void VirtualClock::advance(std::uint64_t ms) {
  const std::uint64_t before = now_ms_ / 1000;
  now_ms_ += ms;
  for (std::uint64_t s = before; s < now_ms_ / 1000 && countdown_ != nullptr; ++s) countdown_->tick();
}

void FakePort::reset() {
  script_.clear();
  write_results_.clear();
  writes_.clear();
  opens_.clear();
  closes_.clear();
  controller_ = nullptr;
  clock_ = nullptr;
  open_ = false;
  open_name_.clear();
  failing_opens_ = 0;
  failing_discards_ = 0;
  read_calls_ = 0;
  empty_reads_ = 0;
}

void FakePort::queue_bytes(const Bytes& bytes, std::uint64_t ms_per_byte) {
  if (!bytes.empty()) script_.push_back({Kind::BYTES, bytes, 0, ms_per_byte});
}
void FakePort::queue_empty_read() { script_.push_back({Kind::EMPTY, {}, 0, 0}); }
void FakePort::queue_read_error() { script_.push_back({Kind::ERROR, {}, 0, 0}); }
void FakePort::queue_write_result(int result) { write_results_.push_back(result); }

std::size_t FakePort::pending_bytes() const {
  std::size_t n = 0;
  for (const Event& e : script_) {
    if (e.kind == Kind::BYTES) n += e.bytes.size() - e.taken;
  }
  return n;
}

zp3k::Status FakePort::open(const char* name, const LineSettings& settings) {
  OpenRecord record{name ? name : "", settings, false};
  zp3k::Status status;
  // A second opening while open fails, like the exclusive real port.
  if (open_) {
    status = {zp3k::Result::IN_USE, EBUSY};
  } else if (failing_opens_ > 0) {
    --failing_opens_;
    status = failing_open_;
  } else {
    record.opened = true;
    open_ = true;
    open_name_ = record.name;
  }
  opens_.push_back(record);
  return status;
}

void FakePort::close() {
  if (!open_) return;
  closes_.push_back(open_name_);
  open_ = false;
}

int FakePort::write(const std::uint8_t* data, int count) {
  if (!open_ || count < 0) return -1;
  Bytes frame(data, data + count);
  int result = count;
  if (!write_results_.empty()) {
    result = write_results_.front();
    write_results_.pop_front();
  }
  // What a short write leaves out never reaches the controller.
  if (result >= 0 && result < count) frame.resize(static_cast<std::size_t>(result));
  writes_.push_back(frame);
  if (controller_ && result > 0) controller_(*this, frame);
  return result;
}

int FakePort::silent_read(int result) {
  ++empty_reads_;
  if (clock_ != nullptr) clock_->advance(read_wait_ms_);
  return result;
}

int FakePort::read_within(std::uint8_t* buffer, int count, unsigned wait_ms) {
  read_wait_ms_ = wait_ms;
  const int got = read(buffer, count);
  read_wait_ms_ = PORT_READ_TIMEOUT_MS;
  return got;
}

int FakePort::read(std::uint8_t* buffer, int count) {
  ++read_calls_;
  if (!open_ || count < 0) return silent_read(-1);
  if (count == 0) return 0;
  if (script_.empty()) return silent_read(0);
  Event& e = script_.front();
  if (e.kind == Kind::EMPTY) {
    script_.pop_front();
    return silent_read(0);
  }
  if (e.kind == Kind::ERROR) {
    script_.pop_front();
    return silent_read(-1);
  }
  const std::size_t n = std::min(static_cast<std::size_t>(count), e.bytes.size() - e.taken);
  std::memcpy(buffer, e.bytes.data() + e.taken, n);
  e.taken += n;
  if (clock_ != nullptr && e.ms_per_byte != 0) clock_->advance(n * e.ms_per_byte);
  if (e.taken == e.bytes.size()) script_.pop_front();
  return static_cast<int>(n);
}

int FakePort::discard_input() {
  if (!open_) return -1;
  if (failing_discards_ > 0) {
    --failing_discards_;
    return -1;
  }
  int dropped = 0;
  while (!script_.empty() && script_.front().kind == Kind::BYTES) {
    dropped += static_cast<int>(script_.front().bytes.size() - script_.front().taken);
    script_.pop_front();
  }
  return dropped;
}

}  // namespace testing
}  // namespace imgload
