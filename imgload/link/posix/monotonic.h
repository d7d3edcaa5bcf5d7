// Milliseconds on the monotonic clock and a sleep until such a time: the
// POSIX serial port's deadlines and the simulator's pace of the line.
#pragma once

#include <time.h>

#include <csignal>

namespace zp3k {

// Milliseconds since an arbitrary start, with their fraction.
inline double now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Sleeps until when_ms (now_ms's clock), through interruptions; returns
// early once *stop (when given) is set.
inline void sleep_until(double when_ms, const volatile std::sig_atomic_t* stop = nullptr) {
  for (;;) {
    const double left = when_ms - now_ms();
    if (left <= 0 || (stop != nullptr && *stop)) return;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(left / 1000.0);
    ts.tv_nsec = static_cast<long>((left - static_cast<double>(ts.tv_sec) * 1000.0) * 1e6);
    nanosleep(&ts, nullptr);
  }
}

}  // namespace zp3k
