// The stop signals of the Linux command line: Ctrl-C, SIGTERM or SIGHUP
// once asks every port to stop after its current file; a second of any of
// them ends at once, after putting each port's line settings back. Before
// the downloads start, a signal ends the process as it would by default.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <thread>

#include "cli/program.h"
#include "imgload/cli/stop_signals.h"

namespace imgload {
namespace {

const int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// What the signal thread acts on: nothing until the downloads are set up.
// Program-wide, as the signals are.
struct Targets {
  std::mutex mutex;
  bool held = false;                    // the signal thread runs
  std::unique_ptr<StopTarget> target;  // null: a signal ends the process
};
Targets targets;

sigset_t stop_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : STOP_SIGNALS) sigaddset(&set, sig);
  return set;
}

// The signal's own action, as if it had never been blocked: the process
// ends by it.
[[noreturn]] void end_by_default(int sig) {
  signal(sig, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(sig);
  _exit(128 + sig);  // not reached: the signal ended the process
}

// Signals are taken by this thread only, which never waits for the output
// (a note is queued). The ports belong to the download threads: ending the
// process puts their settings back but leaves their closing to the system
// (which drops DTR) instead of closing them under those threads.
void signal_thread(sigset_t set) {
  int presses = 0;
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    std::unique_lock<std::mutex> lock(targets.mutex);
    if (targets.target == nullptr) {
      lock.unlock();
      end_by_default(sig);
    }
    const StopTarget target = *targets.target;
    if (++presses == 1) {
      // Under the lock: the run withdraws its target before its parts go.
      target.stop_requested->store(1);
      if (target.note) target.note(stop_note(target));
      continue;
    }
    lock.unlock();  // the functions below reach the run only while it lasts
    const int status = sig == SIGINT ? zp3k::EXIT_INTERRUPTED : 128 + sig;
    if (target.end_ports) target.end_ports(status);
    if (target.note) target.note(ended_note(target));
    // The output goes through its queues, not the C library's streams: what
    // is queued is written within a bound, then the process ends.
    if (target.finish_output) target.finish_output();
    _exit(status);
  }
}

}  // namespace

// Threads inherit the mask: blocked here, the signals reach no thread but
// the one that takes them.
void hold_stop_signals() {
  std::lock_guard<std::mutex> lock(targets.mutex);
  if (targets.held) return;
  targets.held = true;
  const sigset_t set = stop_signal_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(signal_thread, set).detach();
}

void start_stop_signals(const StopTarget& target) {
  hold_stop_signals();
  std::lock_guard<std::mutex> lock(targets.mutex);
  targets.target = std::make_unique<StopTarget>(target);
}

void release_stop_signals() {
  std::lock_guard<std::mutex> lock(targets.mutex);
  targets.target.reset();
}

}  // namespace imgload
