// Monotonic time in milliseconds and a sleep until such a time: the serial
// port's deadlines and the simulator's pace of the line. One implementation
// per platform (posix/ or win32/clock.cpp).
#pragma once

#include <csignal>

namespace zp3k {

// Milliseconds since an arbitrary start, with their fraction.
double now_ms();

// Sleeps until when_ms (now_ms's clock), through interruptions; returns
// early once *stop (when given) is set.
void sleep_until(double when_ms, const volatile std::sig_atomic_t* stop = nullptr);

}  // namespace zp3k
