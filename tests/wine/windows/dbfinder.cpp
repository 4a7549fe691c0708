// Test double of the server locator beside the host.  Each export hands over the string written
// for it in dbfinder.txt of the running case, as the plug-in expects: zero-terminated ANSI text
// allocated with CoTaskMemAlloc, stored through the char** argument.  dbfinder.txt holds lines
//   GetSqlHinstance=<connection string>
//   ShowSqlinstance=<connection string>
//   wait_ms=<milliseconds to wait before answering>
// An export without a line stores nothing.  Every call is appended to calls.txt, and so are
// "load" and "unload" (a release by FreeLibrary, not the end of the process).  Which exports
// exist is fixed by the .def file of each build.
#include "testkit.h"

#include <objbase.h>

#include <cstdlib>
#include <cstring>

namespace {

void Record(const char* what) { testkit::AppendLine(testkit::CaseFile(L"calls.txt"), what); }

// The value of "key=" in dbfinder.txt; false when there is no such line.
bool Setting(const std::string& key, std::string* value) {
  const std::string text = testkit::ReadAll(testkit::CaseFile(L"dbfinder.txt"));
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, key.size() + 1, key + "=") == 0) {
      *value = line.substr(key.size() + 1);
      return true;
    }
    start = end + 1;
  }
  return false;
}

void Answer(const char* name, char** value) {
  Record(name);
  std::string wait;
  if (Setting("wait_ms", &wait)) Sleep(static_cast<DWORD>(std::strtoul(wait.c_str(), nullptr, 10)));
  std::string utf8;
  if (!value || !Setting(name, &utf8)) return;
  const std::wstring wide = testkit::Wide(utf8);
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  char* ansi = static_cast<char*>(CoTaskMemAlloc(static_cast<SIZE_T>(size)));
  if (!ansi) return;
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi, size, nullptr, nullptr);
  *value = ansi;
}

}  // namespace

extern "C" void __stdcall GetSqlHinstance(char** value) { Answer("GetSqlHinstance", value); }
extern "C" void __stdcall ShowSqlinstance(char** value) { Answer("ShowSqlinstance", value); }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    Record("load");
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    Record("unload");
  }
  return TRUE;
}
