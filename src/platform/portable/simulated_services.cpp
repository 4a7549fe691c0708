#include "platform/portable/simulated_services.h"

#include "platform/text.h"

namespace finprep::portable {

namespace {
constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
constexpr std::uint32_t kErrorServiceDisabled = 1058;
}  // namespace

void SimulatedServiceManager::AddService(const std::string& name, SimulatedService service) {
  services_[AsciiLower(name)] = service;
}

const SimulatedService* SimulatedServiceManager::Find(const std::string& name) const {
  auto it = services_.find(AsciiLower(name));
  return it == services_.end() ? nullptr : &it->second;
}

SimulatedService* SimulatedServiceManager::ServiceOf(ServiceHandle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end() || it->second.manager) return nullptr;
  auto service = services_.find(it->second.service);
  return service == services_.end() ? nullptr : &service->second;
}

ServiceHandle SimulatedServiceManager::OpenSCManager(std::uint32_t access) {
  (void)access;
  if (manager_open_fails) {
    last_error_ = kErrorAccessDenied;
    return 0;
  }
  const ServiceHandle handle = next_handle_++;
  handles_[handle] = Handle{true, std::string()};
  return handle;
}

ServiceHandle SimulatedServiceManager::OpenService(ServiceHandle manager, const std::string& name,
                                                   std::uint32_t access) {
  (void)access;
  auto it = handles_.find(manager);
  if (it == handles_.end() || !it->second.manager) {
    last_error_ = kErrorInvalidHandle;
    return 0;
  }
  if (service_open_error != 0) {
    last_error_ = service_open_error;
    return 0;
  }
  if (name.empty() || name.find_first_of("/\\") != std::string::npos) {
    last_error_ = kErrorInvalidName;
    return 0;
  }
  if (!Find(name)) {
    last_error_ = kErrorServiceDoesNotExist;
    return 0;
  }
  const ServiceHandle handle = next_handle_++;
  handles_[handle] = Handle{false, AsciiLower(name)};
  return handle;
}

bool SimulatedServiceManager::QueryServiceStatus(ServiceHandle handle,
                                                 std::uint32_t* current_state) {
  ++status_queries_;
  if (clock_) clock_->Advance(ms_per_query_);
  SimulatedService* service = ServiceOf(handle);
  if (!service) {
    last_error_ = kErrorInvalidHandle;
    return false;
  }
  if (status_query_fails) {
    last_error_ = kErrorAccessDenied;
    return false;
  }
  *current_state = service->state;
  // A normal start leaves "start pending" after the given number of queries has seen it.
  if (service->state == kServiceStartPending &&
      service->start == SimulatedService::Start::Normally) {
    if (--service->pending_queries <= 0) service->state = kServiceRunning;
  }
  return true;
}

bool SimulatedServiceManager::StartService(ServiceHandle handle) {
  ++start_requests_;
  SimulatedService* service = ServiceOf(handle);
  if (!service) {
    last_error_ = kErrorInvalidHandle;
    return false;
  }
  if (service->state != kServiceStopped) {
    last_error_ = kErrorServiceAlreadyRunning;
    return false;
  }
  switch (service->start) {
    case SimulatedService::Start::Refused:
      last_error_ = kErrorServiceDisabled;
      return false;
    case SimulatedService::Start::Normally:
      service->state = service->pending_queries > 0 ? kServiceStartPending : kServiceRunning;
      return true;
    case SimulatedService::Start::HangsPending:
      service->state = kServiceStartPending;
      return true;
  }
  return false;
}

void SimulatedServiceManager::CloseServiceHandle(ServiceHandle handle) { handles_.erase(handle); }

}  // namespace finprep::portable
