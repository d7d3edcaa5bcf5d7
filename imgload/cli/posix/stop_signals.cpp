// The stop signals of the Linux command line: Ctrl-C, SIGTERM or SIGHUP
// once asks every port to stop after its current file; a second of any of
// them ends at once, after putting each port's line settings back.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "imgload/cli/stop_signals.h"

namespace imgload {
namespace {

constexpr int EXIT_INTERRUPTED = 130;  // the second Ctrl-C
const int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Signals are taken by this thread only, which never waits for the output
// (a note is queued). The ports belong to the download threads: ending the process puts their settings back but leaves their
// closing to the system (which drops DTR) instead of closing them under
// those threads.
void signal_thread(sigset_t set, StopTarget target) {
  int presses = 0;
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (++presses == 1) {
      target.stop_requested->store(1);
      if (target.note) target.note(stop_note(target));
      continue;
    }
    const int status = sig == SIGINT ? EXIT_INTERRUPTED : 128 + sig;
    if (target.end_ports) target.end_ports(status);
    if (target.note) target.note(ended_note(target));
    // The output goes through its queues, not the C library's streams: what
    // is queued is written within a bound, then the process ends.
    if (target.finish_output) target.finish_output();
    _exit(status);
  }
}

}  // namespace

// Blocks the stop signals in every thread to come and starts the thread
// that alone takes them.
void start_stop_signals(const StopTarget& target) {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : STOP_SIGNALS) sigaddset(&set, sig);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(signal_thread, set, target).detach();
}

}  // namespace imgload
