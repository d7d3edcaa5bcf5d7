// The command line's output kept off the download threads: each target
// (standard output, standard error, the trace, the log) is a channel whose
// bounded queue a thread of its own writes out. Whoever produces output only
// queues it and never waits for the target; a full queue drops what comes
// (counted), except on a channel that keeps everything (the log).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace imgload {

using OutputClock = std::chrono::steady_clock;

// The number of lines a text holds: its line ends.
std::size_t line_count(const std::string& text);

// Where a channel's texts go. Called by the channel's thread only, one text
// at a time; it may block as long as the target does.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Writes text whole; false, with the system's reason, when it cannot.
  virtual bool write(const std::string& text, std::string* reason) = 0;
};

class OutputChannel {
 public:
  // limit: bytes the queue may hold; 0: no limit, nothing is dropped.
  OutputChannel(std::unique_ptr<OutputSink> sink, std::size_t limit);
  // Stops the thread (see stop()); what is still queued is not written.
  ~OutputChannel();
  OutputChannel(const OutputChannel&) = delete;
  OutputChannel& operator=(const OutputChannel&) = delete;

  // Queues text, a whole piece written by one write: lines, an event, or a
  // frame of the bar. False when the queue is full and text is dropped,
  // counted as the lines it stands for (its line ends, or lines: 0 for a
  // frame of the bar). Never waits for the target.
  bool push(std::string text) {
    const std::size_t lines = line_count(text);
    return push_counted(std::move(text), lines);
  }
  bool push(std::string text, std::size_t lines) { return push_counted(std::move(text), lines); }
  // Queues text past the limit: the few last lines of a run.
  void push_always(std::string text);
  // Waits until everything queued is written (or failed), at most until
  // deadline; true when it was.
  bool drain(OutputClock::time_point deadline);
  // Ends the channel's thread: joined when idle, left to the end of the
  // process when it is held in a write.
  void stop();

  // Texts not written, in order: those whose write failed, the one whose
  // write has not returned, those still queued. They leave the channel:
  // the caller reports them instead.
  std::vector<std::string> take_unwritten();
  std::size_t dropped_lines() const;  // lost to a full queue
  std::size_t failed_lines() const;   // lost to a failed write
  std::string failure() const;        // the reason of the first failed write

  struct State;

 private:
  bool push_counted(std::string text, std::size_t lines);

  std::shared_ptr<State> state_;  // shared with the thread, which may outlive the channel
};

// Bytes the queues of standard output and error hold: a few seconds of the
// fastest progress events, far more than a terminal that keeps up needs.
constexpr std::size_t STANDARD_QUEUE_LIMIT = 64 * 1024;
// Bytes the trace's queue holds: some hundred data frames in hexadecimal.
constexpr std::size_t TRACE_QUEUE_LIMIT = 1024 * 1024;

// Standard output and error as channels; one channel when both are the same
// terminal, so that their lines keep their order around the progress bar.
class StandardStreams {
 public:
  StandardStreams();
  OutputChannel& out() { return *out_; }
  OutputChannel& err() { return err_ ? *err_ : *out_; }

 private:
  std::unique_ptr<OutputChannel> out_;
  std::unique_ptr<OutputChannel> err_;  // null: standard error shares out_
};

// The platform part (posix/ or win32/log_io.cpp).
enum class StandardStream { OUTPUT_STREAM, ERROR_STREAM };
// A sink on the process's standard output or error, written without the C
// library's streams (whose buffers the process's end would flush).
std::unique_ptr<OutputSink> standard_sink(StandardStream stream);
// Opens path for writing from its start (created, or emptied), never waiting
// in the opening (a FIFO without a reader); null, with the refusal, for a
// FIFO, a folder, a device other than the null device, or what the system
// refuses. role names the file in the refusal ("trace").
std::unique_ptr<OutputSink> open_output_file(const std::string& path, const char* role,
                                             std::string* refusal);

}  // namespace imgload
