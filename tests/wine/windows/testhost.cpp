// A test host for finprep.dll, laid out like the real host: finprep.dll, hostcore.dll and
// auxsys\app\dbfinder.dll lie beside this program.  It creates a main window, loads the plug-in
// and calls DoIt on its GUI thread from the window's message handling, as a host reacting to a
// command would, and reports what it sees afterwards.
//
//   testhost.exe [--runs N] BASE_FOLDER BACKUP_FILE SUFFIX
//
// Each run gets a main window of its own ("finprep test host", "finprep test host 2", ...); the
// result variable carries the previous run's string into the next call, as a host reusing its
// variable would.  Output, UTF-8, one fact per line:
//   loaded finprep.dll at <module handle>
//   DoIt found by name and at ordinal 1
//   run <n> result: <the string DoIt handed back>
//   run <n> host window: <enabled|disabled> <active|inactive>
//   run <n> plug-in windows left: <count of other visible top-level windows of the thread>
//   run <n> dbfinder.dll: <released|still loaded>
#include "testkit.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using DoItFunction = void(__stdcall*)(BSTR* result, HWND host_window, const char* base_folder,
                                      const char* backup_file, const char* table_suffix);

constexpr UINT kRunMessage = WM_APP + 1;

DoItFunction do_it = nullptr;
BSTR result = nullptr;
std::string base_folder, backup_file, table_suffix;
int run_number = 0;

std::string Ansi(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

struct ThreadWindows {
  HWND main;
  int others;
};

BOOL CALLBACK CountOthers(HWND window, LPARAM data) {
  auto* windows = reinterpret_cast<ThreadWindows*>(data);
  if (window != windows->main && IsWindowVisible(window)) ++windows->others;
  return TRUE;
}

void Run(HWND window) {
  const std::string run = "run " + std::to_string(run_number);
  do_it(&result, window, base_folder.c_str(), backup_file.c_str(), table_suffix.c_str());

  testkit::Out(run + " result: " +
               (result ? testkit::Utf8(result, SysStringLen(result)) : std::string("(null)")));
  testkit::Out(run + " host window: " + (IsWindowEnabled(window) ? "enabled" : "disabled") + " " +
               (GetActiveWindow() == window ? "active" : "inactive"));
  ThreadWindows windows{window, 0};
  EnumThreadWindows(GetCurrentThreadId(), &CountOthers, reinterpret_cast<LPARAM>(&windows));
  testkit::Out(run + " plug-in windows left: " + std::to_string(windows.others));
  testkit::Out(
      run + " dbfinder.dll: " + (GetModuleHandleW(L"dbfinder.dll") ? "still loaded" : "released"));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kRunMessage:
      Run(window);
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int runs = 1;
  int first = 1;
  if (argc > 2 && std::wstring(argv[1]) == L"--runs") {
    runs = _wtoi(argv[2]);
    first = 3;
  }
  if (argc - first != 3 || runs < 1) {
    testkit::Out("usage: testhost.exe [--runs N] BASE_FOLDER BACKUP_FILE SUFFIX");
    return 2;
  }
  base_folder = Ansi(argv[first]);
  backup_file = Ansi(argv[first + 1]);
  table_suffix = Ansi(argv[first + 2]);

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  const HMODULE plugin = LoadLibraryW((ExeFolder() + L"finprep.dll").c_str());
  if (!plugin) {
    testkit::Out("finprep.dll not loaded: error " + std::to_string(GetLastError()));
    return 1;
  }
  testkit::Out("loaded finprep.dll at " + testkit::Hex(plugin));
  do_it = reinterpret_cast<DoItFunction>(reinterpret_cast<void*>(GetProcAddress(plugin, "DoIt")));
  const FARPROC by_ordinal = GetProcAddress(plugin, MAKEINTRESOURCEA(1));
  if (!do_it || reinterpret_cast<void*>(by_ordinal) != reinterpret_cast<void*>(do_it)) {
    testkit::Out("DoIt not exported by name at ordinal 1");
    return 1;
  }
  testkit::Out("DoIt found by name and at ordinal 1");

  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &WindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  window_class.lpszClassName = L"FinprepTestHost";
  RegisterClassW(&window_class);

  // The previous run's string goes into the next call; DoIt frees it.
  result = SysAllocString(L"not yet called");
  for (run_number = 1; run_number <= runs; ++run_number) {
    std::wstring caption = L"finprep test host";
    if (run_number > 1) caption += L" " + std::to_wstring(run_number);
    const HWND window = CreateWindowExW(0, window_class.lpszClassName, caption.c_str(),
                                        WS_OVERLAPPEDWINDOW, 40 * run_number, 30 * run_number, 800,
                                        600, nullptr, nullptr, window_class.hInstance, nullptr);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetForegroundWindow(window);
    SetActiveWindow(window);
    PostMessageW(window, kRunMessage, 0, 0);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  SysFreeString(result);
  FreeLibrary(plugin);
  CoUninitialize();
  return 0;
}
