// Monotonic time on Windows: the performance counter and Sleep.
#include <windows.h>

#include "platform/clock.h"

namespace zp3k {

double now_ms() {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER count{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void sleep_until(double when_ms, const volatile std::sig_atomic_t* stop) {
  for (;;) {
    const double left = when_ms - now_ms();
    if (left <= 0 || (stop != nullptr && *stop)) return;
    Sleep(static_cast<DWORD>(left) + 1);
  }
}

}  // namespace zp3k
