// The Linux command line's progress view.
#include "imgload/cli/terminal_view.h"

#include <cstring>

#include "imgload/cli/outcome.h"
#include "imgload/download/messages.h"
#include "imgload/link/protocol.h"

namespace imgload {

namespace {

constexpr int BAR_WIDTH = 30;                              // characters
constexpr std::chrono::milliseconds RENDER_INTERVAL{100};  // ms between bar redraws

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

std::string one_line(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

Terminal::Terminal(ViewStyle style, OutputChannel& out, OutputChannel& err, int rows, bool quiet)
    : style_(style),
      out_(out),
      err_(err),
      quiet_(quiet),
      rows_(style == ViewStyle::BAR && !quiet ? static_cast<std::size_t>(rows) : 0) {}

bool Terminal::queue(OutputChannel& channel, std::string text, std::size_t lines, bool keep) {
  if (!keep) return channel.push(std::move(text), lines);
  channel.push_always(std::move(text));
  return true;
}

// The rows are the last lines written: move up over them and clear.
std::string Terminal::erased_rows() const {
  if (rows_drawn_ == 0) return std::string();
  return "\x1b[" + std::to_string(rows_drawn_) + "A\r\x1b[J";
}

std::string Terminal::drawn_rows() const {
  std::string text;
  for (const std::string& r : rows_) text += r + "\x1b[K\n";
  return text;
}

// Lines on standard output, after the bar's line is ended and the rows
// erased, the rows drawn again below them; all in one piece, so that a piece
// dropped leaves the screen as the state says. Called with the mutex held.
void Terminal::put_below_rows(const std::string& lines, bool keep) {
  std::string piece = (bar_shown_ ? "\n" : "") + erased_rows() + lines;
  if (has_rows()) piece += drawn_rows();
  if (!queue(out_, std::move(piece), line_count(lines), keep)) return;
  bar_shown_ = false;
  rows_drawn_ = rows_.size();
}

void Terminal::line(const std::string& text, bool keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  put_below_rows(text + "\n", keep);
}

void Terminal::error_lines(const std::string& lines, bool keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (&err_ == &out_) {
    put_below_rows(lines, keep);  // one terminal: kept clear of the bar and the rows
  } else {
    queue(err_, lines, line_count(lines), keep);
  }
}

void Terminal::json(const JsonObject& event, bool keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (style_ != ViewStyle::JSON) return;
  const std::string now = utc_time_text(std::chrono::system_clock::now());
  queue(out_, JsonObject(event).text("time", now).str() + "\n", 1, keep);
}

void Terminal::row(int index, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || index >= static_cast<int>(rows_.size())) return;
  rows_[static_cast<std::size_t>(index)] = text;
  // A frame: when it is dropped, the next one draws the rows anew.
  if (out_.push(erased_rows() + drawn_rows(), 0)) rows_drawn_ = rows_.size();
}

void Terminal::leave_rows() {
  std::lock_guard<std::mutex> lock(mutex_);
  rows_.clear();
  rows_drawn_ = 0;
}

void Terminal::bar(const std::string& text, bool done) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string piece = "\r" + text + "\x1b[K" + (done ? "\n" : "");
  if (out_.push(std::move(piece), done ? 1 : 0)) bar_shown_ = !done;
}

std::size_t Terminal::dropped_lines() const {
  return out_.dropped_lines() + (&err_ == &out_ ? 0 : err_.dropped_lines());
}

bool Terminal::drain(OutputClock::time_point deadline) {
  const bool out_drained = out_.drain(deadline);
  return (&err_ == &out_ || err_.drain(deadline)) && out_drained;
}

JsonObject TerminalView::event(const char* name) const {
  JsonObject e;
  if (!port_.empty()) e.text("port", port_);
  return e.text("event", name);
}

void TerminalView::json_event(const JsonObject& event, bool keep) { terminal_.json(event, keep); }

// The row's text stays the dialog's ("ダウンロード正常終了" after a stop);
// the gloss says how many files went. The last line of a port is kept even
// when the output is not read.
void TerminalView::ended(const DownloadResult& result) {
  show_status(status_for(result), outcome_of(result).gloss, true);
}

void TerminalView::show_status(const StatusText& status, const std::string& gloss, bool last) {
  const std::string text = status_text(status);
  if (terminal_.style() == ViewStyle::JSON) {
    terminal_.json(event("status").text("text", text).text("gloss", gloss), last);
  } else if (terminal_.has_rows()) {
    terminal_.row(row_, port_ + "  " + one_line(text));
  } else {
    terminal_.line(prefix() + one_line(text) + (gloss.empty() ? "" : " [" + gloss + "]"), last);
  }
}

void TerminalView::run_started(int) {
  blocks_phase_ = false;
  notice_shown_ = false;
}

// "AD" goes out again after each failed try: the notice is shown at the first.
void TerminalView::transfer_started() {
  if (notice_shown_) return;
  notice_shown_ = true;
  if (terminal_.quiet()) return;
  StatusText notice;
  notice.kind = StatusText::TRANSFER_NOTICE;
  show_status(notice, status_gloss(notice), false);
}

void TerminalView::file_started(int number, const char* path, std::uint32_t blocks) {
  file_number_ = number;
  blocks_ = blocks;
  accepted_ = 0;
  last_tenth_ = -1;
  blocks_phase_ = true;
  started_ = std::chrono::steady_clock::now();
  last_render_ = started_ - RENDER_INTERVAL;
  if (terminal_.quiet()) return;
  const std::string label = "No." + std::to_string(number);
  if (terminal_.style() == ViewStyle::JSON) {
    terminal_.json(event("file").text("label", label).number("number", number).text("path", path));
  } else if (terminal_.has_rows()) {  // a path comes from the user: its control characters escaped
    terminal_.row(row_, port_ + "  " + label + " " + zp3k::terminal_text(path));
  } else {
    terminal_.line(prefix() + label + " " + zp3k::terminal_text(path));
  }
}

// Request `number` goes out: those before it were accepted. The rate counts
// from the first request.
void TerminalView::block_sent(std::uint32_t number, std::uint32_t) {
  if (number == 1) started_ = std::chrono::steady_clock::now();
  accepted_ = number > blocks_ ? blocks_ : number - 1;
  render(false);
}

// Every block accepted: the only moment the progress is whole.
void TerminalView::file_sent(int) {
  accepted_ = blocks_;
  render(true);
}

void TerminalView::render(bool force) {
  if (!blocks_phase_ || blocks_ == 0 || terminal_.quiet()) return;
  const double elapsed = seconds_since(started_);
  const double bytes = static_cast<double>(accepted_) * DATA_BLOCK_SIZE;
  const double rate = elapsed > 0 ? bytes / elapsed : 0;
  const double left = rate > 0 ? (static_cast<double>(blocks_ - accepted_) * DATA_BLOCK_SIZE) / rate : 0;
  char text[256];
  switch (terminal_.style()) {
    case ViewStyle::JSON:
      terminal_.json(event("progress").number("file", file_number_)
                         .number("position", accepted_).number("maximum", blocks_)
                         .number("blocks_sent", accepted_).number("blocks", blocks_)
                         .number("bytes_per_second", rate, 0).number("seconds_left", left, 1));
      return;
    case ViewStyle::LINES: {
      const int tenth = static_cast<int>(std::uint64_t{accepted_} * 10 / blocks_);
      if (tenth == last_tenth_ && !force) return;
      last_tenth_ = tenth;
      std::snprintf(text, sizeof text, "No.%d %3u%%  %u/%u blocks  %.0f bytes/s  %.0f s left",
                    file_number_, static_cast<unsigned>(std::uint64_t{accepted_} * 100 / blocks_),
                    accepted_, blocks_, rate, left);
      terminal_.line(prefix() + text);
      return;
    }
    case ViewStyle::BAR: {
      const auto now = std::chrono::steady_clock::now();
      if (!force && now - last_render_ < RENDER_INTERVAL) return;
      last_render_ = now;
      const int filled = static_cast<int>(std::uint64_t{accepted_} * BAR_WIDTH / blocks_);
      char bar[BAR_WIDTH + 1];
      for (int i = 0; i < BAR_WIDTH; ++i) bar[i] = i < filled ? '#' : '-';
      bar[BAR_WIDTH] = '\0';
      const int secs = static_cast<int>(left + 0.5);
      std::snprintf(text, sizeof text, "  [%s] %u/%u blocks  %.1f KiB/s  %d:%02d left", bar,
                    accepted_, blocks_, rate / 1024.0, secs / 60, secs % 60);
      if (terminal_.has_rows()) {
        terminal_.row(row_, port_ + "  No." + std::to_string(file_number_) + text);
      } else {
        terminal_.bar(text, accepted_ == blocks_);
      }
      return;
    }
  }
}

// A stop note is kept even when the output is not read: there are two at most.
void TerminalView::note(const std::string& text) {
  if (terminal_.style() == ViewStyle::JSON) {
    terminal_.json(event("note").text("text", text), true);
  } else {
    terminal_.line(text, true);
  }
}

}  // namespace imgload
