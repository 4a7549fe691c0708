#pragma once

#include "platform/system.h"

namespace finprep::portable {

// The real monotonic clock; Sleep blocks the thread.
class SystemClock : public Clock {
 public:
  std::int64_t NowMs() override;
  void Sleep(std::int64_t ms) override;
};

// A clock that only moves when told: Sleep advances it at once, so no test waits.
class ManualClock : public Clock {
 public:
  std::int64_t NowMs() override { return now_ms_; }
  void Sleep(std::int64_t ms) override {
    if (ms > 0) {
      now_ms_ += ms;
      slept_ms_ += ms;
    }
  }
  void Advance(std::int64_t ms) { now_ms_ += ms; }
  // The total of all Sleep calls: the time the thread spent blocked.
  std::int64_t slept_ms() const { return slept_ms_; }

 private:
  std::int64_t now_ms_ = 0;
  std::int64_t slept_ms_ = 0;
};

}  // namespace finprep::portable
