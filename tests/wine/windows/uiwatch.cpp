// Watches the screen while a test host runs, the way a user would, and answers what comes up.
//
//   uiwatch.exe READY_FILE STOP_FILE [--close-dialog] [--tick N,N,... [--before-enter FILE]]
//
// Creates READY_FILE once it watches, and stops when STOP_FILE exists.  It looks at the visible
// top-level dialogs every few milliseconds and prints, UTF-8, one line per event:
//   dialog owner: <caption of its owner>, <enabled|disabled>     a preprocessing dialog appeared
//   label: <text>                  the dialog's status line shows a new text
//   closed the dialog              (--close-dialog) its close button was pressed
//   box <caption>: <text>          a message box appeared; it is answered with its OK button
//   box owner: <caption of its owner>
// With --tick it answers the backup-set chooser: it clicks the check box of each row named (by
// its caption, the set's position) with the mouse, then presses Enter on the keyboard, both as
// real input that the system delivers to the window under the pointer and to the focus:
//   chooser owner: <caption of its owner>, <enabled|disabled>
//   chooser row: <caption> <second column>      one line per row, top to bottom
//   clicked the box of <caption>, ticked: <captions of the ticked rows, or none>
//   waiting before Enter           (--before-enter) until FILE exists, e.g. for a screenshot
//   pressed Enter
#include <sstream>
#include <string>
#include <vector>

#include "forms.h"
#include "testkit.h"

#include <commctrl.h>

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
std::vector<std::string> ticks;  // captions of the chooser's rows to click, in order
const wchar_t* before_enter = nullptr;
HWND chooser_seen = nullptr;
HWND chooser_answered = nullptr;
std::vector<Seen> dialogs;
std::vector<HWND> boxes;

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

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

// ---- The backup-set chooser ----

// Memory in the process that owns a window: the list view's messages that carry pointers need
// their structures there.
class RemoteMemory {
 public:
  RemoteMemory(HWND window, std::size_t size) {
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    process_ =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id);
    if (process_) {
      memory_ = static_cast<char*>(
          VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
  }
  ~RemoteMemory() {
    if (memory_) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;

  bool ok() const { return memory_ != nullptr; }
  char* at(std::size_t offset) const { return memory_ + offset; }
  LPARAM param(std::size_t offset = 0) const { return reinterpret_cast<LPARAM>(at(offset)); }
  void Write(std::size_t offset, const void* data, std::size_t size) const {
    WriteProcessMemory(process_, at(offset), data, size, nullptr);
  }
  void Read(std::size_t offset, void* data, std::size_t size) const {
    ReadProcessMemory(process_, at(offset), data, size, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  char* memory_ = nullptr;
};

constexpr std::size_t kTextOffset = 512;
constexpr int kTextChars = 256;

std::string ItemText(HWND list, const RemoteMemory& remote, int row, int column) {
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = reinterpret_cast<wchar_t*>(remote.at(kTextOffset));
  item.cchTextMax = kTextChars;
  remote.Write(0, &item, sizeof item);
  const LRESULT length =
      SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), remote.param());
  wchar_t text[kTextChars] = {};
  remote.Read(kTextOffset, text, sizeof text);
  return testkit::Utf8(text,
                       static_cast<std::size_t>(length > 0 && length < kTextChars ? length : 0));
}

bool Ticked(HWND list, int row) {
  return SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK) ==
         INDEXTOSTATEIMAGEMASK(2);
}

std::string TickedRows(HWND list, const std::vector<std::string>& captions) {
  std::string text;
  for (std::size_t row = 0; row < captions.size(); ++row) {
    if (!Ticked(list, static_cast<int>(row))) continue;
    text += (text.empty() ? "" : ", ") + captions[row];
  }
  return text.empty() ? "none" : text;
}

// The middle of a row's check box, in the list's client coordinates: the stretch at the row's
// left end where the list's own hit test finds the box.
bool CheckBoxPoint(HWND list, const RemoteMemory& remote, int row, POINT* point) {
  RECT bounds{LVIR_BOUNDS, 0, 0, 0};
  remote.Write(0, &bounds, sizeof bounds);
  if (!SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), remote.param())) return false;
  remote.Read(0, &bounds, sizeof bounds);
  const int y = (bounds.top + bounds.bottom) / 2;
  int first = -1, last = -1;
  for (int x = bounds.left; x < bounds.left + 64 && x < bounds.right; ++x) {
    LVHITTESTINFO hit{};
    hit.pt = {x, y};
    remote.Write(0, &hit, sizeof hit);
    const LRESULT item = SendMessageW(list, LVM_HITTEST, 0, remote.param());
    remote.Read(0, &hit, sizeof hit);
    if (item == row && (hit.flags & LVHT_ONITEMSTATEICON)) {
      if (first < 0) first = x;
      last = x;
    } else if (first >= 0) {
      break;
    }
  }
  if (first < 0) return false;
  *point = {(first + last) / 2, y};
  return true;
}

