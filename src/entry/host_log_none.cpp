#include "entry/host_log.h"

namespace finprep {

namespace {

class NoHostLog : public HostLog {
 public:
  void WriteLog(int level, const std::string& message) override { (void)level, (void)message; }
};

}  // namespace

std::unique_ptr<HostLog> MakeEditionHostLog(HINSTANCE module_instance) {
  (void)module_instance;
  return std::make_unique<NoHostLog>();
}

}  // namespace finprep
