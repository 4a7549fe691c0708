#include "platform/portable/clocks.h"

#include <chrono>
#include <thread>

namespace finprep::portable {

std::int64_t SystemClock::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SystemClock::Sleep(std::int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace finprep::portable