// A click with the left button at a point of the screen, in one piece of input: each event
// carries the point, so that no pointer motion from elsewhere can come between them.
void Click(POINT screen) {
  INPUT inputs[3] = {};
  const DWORD flags[3] = {0, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
  for (int i = 0; i < 3; ++i) {
    inputs[i].type = INPUT_MOUSE;
    inputs[i].mi.dx = MulDiv(screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    inputs[i].mi.dy = MulDiv(screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    inputs[i].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags[i];
  }
  SendInput(3, inputs, sizeof(INPUT));
}

void PressKey(WORD key) {
  INPUT inputs[2] = {};
  for (int i = 0; i < 2; ++i) {
    inputs[i].type = INPUT_KEYBOARD;
    inputs[i].ki.wVk = key;
    inputs[i].ki.dwFlags = i == 0 ? 0 : KEYEVENTF_KEYUP;
  }
  SendInput(2, inputs, sizeof(INPUT));
}

// Waits until the row is ticked (a click on a box leaves it ticked, by the chooser's rule) and
// every other row is not, or gives up after a while; reading the state goes through the chooser's
// own thread, so what it reads is never half way through the rule.
void WaitForTick(HWND list, int row, int rows) {
  const ULONGLONG started = GetTickCount64();
  while (GetTickCount64() - started < 5000) {
    bool done = Ticked(list, row);
    for (int other = 0; done && other < rows; ++other)
      done = other == row || !Ticked(list, other);
    if (done) return;
    Sleep(kPollMs);
  }
}

void AnswerChooser(HWND chooser) {
  if (chooser == chooser_answered) return;
  chooser_answered = chooser;
  testkit::Out("chooser owner: " + OwnerText(chooser));
  const HWND list = GetDlgItem(chooser, IDC_LIST_FILES);
  RemoteMemory remote(list, kTextOffset + kTextChars * sizeof(wchar_t));
  if (!remote.ok()) {
    testkit::Out("cannot reach the chooser's memory");
    return;
  }
  const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  std::vector<std::string> captions;
  for (int row = 0; row < rows; ++row) {
    captions.push_back(ItemText(list, remote, row, 0));
    testkit::Out("chooser row: " + captions.back() + " " + ItemText(list, remote, row, 1));
  }
  for (const std::string& tick : ticks) {
    int row = 0;
    while (row < rows && captions[static_cast<std::size_t>(row)] != tick)
      ++row;
    POINT point{};
    if (row == rows || !CheckBoxPoint(list, remote, row, &point)) {
      testkit::Out("no check box for the row " + tick);
      continue;
    }
    ClientToScreen(list, &point);
    Click(point);
    WaitForTick(list, row, rows);
    testkit::Out("clicked the box of " + tick + ", ticked: " + TickedRows(list, captions));
  }
  if (before_enter) {
    testkit::Out("waiting before Enter");
    const ULONGLONG started = GetTickCount64();
    while (!Exists(before_enter) && GetTickCount64() - started < kGiveUpMs)
      Sleep(kPollMs);
  }
  PressKey(VK_RETURN);
  testkit::Out("pressed Enter");
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
  } else if (lstrcmpW(caption, kChooserCaption) == 0) {
    // Answered once the other windows are read: the dialog's label comes before the chooser.
    if (!ticks.empty()) chooser_seen = window;
  } else {
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    testkit::Out(
        "usage: uiwatch.exe READY_FILE STOP_FILE [--close-dialog] [--tick N,N,... "
        "[--before-enter FILE]]");
    return 2;
  }
  for (int i = 3; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (option == L"--close-dialog") {
      close_dialog = true;
    } else if (option == L"--tick" && i + 1 < argc) {
      std::istringstream list(testkit::Utf8(argv[++i]));
      for (std::string tick; std::getline(list, tick, ',');)
        ticks.push_back(tick);
    } else if (option == L"--before-enter" && i + 1 < argc) {
      before_enter = argv[++i];
    }
  }
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
    chooser_seen = nullptr;
    EnumWindows(&Visit, 0);
    if (chooser_seen) AnswerChooser(chooser_seen);
    Sleep(kPollMs);
  }
  return 0;
}
