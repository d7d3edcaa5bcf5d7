// A scripted controller for sequencer tests: it answers every request that
// the fake port receives the way a controller would, except where a test
// asks for a fault on the n-th occurrence of a request, and it records the
// run as one timeline (port, frames, texts, progress, sleeps) with the
// virtual time of each entry.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fake_port.h"
#include "imgload/download/progress_view.h"
#include "imgload/download/sequencer.h"

namespace imgload {
namespace testing {

// What the controller does with one request.
enum class Answer {
  ACK,         // the normal reply
  NAK,         // first byte NAK, correct BCC
  SILENT,      // no reply at all
  BAD_BCC,     // ACK with a wrong BCC
  OTHER_MODE,  // "AB": reports the mode that was not asked for
  LOWER_CASE,  // "AD": model-information digits in lower case
  SPLIT,       // the reply in two parts with a silent read between them
};

struct Entry {
  std::string what;      // e.g. "open /dev/fake 9600", "send FD0001", "text 1017 No.1"
  std::uint64_t at_ms;   // virtual time
};

class ScriptedController : public LinkTrace, public ProgressView, public Clock {
 public:
  ScriptedController();
  // Back to a fresh controller, attached to its fake port with its clock.
  void reset();

  // Faults: the answer to occurrence n (1-based) of a request, or to all.
  // Requests: "AD", "AA" (mode requests), "AB", "EF", "FG", "FD" (data),
  // "FDEND", "AG", "RUN".
  void answer(const std::string& request, int occurrence, Answer answer) {
    script_[{request, occurrence}] = answer;
  }
  void answer_always(const std::string& request, Answer answer) { always_[request] = answer; }
  // Called with the request and its occurrence before the controller answers.
  std::function<void(const std::string& request, int occurrence)> on_request;

  std::string model_digits = "30";  // the "AD" reply's model-information byte

  // What the controller saw.
  int count(const std::string& request) const;
  std::vector<std::string> requests;                 // in order, e.g. "AA06", "FD0003"
  std::vector<std::vector<std::uint8_t>> files;      // data of each completed file
  std::vector<std::uint32_t> end_values;             // check value of each end request
  std::vector<std::uint32_t> data_xor;               // XOR of the words of each file's data

  // The timeline.
  std::vector<Entry> timeline;
  std::vector<std::string> lines(const std::string& prefix_filter = "") const;
  std::uint64_t time_of(const std::string& what, int nth = 1) const;
  std::string last_status() const { return last_status_; }

  // LinkTrace
  void port_opened(const char* name, std::uint32_t baud_rate, bool opened) override;
  void port_closed() override;
  void frame_sent(const std::uint8_t* frame, int length) override;
  void reply_read(const std::uint8_t* reply, int length, ReplyStatus status) override;
  // ProgressView
  void run_started(int files) override;
  void transfer_started() override;
  void file_started(int number, const char* path, std::uint32_t blocks) override;
  void block_sent(std::uint32_t number, std::uint32_t total) override;
  void file_sent(int number) override;
  void file_finished(int number, bool another_follows) override;
  void waiting(Pause pause, int seconds) override;
  void ended(const DownloadResult& result) override;
  // Clock
  void wait_tick() override;
  void sleep_ms(unsigned ms) override;

  VirtualClock clock;
  FakePort port;  // the port the download under test is given
  int wait_ticks = 0;

 private:
  void on_frame(FakePort& port, const Bytes& frame);
  void note(const std::string& what) { timeline.push_back({what, clock.now_ms()}); }

  std::map<std::pair<std::string, int>, Answer> script_;
  std::map<std::string, Answer> always_;
  std::map<std::string, int> counts_;
  std::string mode_ = "00";
  std::vector<std::uint8_t> receiving_;
  std::uint32_t receiving_xor_ = 0;
  std::string last_status_;
};

}  // namespace testing
}  // namespace imgload
