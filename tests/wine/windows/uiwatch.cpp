// Watches the screen while a test host runs, the way a user would, and answers what comes up.
//
//   uiwatch.exe READY_FILE STOP_FILE [--close-dialog]
//
// Creates READY_FILE once it watches, and stops when STOP_FILE exists.  It looks at the visible
// top-level dialogs every few milliseconds and prints, UTF-8, one line per event:
//   dialog owner: <caption of its owner>, <enabled|disabled>     a preprocessing dialog appeared
//   label: <text>                  the dialog's status line shows a new text
//   closed the dialog              (--close-dialog) its close button was pressed
//   box <caption>: <text>          a message box appeared; it is answered with its OK button
//   box owner: <caption of its owner>
#include <string>
#include <vector>

#include "forms.h"
#include "testkit.h"

namespace {

constexpr const wchar_t* kDialogCaption = L"财务备份预处理";
constexpr const wchar_t* kChooserCaption = L"选择备份文件";
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr DWORD kPollMs = 5;
constexpr DWORD kGiveUpMs = 180000;

struct Seen {
  HWND window;
  std::string label;
};

bool close_dialog = false;
std::vector<Seen> dialogs;
std::vector<HWND> boxes;

std::string OwnerText(HWND window) {
  const HWND owner = GetWindow(window, GW_OWNER);
  std::string text = testkit::WindowCaption(owner);
  if (owner) text += IsWindowEnabled(owner) ? ", enabled" : ", disabled";
  return text;
}

// The text of a message box: its text control, or else the longest static text in it.
std::string BoxText(HWND box) {
  if (const HWND text = GetDlgItem(box, kMessageBoxTextId)) return testkit::WindowCaption(text);
  std::string longest;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t class_name[32] = {};
    GetClassNameW(child, class_name, 32);
    if (lstrcmpiW(class_name, L"Static") != 0) continue;
    const std::string text = testkit::WindowCaption(child);
    if (text.size() > longest.size()) longest = text;
  }
  return longest;
}

void WatchDialog(HWND dialog) {
  Seen* seen = nullptr;
  for (Seen& s : dialogs) {
    if (s.window == dialog) seen = &s;
  }
  if (!seen) {
    dialogs.push_back({dialog, std::string()});
    seen = &dialogs.back();
    testkit::Out("dialog owner: " + OwnerText(dialog));
  }
  const std::string label = testkit::WindowCaption(GetDlgItem(dialog, IDC_RZLABEL_SHOWINFO));
  if (label != seen->label) {
    seen->label = label;
    testkit::Out("label: " + label);
  }
  if (close_dialog) {
    // What a click on the title bar's close button sends.
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    testkit::Out("closed the dialog");
    close_dialog = false;
  }
}

void AnswerBox(HWND box) {
  for (HWND seen : boxes) {
    if (seen == box) return;
  }
  boxes.push_back(box);
  testkit::Out("box " + testkit::WindowCaption(box) + ": " + BoxText(box));
  testkit::Out("box owner: " + OwnerText(box));
  // What its OK button sends when it is clicked.
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

BOOL CALLBACK Visit(HWND window, LPARAM) {
  if (!IsWindowVisible(window)) return TRUE;
  wchar_t class_name[32] = {};
  GetClassNameW(window, class_name, 32);
  if (lstrcmpW(class_name, L"#32770") != 0) return TRUE;
  wchar_t caption[256] = {};
  GetWindowTextW(window, caption, 256);
  if (lstrcmpW(caption, kDialogCaption) == 0) {
    WatchDialog(window);
  } else if (lstrcmpW(caption, kChooserCaption) != 0) {
    AnswerBox(window);
  }
  return TRUE;
}

// Forgets windows that are gone, so that a handle the system hands out again counts as new.
void ForgetClosed() {
  std::vector<HWND> open_boxes;
  for (HWND box : boxes) {
    if (IsWindow(box) && IsWindowVisible(box)) open_boxes.push_back(box);
  }
  boxes.swap(open_boxes);
  std::vector<Seen> open_dialogs;
  for (const Seen& s : dialogs) {
    if (IsWindow(s.window) && IsWindowVisible(s.window)) open_dialogs.push_back(s);
  }
  dialogs.swap(open_dialogs);
}

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    testkit::Out("usage: uiwatch.exe READY_FILE STOP_FILE [--close-dialog]");
    return 2;
  }
  close_dialog = argc > 3 && std::wstring(argv[3]) == L"--close-dialog";
  const HANDLE ready = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);

  const ULONGLONG started = GetTickCount64();
  while (!Exists(argv[2])) {
    if (GetTickCount64() - started > kGiveUpMs) {
      testkit::Out("gave up waiting for the stop file");
      return 1;
    }
    ForgetClosed();
    EnumWindows(&Visit, 0);
    Sleep(kPollMs);
  }
  return 0;
}
