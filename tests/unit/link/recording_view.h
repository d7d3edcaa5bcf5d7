// A progress view that records every call, for tests of the status output.
#pragma once

#include <string>
#include <vector>

#include "imgload/download/progress_view.h"

namespace imgload {
namespace testing {

struct ViewEvent {
  enum Kind { TEXT, RESET, STEP } kind;
  int control;       // TEXT
  std::string text;  // TEXT
  unsigned maximum;  // RESET
};

class RecordingView : public ProgressView {
 public:
  void set_text(int control_id, const char* text) override {
    events.push_back({ViewEvent::TEXT, control_id, text, 0});
  }
  void progress_reset(unsigned maximum) override {
    events.push_back({ViewEvent::RESET, 0, "", maximum});
  }
  void progress_step() override { events.push_back({ViewEvent::STEP, 0, "", 0}); }

  std::vector<ViewEvent> events;
};

}  // namespace testing
}  // namespace imgload
