#include "platform/win32/win32_text.h"

#include <cstring>

namespace finprep::win32 {

namespace {

std::wstring ToWide(UINT code_page, std::string_view text) {
  if (text.empty()) return std::wstring();
  const int length =
      MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(),
                        length);
  }
  return out;
}

std::string FromWide(UINT code_page, std::wstring_view text) {
  if (text.empty()) return std::string();
  const int length = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(),
                        length, nullptr, nullptr);
  }
  return out;
}

}  // namespace

std::wstring Widen(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

std::string Narrow(std::wstring_view utf16) { return FromWide(CP_UTF8, utf16); }

std::string AnsiToUtf8(const char* ansi) {
  if (!ansi) return std::string();
  return Narrow(ToWide(CP_ACP, std::string_view(ansi, std::strlen(ansi))));
}

std::string Utf8ToAnsi(std::string_view utf8) { return FromWide(CP_ACP, Widen(utf8)); }

std::string SystemErrorMessage(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer ? buffer : L"", length);
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() <= L' ' || text.back() == L'.'))
    text.pop_back();
  if (text.empty()) return "System error " + std::to_string(error);
  return Narrow(text);
}

}  // namespace finprep::win32
