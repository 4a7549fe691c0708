// Plays the SQL Server service in the test prefix: registers itself as "MSSQLServer" and, when
// the service manager starts it, reports "start pending" for a given time before "running".
// It accepts stop, pause and continue.
//
//   testservice.exe install <start delay ms> [disabled]   register (an older registration goes)
//   testservice.exe remove                                stop if needed and unregister
//   testservice.exe start [--no-wait]                     start; wait until running unless told
//   testservice.exe pause                                 pause; wait until paused
//   testservice.exe state                                 print "state <current state>"
//   testservice.exe run <start delay ms>                  the service itself (service manager)
//
// Exit code 0 on success; on failure 1 and a line naming the call and the error code.
#include <cstdlib>
#include <string>

#include "testkit.h"

namespace {

constexpr const wchar_t* kName = L"MSSQLServer";
constexpr DWORD kWaitMs = 30000;

// ---- The service ----

SERVICE_STATUS_HANDLE status_handle = nullptr;
SERVICE_STATUS status{};
HANDLE stop_event = nullptr;
DWORD start_delay_ms = 0;

void Report(DWORD state) {
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_START_PENDING
                                  ? SERVICE_ACCEPT_STOP
                                  : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
  status.dwWin32ExitCode = NO_ERROR;
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
  status.dwWaitHint = pending ? 1000 : 0;
  SetServiceStatus(status_handle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      Report(SERVICE_STOP_PENDING);
      SetEvent(stop_event);
      return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
      Report(SERVICE_PAUSED);
      return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
      Report(SERVICE_RUNNING);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  status_handle = RegisterServiceCtrlHandlerExW(kName, &Control, nullptr);
  if (!status_handle) return;
  stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_START_PENDING);
  // Start pending for the delay, with a fresh checkpoint now and then; a stop ends it.
  const ULONGLONG until = GetTickCount64() + start_delay_ms;
  for (ULONGLONG now = GetTickCount64(); now < until; now = GetTickCount64()) {
    const DWORD slice = static_cast<DWORD>(until - now < 250 ? until - now : 250);
    if (WaitForSingleObject(stop_event, slice) == WAIT_OBJECT_0) {
      Report(SERVICE_STOPPED);
      return;
    }
    Report(SERVICE_START_PENDING);
  }
  Report(SERVICE_RUNNING);
  WaitForSingleObject(stop_event, INFINITE);
  Report(SERVICE_STOPPED);
}

int RunService(DWORD delay_ms) {
  start_delay_ms = delay_ms;
  wchar_t name[] = L"MSSQLServer";
  SERVICE_TABLE_ENTRYW table[] = {{name, &ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

// ---- Control ----

int Fail(const char* call) {
  testkit::Out(std::string(call) + " failed: error " + std::to_string(GetLastError()));
  return 1;
}

DWORD CurrentState(SC_HANDLE service) {
  SERVICE_STATUS now{};
  return QueryServiceStatus(service, &now) ? now.dwCurrentState : 0;
}

bool WaitForState(SC_HANDLE service, DWORD state) {
  const ULONGLONG until = GetTickCount64() + kWaitMs;
  while (CurrentState(service) != state) {
    if (GetTickCount64() > until) return false;
    Sleep(20);
  }
  return true;
}

class Handle {
 public:
  explicit Handle(SC_HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_) CloseServiceHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

int Remove(SC_HANDLE manager) {
  {
    Handle service(OpenServiceW(manager, kName, SERVICE_ALL_ACCESS));
    if (!service.get()) {
      return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : Fail("OpenService");
    }
    if (CurrentState(service.get()) != SERVICE_STOPPED) {
      SERVICE_STATUS ignored{};
      ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
      if (!WaitForState(service.get(), SERVICE_STOPPED)) return Fail("stopping the service");
    }
    if (!DeleteService(service.get())) return Fail("DeleteService");
  }
  // The registration goes once the last handle is closed.
  const ULONGLONG until = GetTickCount64() + kWaitMs;
  for (;;) {
    Handle service(OpenServiceW(manager, kName, SERVICE_QUERY_STATUS));
    if (!service.get() && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return 0;
    if (GetTickCount64() > until) return Fail("waiting for the removal");
    Sleep(20);
  }
}

int Install(SC_HANDLE manager, const std::wstring& delay, bool disabled) {
  if (Remove(manager) != 0) return 1;
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring command = L"\"" + std::wstring(exe) + L"\" run " + delay;
  Handle service(
      CreateServiceW(manager, kName, kName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                     disabled ? SERVICE_DISABLED : SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                     command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  return service.get() ? 0 : Fail("CreateService");
}

int Control(SC_HANDLE manager, const std::wstring& command, bool wait) {
  Handle service(OpenServiceW(manager, kName, SERVICE_ALL_ACCESS));
  if (!service.get()) return Fail("OpenService");
  if (command == L"state") {
    testkit::Out("state " + std::to_string(CurrentState(service.get())));
    return 0;
  }
  if (command == L"start") {
    if (!StartServiceW(service.get(), 0, nullptr)) return Fail("StartService");
    if (wait && !WaitForState(service.get(), SERVICE_RUNNING)) return Fail("waiting for running");
    return 0;
  }
  if (command == L"pause") {
    SERVICE_STATUS ignored{};
    if (!ControlService(service.get(), SERVICE_CONTROL_PAUSE, &ignored)) {
      return Fail("ControlService");
    }
    return WaitForState(service.get(), SERVICE_PAUSED) ? 0 : Fail("waiting for paused");
  }
  testkit::Out("unknown command");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    testkit::Out("usage: testservice.exe install|remove|start|pause|state|run ...");
    return 2;
  }
  const std::wstring command = argv[1];
  if (command == L"run") return RunService(argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 0);

  Handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager.get()) return Fail("OpenSCManager");
  if (command == L"install") {
    if (argc < 3) return 2;
    return Install(manager.get(), argv[2], argc > 3 && std::wstring(argv[3]) == L"disabled");
  }
  if (command == L"remove") return Remove(manager.get());
  const bool wait = !(argc > 2 && std::wstring(argv[2]) == L"--no-wait");
  return Control(manager.get(), command, wait);
}
