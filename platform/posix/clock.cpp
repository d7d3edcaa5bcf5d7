// Monotonic time on POSIX: CLOCK_MONOTONIC and nanosleep.
#include <time.h>

#include "platform/clock.h"

namespace zp3k {

double now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void sleep_until(double when_ms, const volatile std::sig_atomic_t* stop) {
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
