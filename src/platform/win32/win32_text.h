// Text at the Windows edges: the core's UTF-8 to and from UTF-16 and the ANSI code page.
#pragma once

#include "platform/win32/windows_api.h"

#include <string>
#include <string_view>

namespace finprep::win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// Text in the ANSI code page (CP_ACP) to UTF-8 and back.  A null pointer is empty text.
std::string AnsiToUtf8(const char* ansi);
std::string Utf8ToAnsi(std::string_view utf8);

// The system's text for an error code, without the line break and final period it ends with.
std::string SystemErrorMessage(DWORD error);

}  // namespace finprep::win32
