// The program-wide state of a download: the job, the stop request, the
// sequencer's phase and counters, and the clock and trace a front end sets.
#include "imgload/download/download_job.h"
#include "imgload/download/sequencer.h"

namespace imgload {

DownloadJob download_job;
std::atomic<int> stop_requested{0};
Sequencer sequencer;
Clock* download_clock = nullptr;
LinkTrace* link_trace = nullptr;

}  // namespace imgload
