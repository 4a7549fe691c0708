// The host's log without a host: keeps every line, and echoes it to a stream when given one.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/system.h"

namespace finprep::portable {

class RecordingHostLog : public HostLog {
 public:
  struct Line {
    int level;
    std::string message;
  };

  explicit RecordingHostLog(std::ostream* echo = nullptr) : echo_(echo) {}

  void WriteLog(int level, const std::string& message) override {
    lines_.push_back({level, message});
    if (echo_) *echo_ << "[log " << level << "] " << message << '\n';
  }

  const std::vector<Line>& lines() const { return lines_; }
  void Clear() { lines_.clear(); }

 private:
  std::ostream* echo_;
  std::vector<Line> lines_;
};

}  // namespace finprep::portable
