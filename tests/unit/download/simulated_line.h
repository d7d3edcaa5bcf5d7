// The simulated controller behind the fake port, for sequencer tests: every
// frame the download writes goes to zp3ksim's SimController, which judges it
// and plans the reply (with any injected fault) that the fake port then
// plays back in virtual time. Records the run in the download's own words.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake_port.h"
#include "imgload/download/progress_view.h"
#include "imgload/download/sequencer.h"
#include "sim_controller.h"

namespace imgload {
namespace testing {

struct Entry {
  std::string what;     // e.g. "open 9600", "send FD00010200", "block 1/8", "end SUCCEEDED 1"
  std::uint64_t at_ms;  // virtual time
  int ticks;            // wait_tick calls before it
};

class SimulatedLine : public LinkTrace, public ProgressView, public Clock {
 public:
  SimulatedLine() { reset(); }
  // A fresh controller (model "30") with these faults ("nak@AA#1",
  // "split@FG#1,4000", ...), attached to a reset fake port with its clock.
  void reset(const std::vector<std::string>& faults = {});

  const zp3ksim::SimController& sim() const { return *sim_; }
  // Called with each request ("AD", "AA", "AB", "EF", "FG", "FD", "FDEND",
  // "AG", "RUN") and its occurrence before the controller answers it.
  std::function<void(const std::string& request, int occurrence)> on_request;
  int count(const std::string& request) const;
  std::string counts() const { return counts_of(counts_); }
  // Counts by request in the order of a run, e.g. "AD1 AA1 AB1 EF1 FG1 FD4 FDEND1 AG1 RUN1".
  static std::string counts_of(const std::map<std::string, int>& counts);
  std::vector<Bytes> images;   // each file the controller holds at its end request

  std::vector<Entry> timeline;
  // The entries starting with one of the prefixes.
  std::vector<std::string> lines(const std::vector<std::string>& prefixes = {""}) const;
  const Entry* find(const std::string& what, int nth = 1) const;
  int ticks_between(const std::string& from, int nth_from, const std::string& to, int nth_to) const;
  VirtualClock clock;
  int ticks = 0;

  // LinkTrace
  void port_opened(const char* name, std::uint32_t baud_rate, bool opened) override;
  void port_closed() override;
  void frame_sent(const std::uint8_t* frame, int length) override;
  void reply_read(const std::uint8_t* reply, int length, ReplyStatus status) override;
  // ProgressView
  void run_started(int files) override { note("run " + std::to_string(files)); }
  void transfer_started() override { note("transfer"); }
  void file_started(int number, const char* path, std::uint32_t blocks) override;
  void block_sent(std::uint32_t number, std::uint32_t total) override;
  void file_sent(int number) override { note("sent " + std::to_string(number)); }
  void file_finished(int number, bool another_follows) override;
  void ended(const DownloadResult& result) override;
  // Clock
  void wait_tick() override;
  void sleep_ms(unsigned ms) override;

  FakePort port;  // the download's port, with the controller behind it

 private:
  void on_frame(FakePort& port, const Bytes& frame);
  void note(const std::string& what) { timeline.push_back({what, clock.now_ms(), ticks}); }

  std::unique_ptr<zp3ksim::SimController> sim_;
  std::map<std::string, int> counts_;
  std::uint32_t speed_ = 0;  // of the last opening
  std::string line_problem_;
  bool vanished_ = false;
};

const char* end_name(DownloadEnd end);

}  // namespace testing
}  // namespace imgload
