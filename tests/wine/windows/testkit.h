// Small helpers shared by the programs and test doubles that the tests under Wine run: UTF-8
// output, the files of the running case, handles as text.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace testkit {

inline std::string Utf8(const wchar_t* text, std::size_t length) {
  if (length == 0) return std::string();
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                      nullptr);
  return out;
}
inline std::string Utf8(const std::wstring& text) { return Utf8(text.data(), text.size()); }

inline std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
  return out;
}

// A file of the running case: FINPREP_TEST_DIR holds the case's folder.
inline std::wstring CaseFile(const wchar_t* name) {
  wchar_t dir[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"FINPREP_TEST_DIR", dir, MAX_PATH);
  std::wstring path(dir, length < MAX_PATH ? length : 0);
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path + name;
}

// Appends one line; the file is created when missing.
inline void AppendLine(const std::wstring& path, const std::string& line) {
  const HANDLE file =
      CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadAll(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    text.append(buffer, read);
  CloseHandle(file);
  return text;
}

// One line on standard output, UTF-8, written through at once (the driver reads it while the
// program still runs).
inline void Out(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

inline std::string Hex(const void* handle) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle)));
  return text;
}

inline std::string WindowCaption(HWND window) {
  if (!window) return "(none)";
  wchar_t text[512] = {};
  const int length = GetWindowTextW(window, text, 512);
  return Utf8(text, static_cast<std::size_t>(length > 0 ? length : 0));
}

}  // namespace testkit
