// The progress view of the command line: a bar with blocks, bytes per
// second and time left on a terminal (with several ports, one row per port,
// redrawn in place), plain lines otherwise, or one JSON event per line for
// scripts. Status texts are printed in UTF-8 with their English gloss. All of
// it is queued for the output channels, never written by a download.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/json.h"
#include "image/safe_text.h"
#include "imgload/cli/output_queue.h"
#include "imgload/download/progress_view.h"
#include "imgload/download/status_line.h"

namespace imgload {

using zp3k::json_string;
using zp3k::JsonObject;
using zp3k::utc_time_text;

enum class ViewStyle { BAR, LINES, JSON };


// The output every port's view shares: standard output and error, each a
// queue that a thread of its own writes out, and one lock over what is shown.
// With several ports drawn as bars, each port has a row that is redrawn in
// place; other lines are written above the rows. Nothing here waits for the
// terminal or a pipe: a queue that is full drops what comes, whole.
class Terminal {
 public:
  // out and err may be one channel (one terminal). quiet (-q): the views
  // show only each port's last line, and the ports get no rows.
  Terminal(ViewStyle style, OutputChannel& out, OutputChannel& err, int rows = 0,
           bool quiet = false);
  ViewStyle style() const { return style_; }
  bool has_rows() const { return !rows_.empty(); }
  bool quiet() const { return quiet_; }

  // A line of its own on standard output (a note, a status, a file), or a
  // JSON event (its "time" added last, when it is queued). keep: queued even
  // when the queue is full, for the few last lines of a run.
  void line(const std::string& text, bool keep = false);
  void json(const JsonObject& event, bool keep = false);
  // A line on standard error, or whole lines (each with its line end).
  void error(const std::string& text, bool keep = false) { error_lines(text + "\n", keep); }
  void error_lines(const std::string& lines, bool keep = false);
  // Row index shows text (the rows are redrawn).
  void row(int index, const std::string& text);
  // The single bar line, rewritten in place; done ends it.
  void bar(const std::string& text, bool done);
  // The rows stay as they are; later lines go below them.
  void leave_rows();

  // Lines lost so far to a full queue (bar frames are not lines).
  std::size_t dropped_lines() const;
  // Waits until all that is queued is written, at most until deadline.
  bool drain(OutputClock::time_point deadline);

 private:
  void put_below_rows(const std::string& lines, bool keep);
  bool queue(OutputChannel& channel, std::string text, std::size_t lines, bool keep);
  std::string erased_rows() const;
  std::string drawn_rows() const;

  ViewStyle style_;
  OutputChannel& out_;
  OutputChannel& err_;
  bool quiet_;
  std::mutex mutex_;
  std::vector<std::string> rows_;
  // What the queued output leaves on the screen: changed only by what was queued.
  std::size_t rows_drawn_ = 0;
  bool bar_shown_ = false;
};

class TerminalView : public ProgressView {
 public:
  // port: the device, named on every line and event when several ports run
  // (empty: one port, nothing added); row: its row on the terminal.
  TerminalView(Terminal& terminal, std::string port = "", int row = 0)
      : terminal_(terminal), port_(std::move(port)), row_(row) {}

  void run_started(int) override;
  void transfer_started() override;
  void file_started(int number, const char* path, std::uint32_t blocks) override;
  void block_sent(std::uint32_t number, std::uint32_t total) override;
  void file_sent(int) override;
  void file_finished(int, bool another_follows) override {
    if (another_follows) blocks_phase_ = false;
  }
  void ended(const DownloadResult& result) override;
  // A note of the front end (stop request), kept apart from the bar; shown
  // also with -q.
  void note(const std::string& text);
  // A JSON event of this port, "event" first after the port (JSON style only).
  JsonObject event(const char* name) const;
  void json_event(const JsonObject& event, bool keep = false);

 private:
  void show_status(const StatusText& status, const std::string& gloss, bool last);
  void render(bool force);
  std::string prefix() const { return port_.empty() ? std::string() : "[" + port_ + "] "; }

  Terminal& terminal_;
  std::string port_;
  int row_;
  int file_number_ = 0;
  std::uint32_t blocks_ = 0;    // data requests of the file
  std::uint32_t accepted_ = 0;  // of them accepted by the controller
  bool blocks_phase_ = false;
  bool notice_shown_ = false;   // the transfer notice, once per run
  int last_tenth_ = -1;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point last_render_;
};

// A text on one line: line breaks become spaces.
std::string one_line(const std::string& text);
}  // namespace imgload
