// A service control manager without Windows: services with scripted behaviour, for the tests and
// the terminal runner.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/portable/clocks.h"
#include "platform/system.h"

namespace finprep::portable {

struct SimulatedService {
  // What a start request does to a stopped service.
  enum class Start {
    // "Start pending" for `pending_queries` status queries, then running.
    Normally,
    // The request fails (a disabled service); the service stays stopped.
    Refused,
    // Start pending for ever.
    HangsPending,
  };

  std::uint32_t state = kServiceStopped;
  Start start = Start::Normally;
  int pending_queries = 1;
};

class SimulatedServiceManager : public ServiceManager {
 public:
  // Installs (or replaces) a service.
  void AddService(const std::string& name, SimulatedService service);
  const SimulatedService* Find(const std::string& name) const;

  // Opening the manager fails when set (then opening a service fails with "invalid handle").
  bool manager_open_fails = false;
  // When not 0, opening any service fails with this Windows error code.
  std::uint32_t service_open_error = 0;
  // Every status query fails.
  bool status_query_fails = false;
  // Advances `clock` by `ms` at every status query, so a bounded wait can be tested without
  // sleeping.
  void AdvanceClockPerQuery(ManualClock* clock, std::int64_t ms) {
    clock_ = clock;
    ms_per_query_ = ms;
  }

  ServiceHandle OpenSCManager(std::uint32_t access) override;
  ServiceHandle OpenService(ServiceHandle manager, const std::string& name,
                            std::uint32_t access) override;
  std::uint32_t LastError() override { return last_error_; }
  bool QueryServiceStatus(ServiceHandle service, std::uint32_t* current_state) override;
  bool StartService(ServiceHandle service) override;
  void CloseServiceHandle(ServiceHandle handle) override;

  int status_queries() const { return status_queries_; }
  int start_requests() const { return start_requests_; }
  // Handles opened and not yet closed.
  int open_handles() const { return static_cast<int>(handles_.size()); }

 private:
  struct Handle {
    bool manager;
    std::string service;
  };
  SimulatedService* ServiceOf(ServiceHandle handle);

  std::map<std::string, SimulatedService> services_;  // by lower-case name
  std::map<ServiceHandle, Handle> handles_;
  ServiceHandle next_handle_ = 0x100;
  std::uint32_t last_error_ = 0;
  ManualClock* clock_ = nullptr;
  std::int64_t ms_per_query_ = 0;
  int status_queries_ = 0;
  int start_requests_ = 0;
};

}  // namespace finprep::portable
