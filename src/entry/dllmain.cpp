// The exported entry point of the Windows DLLs.
//
// DoIt converts the host's ANSI arguments to UTF-8, runs the portable DoItRun on the Windows
// components, and hands the result back as a BSTR.  FINPREP_HOST_INSTANCE, defined by the build
// of each DLL, fixes the edition.
#include "platform/win32/windows_api.h"

#include <oleauto.h>

#include <string>

#include "entry/doit.h"
#include "entry/host_log.h"
#include "platform/odbc/odbc_driver.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_ui.h"

namespace {

constexpr finprep::Edition kEdition =
    FINPREP_HOST_INSTANCE ? finprep::Edition::HostInstance : finprep::Edition::LocalServer;

// The plug-in's module instance, as the loader hands it over at process attach.
HINSTANCE module_instance = nullptr;

// The application object lives as long as the library, so its owner window carries over from
// one call to the next as the framework's does.
finprep::win32::Win32Application& TheApplication() {
  static finprep::win32::Win32Application application;
  return application;
}

// Every assignment frees the string the variable held and stores a newly allocated one.
void AssignResult(BSTR* result, const std::wstring& value) {
  if (!result) return;
  SysFreeString(*result);
  *result = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    module_instance = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

// Exported by name at ordinal 1 (finprep.def); __stdcall, 20 bytes of arguments.
extern "C" void __stdcall DoIt(BSTR* result, HWND host_window, const char* base_folder,
                               const char* backup_file, const char* table_suffix) {
  AssignResult(result, L"0");
  std::wstring value = L"0";
  try {
    const std::string base = finprep::win32::AnsiToUtf8(base_folder);
    const std::string backup = finprep::win32::AnsiToUtf8(backup_file);
    const std::string suffix = finprep::win32::AnsiToUtf8(table_suffix);

    finprep::win32::Win32FileSystem files;
    finprep::odbc::OdbcDriver database;
    finprep::win32::Win32ServiceManager services;
    finprep::win32::Win32LibraryLoader libraries;
    finprep::win32::Win32Clock clock;
    const std::unique_ptr<finprep::HostLog> host_log = finprep::MakeEditionHostLog(module_instance);
    finprep::Platform platform{TheApplication(), files, database, services,
                               libraries,        clock, *host_log};

    value = finprep::win32::Widen(
        finprep::DoItRun(platform, kEdition, reinterpret_cast<finprep::WindowHandle>(host_window),
                         base.c_str(), backup.c_str(), suffix.c_str()));
  } catch (...) {
    // Nothing may cross into the host; the result stays "0".
    value = L"0";
  }
  AssignResult(result, value);
}
