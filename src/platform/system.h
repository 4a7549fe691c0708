// System components: files, the service manager, dynamic libraries, the clock and the host's log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace finprep {

// An open file.  Reads and writes report what they did through their byte counts.
class FileStream {
 public:
  virtual ~FileStream() = default;
  virtual std::int64_t Size() = 0;
  virtual std::int64_t Position() = 0;
  virtual void Seek(std::int64_t position) = 0;
  // Returns the number of bytes read (0 at the end of the file or on a read error).
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Returns the number of bytes written (fewer than asked when the disk is full).
  virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  // Closing a closed stream does nothing; the destructor closes too.
  virtual void Close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens an existing file for reading with no sharing: fails while the file is open elsewhere,
  // and nobody else can open it while this stream lives.  Throws FileError naming the file.
  virtual std::unique_ptr<FileStream> OpenRead(const std::string& path) = 0;
  // Creates (or truncates) a file for reading and writing with no sharing.  Creates no folder.
  // Throws FileError naming the file.
  virtual std::unique_ptr<FileStream> Create(const std::string& path) = 0;
  // Deletes a file; false when it could not be deleted.
  virtual bool DeleteFile(const std::string& path) = 0;
  // The path separator of the platform's paths ("\\" on Windows, "/" elsewhere).
  virtual std::string Separator() const = 0;
};

// The service control manager, with the calls and values of the Windows API.
using ServiceHandle = std::uintptr_t;

constexpr std::uint32_t kScManagerEnumerateService = 4;
constexpr std::uint32_t kServiceQueryStatusAndStart = 20;  // SERVICE_QUERY_STATUS | SERVICE_START

constexpr std::uint32_t kServiceStopped = 1;
constexpr std::uint32_t kServiceStartPending = 2;
constexpr std::uint32_t kServiceStopPending = 3;
constexpr std::uint32_t kServiceRunning = 4;
constexpr std::uint32_t kServiceContinuePending = 5;
constexpr std::uint32_t kServicePausePending = 6;
constexpr std::uint32_t kServicePaused = 7;

constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // Each returns 0 on failure, with the reason in LastError().
  virtual ServiceHandle OpenSCManager(std::uint32_t access) = 0;
  virtual ServiceHandle OpenService(ServiceHandle manager, const std::string& name,
                                    std::uint32_t access) = 0;
  virtual std::uint32_t LastError() = 0;
  // The service's current state; false when the query failed.
  virtual bool QueryServiceStatus(ServiceHandle service, std::uint32_t* current_state) = 0;
  virtual bool StartService(ServiceHandle service) = 0;
  virtual void CloseServiceHandle(ServiceHandle handle) = 0;
};

// A loaded dynamic library; the destructor releases it.
class Library {
 public:
  virtual ~Library() = default;
  // Calls the export `name` of the form `void __stdcall (char** value)`, which hands over a
  // string.  Returns false, without calling anything, when the export is missing.
  virtual bool CallStringExport(const std::string& name, std::string* value) = 0;
};

class LibraryLoader {
 public:
  virtual ~LibraryLoader() = default;
  // The folder of the host program's executable file, with its trailing separator.
  virtual std::string ExeFolder() = 0;
  // Loads a library by its full path; nullptr when it cannot be loaded.
  virtual std::unique_ptr<Library> Load(const std::string& path) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start.
  virtual std::int64_t NowMs() = 0;
  // Blocks the calling thread; no messages are processed meanwhile.
  virtual void Sleep(std::int64_t ms) = 0;
};

// The host's log (host-instance edition): WriteLog of the host library.
class HostLog {
 public:
  virtual ~HostLog() = default;
  virtual void WriteLog(int level, const std::string& message) = 0;
};

}  // namespace finprep
