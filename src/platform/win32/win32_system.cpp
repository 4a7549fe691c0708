#include "platform/win32/win32_system.h"

#include <objbase.h>

#include <vector>

#include "platform/errors.h"
#include "platform/win32/win32_text.h"

namespace finprep::win32 {

namespace {

class Win32FileStream : public FileStream {
 public:
  explicit Win32FileStream(HANDLE handle) : handle_(handle) {}
  ~Win32FileStream() override { Close(); }

  std::int64_t Size() override {
    LARGE_INTEGER size{};
    return GetFileSizeEx(handle_, &size) ? size.QuadPart : 0;
  }
  std::int64_t Position() override {
    LARGE_INTEGER zero{}, position{};
    return SetFilePointerEx(handle_, zero, &position, FILE_CURRENT) ? position.QuadPart : 0;
  }
  void Seek(std::int64_t position) override {
    LARGE_INTEGER to{};
    to.QuadPart = position;
    SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN);
  }

  std::size_t Read(void* buffer, std::size_t count) override {
    DWORD read = 0;
    const DWORD ask = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
    if (!ReadFile(handle_, buffer, ask, &read, nullptr)) return 0;
    return read;
  }

  std::size_t Write(const void* buffer, std::size_t count) override {
    const char* p = static_cast<const char*>(buffer);
    std::size_t written = 0;
    while (written < count) {
      const std::size_t rest = count - written;
      DWORD done = 0;
      if (!WriteFile(handle_, p + written, rest > MAXDWORD ? MAXDWORD : static_cast<DWORD>(rest),
                     &done, nullptr) ||
          done == 0) {
        break;
      }
      written += done;
    }
    return written;
  }

  void Close() override {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
  }

 private:
  HANDLE handle_;
};

std::unique_ptr<FileStream> OpenFile(const std::string& path, DWORD access, DWORD disposition,
                                     const char* what) {
  // Share mode 0: nobody else may open the file while the stream holds it.
  const HANDLE handle = CreateFileW(Widen(path).c_str(), access, 0, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    throw FileError(std::string(what) + " \"" + path + "\". " + SystemErrorMessage(error));
  }
  return std::make_unique<Win32FileStream>(handle);
}

SC_HANDLE AsScHandle(ServiceHandle handle) { return reinterpret_cast<SC_HANDLE>(handle); }

class Win32Library : public Library {
 public:
  explicit Win32Library(HMODULE module) : module_(module) {}
  ~Win32Library() override { FreeLibrary(module_); }

  bool CallStringExport(const std::string& name, std::string* value) override {
    using StringExport = void(__stdcall*)(char** value);
    const auto function = reinterpret_cast<StringExport>(
        reinterpret_cast<void*>(GetProcAddress(module_, name.c_str())));
    if (!function) return false;
    char* text = nullptr;
    function(&text);
    *value = AnsiToUtf8(text);
    if (text) CoTaskMemFree(text);
    return true;
  }

 private:
  HMODULE module_;
};

}  // namespace

std::unique_ptr<FileStream> Win32FileSystem::OpenRead(const std::string& path) {
  return OpenFile(path, GENERIC_READ, OPEN_EXISTING, "Cannot open file");
}

std::unique_ptr<FileStream> Win32FileSystem::Create(const std::string& path) {
  return OpenFile(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, "Cannot create file");
}

bool Win32FileSystem::DeleteFile(const std::string& path) {
  return DeleteFileW(Widen(path).c_str()) != 0;
}

ServiceHandle Win32ServiceManager::OpenSCManager(std::uint32_t access) {
  const SC_HANDLE handle = OpenSCManagerA(nullptr, nullptr, access);
  last_error_ = handle ? 0 : GetLastError();
  return reinterpret_cast<ServiceHandle>(handle);
}

ServiceHandle Win32ServiceManager::OpenService(ServiceHandle manager, const std::string& name,
                                               std::uint32_t access) {
  const std::string ansi_name = Utf8ToAnsi(name);
  const SC_HANDLE handle = OpenServiceA(AsScHandle(manager), ansi_name.c_str(), access);
  last_error_ = handle ? 0 : GetLastError();
  return reinterpret_cast<ServiceHandle>(handle);
}

bool Win32ServiceManager::QueryServiceStatus(ServiceHandle service, std::uint32_t* current_state) {
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(AsScHandle(service), &status)) return false;
  *current_state = status.dwCurrentState;
  return true;
}

bool Win32ServiceManager::StartService(ServiceHandle service) {
  return StartServiceA(AsScHandle(service), 0, nullptr) != 0;
}

void Win32ServiceManager::CloseServiceHandle(ServiceHandle handle) {
  if (handle) ::CloseServiceHandle(AsScHandle(handle));
}

std::string Win32LibraryLoader::ExeFolder() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) {
      std::wstring folder(path.data(), length);
      folder.erase(folder.find_last_of(L"\\/") + 1);
      return Narrow(folder);
    }
    path.resize(path.size() * 2);
  }
}

std::unique_ptr<Library> Win32LibraryLoader::Load(const std::string& path) {
  // The wide call: the path comes from GetModuleFileNameW, and a folder name that the ANSI code
  // page cannot spell would not survive a round trip through it.
  const HMODULE module = LoadLibraryW(Widen(path).c_str());
  if (!module) return nullptr;
  return std::make_unique<Win32Library>(module);
}

std::int64_t Win32Clock::NowMs() { return static_cast<std::int64_t>(GetTickCount64()); }

void Win32Clock::Sleep(std::int64_t ms) {
  while (ms > 0) {
    const DWORD part =
        ms >= static_cast<std::int64_t>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
    ::Sleep(part);
    ms -= part;
  }
}

}  // namespace finprep::win32
