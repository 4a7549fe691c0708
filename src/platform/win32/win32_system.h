// System components on Windows: files through CreateFileW, the service control manager, dynamic
// libraries, the tick clock.
#pragma once

#include "platform/win32/windows_api.h"

#include "platform/system.h"

namespace finprep::win32 {

class Win32FileSystem : public FileSystem {
 public:
  std::unique_ptr<FileStream> OpenRead(const std::string& path) override;
  std::unique_ptr<FileStream> Create(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  std::string Separator() const override { return "\\"; }
};

// The calls of advapi32 with the values the caller gives.  The reason of a failed open is kept
// at once, before any other call can overwrite the thread's last error.
class Win32ServiceManager : public ServiceManager {
 public:
  ServiceHandle OpenSCManager(std::uint32_t access) override;
  ServiceHandle OpenService(ServiceHandle manager, const std::string& name,
                            std::uint32_t access) override;
  std::uint32_t LastError() override { return last_error_; }
  bool QueryServiceStatus(ServiceHandle service, std::uint32_t* current_state) override;
  bool StartService(ServiceHandle service) override;
  void CloseServiceHandle(ServiceHandle handle) override;

 private:
  std::uint32_t last_error_ = 0;
};

// Libraries whose exports hand over a string as `void __stdcall (char** value)`: the callee
// stores a zero-terminated ANSI string allocated with CoTaskMemAlloc, which the caller copies and
// frees with CoTaskMemFree.
class Win32LibraryLoader : public LibraryLoader {
 public:
  std::string ExeFolder() override;
  std::unique_ptr<Library> Load(const std::string& path) override;
};

class Win32Clock : public Clock {
 public:
  std::int64_t NowMs() override;
  void Sleep(std::int64_t ms) override;
};

}  // namespace finprep::win32
