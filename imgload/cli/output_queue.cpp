// The output channels: a bounded queue per target and the thread that writes it.
#include "imgload/cli/output_queue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/console.h"

namespace imgload {

struct OutputChannel::State {
  std::unique_ptr<OutputSink> sink;
  std::size_t limit = 0;
  std::mutex mutex;
  std::condition_variable queued;   // to the thread: text queued, or stopping
  std::condition_variable written;  // to drain(): a write returned
  std::deque<std::string> queue;
  std::size_t queued_bytes = 0;
  std::string in_flight;  // the text being written
  bool writing = false;
  bool stopping = false;
  std::vector<std::string> failed;  // texts whose write failed (kept without a limit)
  std::size_t dropped_lines = 0;
  std::size_t failed_lines = 0;
  std::string failure;
  std::thread thread;
};

namespace {

// The channel's thread: takes one text at a time and writes it with the
// lock released, so that queuing never waits for the target.
void write_out(const std::shared_ptr<OutputChannel::State>& s) {
  std::unique_lock<std::mutex> lock(s->mutex);
  for (;;) {
    s->queued.wait(lock, [&] { return s->stopping || !s->queue.empty(); });
    if (s->stopping) return;
    s->in_flight = std::move(s->queue.front());
    s->queue.pop_front();
    s->queued_bytes -= s->in_flight.size();
    s->writing = true;
    lock.unlock();
    std::string reason;
    const bool wrote = s->sink->write(s->in_flight, &reason);
    lock.lock();
    if (!wrote) {
      s->failed_lines += line_count(s->in_flight);
      if (s->failure.empty()) s->failure = reason.empty() ? "write failed" : reason;
      if (s->limit == 0) s->failed.push_back(s->in_flight);
    }
    s->in_flight.clear();
    s->writing = false;
    s->written.notify_all();
  }
}

}  // namespace

std::size_t line_count(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

OutputChannel::OutputChannel(std::unique_ptr<OutputSink> sink, std::size_t limit)
    : state_(std::make_shared<State>()) {
  state_->sink = std::move(sink);
  state_->limit = limit;
  std::shared_ptr<State> state = state_;
  state_->thread = std::thread([state] { write_out(state); });
}

OutputChannel::~OutputChannel() { stop(); }

bool OutputChannel::push_counted(std::string text, std::size_t lines) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  State& s = *state_;
  if (s.stopping) return false;
  if (s.limit != 0 && s.queued_bytes + text.size() > s.limit) {
    s.dropped_lines += lines;
    return false;
  }
  s.queued_bytes += text.size();
  s.queue.push_back(std::move(text));
  s.queued.notify_one();
  return true;
}

void OutputChannel::push_always(std::string text) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->stopping) return;
  state_->queued_bytes += text.size();
  state_->queue.push_back(std::move(text));
  state_->queued.notify_one();
}

bool OutputChannel::drain(OutputClock::time_point deadline) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  State& s = *state_;
  return s.written.wait_until(lock, deadline,
                              [&] { return s.stopping || (s.queue.empty() && !s.writing); }) &&
         s.queue.empty() && !s.writing;
}

void OutputChannel::stop() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  State& s = *state_;
  if (!s.thread.joinable()) return;
  s.stopping = true;
  s.queued.notify_all();
  s.written.notify_all();
  // A thread held in a write keeps the state alive and ends with the process.
  const bool held = s.writing;
  std::thread thread = std::move(s.thread);
  lock.unlock();
  if (held) {
    thread.detach();
  } else {
    thread.join();
  }
}

std::vector<std::string> OutputChannel::take_unwritten() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  State& s = *state_;
  std::vector<std::string> texts = std::move(s.failed);
  s.failed.clear();
  if (s.writing) texts.push_back(s.in_flight);
  for (std::string& text : s.queue) texts.push_back(std::move(text));
  s.queue.clear();
  s.queued_bytes = 0;
  return texts;
}

std::size_t OutputChannel::dropped_lines() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->dropped_lines;
}

std::size_t OutputChannel::failed_lines() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->failed_lines;
}

std::string OutputChannel::failure() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->failure;
}

StandardStreams::StandardStreams()
    : out_(std::make_unique<OutputChannel>(standard_sink(StandardStream::OUTPUT_STREAM),
                                           STANDARD_QUEUE_LIMIT)) {
  if (!zp3k::streams_share_console()) {
    err_ = std::make_unique<OutputChannel>(standard_sink(StandardStream::ERROR_STREAM),
                                           STANDARD_QUEUE_LIMIT);
  }
}

}  // namespace imgload
