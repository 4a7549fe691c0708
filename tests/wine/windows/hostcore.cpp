// Test double of the host library.  WriteLog appends one line per call to hostlog.txt of the
// running case:  <instance handle> TAB <level> TAB <message as UTF-8>, with line breaks inside
// the message written as \r and \n so that one call stays one line.
#include "testkit.h"

#include <oleauto.h>

extern "C" void __stdcall WriteLog(HINSTANCE instance, int level, BSTR message) {
  std::string text = message ? testkit::Utf8(message, SysStringLen(message)) : std::string();
  std::string escaped;
  for (char c : text) {
    if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else {
      escaped += c;
    }
  }
  testkit::AppendLine(testkit::CaseFile(L"hostlog.txt"),
                      testkit::Hex(instance) + "\t" + std::to_string(level) + "\t" + escaped);
}
