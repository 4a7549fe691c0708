#include "platform/win32/win32_ui.h"

#include <commctrl.h>

#include <functional>
#include <iterator>
#include <string>
#include <utility>

#include "forms.h"
#include "platform/errors.h"
#include "platform/win32/win32_text.h"

namespace finprep::win32 {

namespace {

constexpr COLORREF kPanelColor = RGB(240, 240, 240);
constexpr COLORREF kGray = RGB(128, 128, 128);
constexpr UINT_PTR kStartTimerId = 1;

// Sizes in pixels at 96 dpi.
constexpr int kLabelFontHeight = 14;
constexpr int kChooserWidth = 315;
constexpr int kChooserHeight = 200;
constexpr int kChooserButtonPanelHeight = 41;
constexpr int kChooserButtonLeft = 192;
constexpr int kChooserButtonTop = 8;
constexpr int kColumnWidths[] = {50, 239};

// The module whose resources hold the dialogs: the one this code is linked into.
HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

int ScreenDpi() {
  const HDC dc = GetDC(nullptr);
  const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

void InitCommonControlsOnce() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  done = true;
}

// The framework disables every other window of the thread while a modal window or a message box
// is up, and enables them again afterwards.
class DisabledWindows {
 public:
  DisabledWindows(HWND keep, HWND owner) {
    Context context{keep, &windows_};
    EnumThreadWindows(GetCurrentThreadId(), &Collect, reinterpret_cast<LPARAM>(&context));
    if (owner && owner != keep && IsWindowEnabled(owner)) {
      bool listed = false;
      for (HWND w : windows_)
        listed = listed || w == owner;
      if (!listed) windows_.push_back(owner);
    }
    for (HWND w : windows_)
      EnableWindow(w, FALSE);
  }
  ~DisabledWindows() { Enable(); }
  DisabledWindows(const DisabledWindows&) = delete;
  DisabledWindows& operator=(const DisabledWindows&) = delete;

  void Enable() {
    for (HWND w : windows_) {
      if (IsWindow(w)) EnableWindow(w, TRUE);
    }
    windows_.clear();
  }

 private:
  struct Context {
    HWND keep;
    std::vector<HWND>* windows;
  };
  static BOOL CALLBACK Collect(HWND window, LPARAM data) {
    Context* context = reinterpret_cast<Context*>(data);
    if (window != context->keep && IsWindowVisible(window) && IsWindowEnabled(window)) {
      context->windows->push_back(window);
    }
    return TRUE;
  }

  std::vector<HWND> windows_;
};

// A panel: a flat one-pixel border in the shadow colour, optionally a groove inside it.
struct PanelStyle {
  int id;
  bool own_color;  // kPanelColor instead of the button face
  bool groove;
};

// ---- Dialog base ----

class Dialog {
 public:
  explicit Dialog(Win32Application& app) : app_(app), dpi_(ScreenDpi()) {}
  virtual ~Dialog() { Destroy(); }
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  HWND hwnd() const { return hwnd_; }

 protected:
  // Creates the dialog hidden; WM_INITDIALOG reaches OnMessage, so the derived class must be
  // constructed when this runs.
  void Create(int template_id, HWND owner) {
    InitCommonControlsOnce();
    panel_brush_ = CreateSolidBrush(kPanelColor);
    const HWND window = CreateDialogParamW(ThisModule(), MAKEINTRESOURCEW(template_id), owner,
                                           &Proc, reinterpret_cast<LPARAM>(this));
    if (!window) {
      throw Error("Cannot create the dialog window. " + SystemErrorMessage(GetLastError()));
    }
  }

  // Derived classes call this first in their destructors, so no message reaches a half-destroyed
  // object.
  void Destroy() {
    if (hwnd_) {
      SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
      DestroyWindow(hwnd_);
      hwnd_ = nullptr;
    }
    if (panel_brush_) {
      DeleteObject(panel_brush_);
      panel_brush_ = nullptr;
    }
  }

  int RunModal(const std::function<void()>& on_shown) {
    if (!hwnd_) throw Error("The dialog window no longer exists");
    modal_result_ = kModalNone;
    const HWND previously_active = GetActiveWindow();
    DisabledWindows disabled(hwnd_, GetWindow(hwnd_, GW_OWNER));
    app_.EnterModal(hwnd_);
    try {
      ShowWindow(hwnd_, SW_SHOW);
      UpdateWindow(hwnd_);
      if (on_shown) {
        try {
          on_shown();
        } catch (const std::exception& error) {
          app_.ShowException(error);
        }
      }
      while (modal_result_ == kModalNone) {
        if (app_.QuitRequested()) {
          modal_result_ = kModalCancel;
          break;
        }
        MSG message;
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) {
          modal_result_ = kModalCancel;
        } else if (got == 0) {
          app_.RequestQuit(static_cast<int>(message.wParam));
        } else {
          app_.Dispatch(message);
        }
      }
    } catch (...) {
      disabled.Enable();
      if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
      app_.LeaveModal();
      throw;
    }
    // Enable the other windows before hiding, so that activation returns to them.
    disabled.Enable();
    if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
    app_.LeaveModal();
    if (previously_active && IsWindow(previously_active) && IsWindowEnabled(previously_active)) {
      SetActiveWindow(previously_active);
    }
    return modal_result_;
  }

  // Handles a message; false leaves it to the dialog manager.
  virtual bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* result) = 0;

  int Scale(int pixels_at_96_dpi) const { return MulDiv(pixels_at_96_dpi, dpi_, 96); }

  // The layouts give every rectangle in pixels at 96 dpi, written as dialog units.  Read each
  // back in dialog units (exact, since base units are at least 4 x 8 pixels) and place it at one
  // pixel per unit, scaled to the screen's dpi; the client area likewise.
  void ApplyPixelLayout() {
    RECT units{0, 0, 4, 8};
    MapDialogRect(hwnd_, &units);
    const int bx = units.right > 0 ? units.right : 4;
    const int by = units.bottom > 0 ? units.bottom : 8;
    auto x = [&](LONG v) { return Scale(MulDiv(v, 4, bx)); };
    auto y = [&](LONG v) { return Scale(MulDiv(v, 8, by)); };
    for (HWND child = GetWindow(hwnd_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      RECT r;
      GetWindowRect(child, &r);
      MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
      MoveWindow(child, x(r.left), y(r.top), x(r.right - r.left), y(r.bottom - r.top), FALSE);
    }
    RECT client;
    GetClientRect(hwnd_, &client);
    SetClientSize(x(client.right), y(client.bottom));
  }

  void SetClientSize(int width, int height) {
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void CenterOnDesktop() {
    RECT r;
    GetWindowRect(hwnd_, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    SetWindowPos(hwnd_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  RECT ChildRect(int id) const {
    RECT r{};
    const HWND child = GetDlgItem(hwnd_, id);
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }

  void MoveChild(int id, int left, int top, int width, int height) {
    MoveWindow(GetDlgItem(hwnd_, id), left, top, width, height, FALSE);
  }

  bool DrawPanel(const DRAWITEMSTRUCT& item, const PanelStyle* styles, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (static_cast<int>(item.CtlID) != styles[i].id) continue;
      RECT r = item.rcItem;
      FillRect(item.hDC, &r, styles[i].own_color ? panel_brush_ : GetSysColorBrush(COLOR_BTNFACE));
      FrameRect(item.hDC, &r, GetSysColorBrush(COLOR_BTNSHADOW));
      if (styles[i].groove) {
        InflateRect(&r, -1, -1);
        DrawEdge(item.hDC, &r, EDGE_ETCHED, BF_RECT);
      }
      return true;
    }
    return false;
  }

  Win32Application& app_;
  HWND hwnd_ = nullptr;
  int modal_result_ = kModalNone;
  HBRUSH panel_brush_ = nullptr;
  const int dpi_;

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
      self = reinterpret_cast<Dialog*>(lparam);
      self->hwnd_ = window;
      SetWindowLongPtrW(window, DWLP_USER, lparam);
    } else {
      self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) {
      // Destroyed with its owner: forget the handle, which the system may hand out again.
      SetWindowLongPtrW(window, DWLP_USER, 0);
      self->hwnd_ = nullptr;
      return FALSE;
    }
    INT_PTR result = TRUE;
    try {
      if (!self->OnMessage(message, wparam, lparam, &result)) return FALSE;
    } catch (const std::exception& error) {
      self->app_.ShowException(error);
    } catch (...) {
      self->app_.ShowException(Error("Unknown exception"));
    }
    return result;
  }
};

// ---- Components ----

class Win32Label : public Label {
 public:
  ~Win32Label() override {
    if (font_) DeleteObject(font_);
  }

  void Attach(HWND window, int dpi) {
    window_ = window;
    font_ = CreateFontW(-MulDiv(kLabelFontHeight, dpi, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                        GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_DONTCARE, L"宋体");
    if (font_) SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    // The first caption is the layout's.
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window_)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window_, text.data(), static_cast<int>(text.size()))));
    caption_ = Narrow(text);
    AutoSize();
  }
  // Releases the window (before it is destroyed).
  void Detach() { window_ = nullptr; }
  HWND window() const { return window_; }

  void SetCaption(const std::string& text) override {
    caption_ = text;
    if (!window_) return;
    SetWindowTextW(window_, Widen(caption_).c_str());
    AutoSize();
    // Paint now: the steps that change the status line go on without processing messages.
    RedrawWindow(GetParent(window_), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
  std::string Caption() const override { return caption_; }

 private:
  // The label is as large as its text, growing to the right.
  void AutoSize() {
    const std::wstring text = Widen(caption_);
    const HDC dc = GetDC(window_);
    const HGDIOBJ old = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(window_, dc);
    SetWindowPos(window_, nullptr, 0, 0, r.right, r.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  std::string caption_;
  HWND window_ = nullptr;
  HFONT font_ = nullptr;
};

class Win32ProgressBar : public ProgressBar {
 public:
  // The control counts in pixels of its own width, so it is told of a change only when the
  // drawn fill moves: a copy of many small chunks repaints a few hundred times, not once a chunk.
  void Attach(HWND window) {
    window_ = window;
    RECT client{};
    GetClientRect(window_, &client);
    steps_ = client.right - client.left > 0 ? client.right - client.left : 1;
    SendMessageW(window_, PBM_SETRANGE32, 0, steps_);
    SendMessageW(window_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
  }
  void Detach() { window_ = nullptr; }

 protected:
  void Show(std::int32_t range, std::int32_t position) override {
    // A total of 0 shows as an empty bar.
    std::int64_t fill = range > 0 ? std::int64_t{position} * steps_ / range : 0;
    fill = fill < 0 ? 0 : (fill > steps_ ? steps_ : fill);
    if (!window_ || fill == position_) return;
    position_ = static_cast<std::int32_t>(fill);
    SendMessageW(window_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
  }

 private:
  HWND window_ = nullptr;
  std::int32_t steps_ = 1;
  std::int32_t position_ = 0;
};

class Win32Timer : public Timer {
 public:
  // Arms the timer: enabled from the start, as the framework creates it.
  void Attach(HWND window, UINT_PTR id) {
    window_ = window;
    id_ = id;
    if (enabled_) SetTimer(window_, id_, static_cast<UINT>(interval_ms), nullptr);
  }
  void Detach() {
    if (window_) KillTimer(window_, id_);
    window_ = nullptr;
  }

  void SetEnabled(bool enabled) override {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (!window_) return;
    if (enabled_) {
      SetTimer(window_, id_, static_cast<UINT>(interval_ms), nullptr);
    } else {
      KillTimer(window_, id_);
    }
  }
  bool Enabled() const override { return enabled_; }

  void Fire() {
    if (enabled_ && OnTimer) OnTimer();
  }

 private:
  HWND window_ = nullptr;
  UINT_PTR id_ = 0;
  bool enabled_ = true;
};

class Win32ListView : public ListView {
 public:
  void Attach(HWND window) { window_ = window; }
  void Detach() { window_ = nullptr; }

  int AddItem(const std::string& caption, const std::string& sub_item) override {
    std::wstring caption_text = Widen(caption);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = Count();
    item.pszText = caption_text.data();
    const int index = static_cast<int>(
        SendMessageW(window_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0) throw Error("Cannot add a row to the list");
    std::wstring sub_text = Widen(sub_item);
    LVITEMW sub{};
    sub.iSubItem = 1;
    sub.pszText = sub_text.data();
    SendMessageW(window_, LVM_SETITEMTEXTW, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&sub));
    rows_.insert(rows_.begin() + index, Row{caption, sub_item});
    return index;
  }
  int Count() const override { return static_cast<int>(rows_.size()); }
  std::string Caption(int item) const override { return rows_.at(Index(item)).caption; }
  std::string SubItem(int item) const override { return rows_.at(Index(item)).sub_item; }

  bool Checked(int item) const override {
    rows_.at(Index(item));
    const UINT state = static_cast<UINT>(
        SendMessageW(window_, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_STATEIMAGEMASK));
    return state == INDEXTOSTATEIMAGEMASK(2);
  }

  // The list reports the change through LVN_ITEMCHANGED, as for a click.
  void SetChecked(int item, bool checked) override {
    if (Checked(item) == checked) return;
    LVITEMW state{};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    SendMessageW(window_, LVM_SETITEMSTATE, static_cast<WPARAM>(item),
                 reinterpret_cast<LPARAM>(&state));
  }

  // LVN_ITEMCHANGED: a change of the check box image is a check-state change.  A row that has
  // just been added gets its first image (from none), which is not one.
  void ItemChanged(const NMLISTVIEW& change) {
    if (!(change.uChanged & LVIF_STATE)) return;
    const UINT old_image = change.uOldState & LVIS_STATEIMAGEMASK;
    const UINT new_image = change.uNewState & LVIS_STATEIMAGEMASK;
    if (old_image == 0 || new_image == 0 || old_image == new_image) return;
    if (OnCheckStateChange) OnCheckStateChange(change.iItem);
  }

 private:
  struct Row {
    std::string caption;
    std::string sub_item;
  };
  static std::size_t Index(int item) {
    return item < 0 ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(item);
  }

  HWND window_ = nullptr;
  std::vector<Row> rows_;
};

// ---- The preprocessing dialog ----

constexpr PanelStyle kDealWithBackupPanels[] = {
    {IDC_RZPANEL_CLIENT, true, true},
    {IDC_RZPANEL_BOTTOM, false, false},
};

class Win32DealWithBackupWindow : public DealWithBackupWindow, private Dialog {
 public:
  Win32DealWithBackupWindow(Win32Application& app, Edition edition)
      : Dialog(app), edition_(edition) {
    Create(edition == Edition::HostInstance ? IDD_DEALWITHBACKUP_HOST : IDD_DEALWITHBACKUP_LOCAL,
           reinterpret_cast<HWND>(app.OwnerWindow()));
  }
  ~Win32DealWithBackupWindow() override {
    timer_.Detach();
    label_.Detach();
    progress_.Detach();
    Destroy();
  }

  HWND window() const { return hwnd(); }

  Label& RzLabel_ShowInfo() override { return label_; }
  ProgressBar& Progress_Step() override { return progress_; }
  Timer& StartTimer() override { return timer_; }

  int ShowModal() override { return RunModal(OnShow); }
  void SetModalResult(int result) override { modal_result_ = result; }
  int ModalResult() const override { return modal_result_; }

 private:
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* result) override {
    switch (message) {
      case WM_INITDIALOG:
        ApplyPixelLayout();
        label_.Attach(GetDlgItem(hwnd_, IDC_RZLABEL_SHOWINFO), dpi_);
        progress_.Attach(GetDlgItem(hwnd_, IDC_PROGRESS_STEP));
        timer_.Attach(hwnd_, kStartTimerId);
        CenterOnDesktop();
        return true;
      case WM_TIMER:
        if (wparam != kStartTimerId) return false;
        timer_.Fire();
        return true;
      case WM_CLOSE:
        // Only the host-instance edition's dialog has a close button.
        if (edition_ == Edition::HostInstance) modal_result_ = kModalCancel;
        return true;
      case WM_COMMAND:
        // Enter and Escape do nothing: the dialog has no buttons.
        return LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL;
      case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lparam) != label_.window()) return false;
        SetTextColor(reinterpret_cast<HDC>(wparam), kGray);
        SetBkColor(reinterpret_cast<HDC>(wparam), kPanelColor);
        *result = reinterpret_cast<INT_PTR>(panel_brush_);
        return true;
      case WM_DRAWITEM:
        return DrawPanel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam), kDealWithBackupPanels,
                         std::size(kDealWithBackupPanels));
      default:
        return false;
    }
  }

  Edition edition_;
  Win32Label label_;
  Win32ProgressBar progress_;
  Win32Timer timer_;
};

// ---- The backup-set chooser ----

constexpr PanelStyle kGetFileListPanels[] = {
    {IDC_RZPANEL1, true, false},
    {IDC_RZPANEL2, false, false},
};

class Win32GetFileListWindow : public GetFileListWindow, private Dialog {
 public:
  Win32GetFileListWindow(Win32Application& app, HWND owner) : Dialog(app) {
    ok_.modal_result = kModalOK;
    Create(IDD_GETFILELIST, owner);
  }
  ~Win32GetFileListWindow() override {
    list_.Detach();
    Destroy();
  }

  ListView& List_Files() override { return list_; }
  Button& Btn_OK() override { return ok_; }

  int ShowModal() override { return RunModal(nullptr); }
  void SetModalResult(int result) override { modal_result_ = result; }
  int ModalResult() const override { return modal_result_; }

 private:
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* result) override {
    (void)result;
    switch (message) {
      case WM_INITDIALOG:
        ApplyPixelLayout();
        AlignToOuterSize();
        SetUpList();
        CenterOnDesktop();
        return true;  // the dialog manager focuses the first control, the OK button
      case WM_NOTIFY: {
        const NMHDR& header = *reinterpret_cast<const NMHDR*>(lparam);
        if (header.idFrom != IDC_LIST_FILES || header.code != LVN_ITEMCHANGED) return false;
        list_.ItemChanged(*reinterpret_cast<const NMLISTVIEW*>(lparam));
        return true;
      }
      case WM_COMMAND:
        if (LOWORD(wparam) == IDOK && HIWORD(wparam) == BN_CLICKED) {
          PressButton(ok_, *this, app_);
          return true;
        }
        // Escape does nothing: there is no cancel button.
        return LOWORD(wparam) == IDCANCEL;
      case WM_CLOSE:
        return true;  // no close box, and no other way out but OK
      case WM_DRAWITEM:
        return DrawPanel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam), kGetFileListPanels,
                         std::size(kGetFileListPanels));
      default:
        return false;
    }
  }

  // The outer size is fixed; the button panel keeps its height at the bottom, the list panel
  // takes the rest, and the list fills it inside its border.
  void AlignToOuterSize() {
    SetWindowPos(hwnd_, nullptr, 0, 0, Scale(kChooserWidth), Scale(kChooserHeight),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(hwnd_, &client);
    const int panel_height = Scale(kChooserButtonPanelHeight);
    const int panel_top = client.bottom - panel_height;
    const int border = Scale(1);
    const RECT button = ChildRect(IDOK);
    MoveChild(IDC_RZPANEL1, 0, panel_top, client.right, panel_height);
    MoveChild(IDOK, Scale(kChooserButtonLeft), panel_top + Scale(kChooserButtonTop),
              button.right - button.left, button.bottom - button.top);
    MoveChild(IDC_RZPANEL2, 0, 0, client.right, panel_top);
    MoveChild(IDC_LIST_FILES, border, border, client.right - 2 * border, panel_top - 2 * border);
  }

  void SetUpList() {
    const HWND list = GetDlgItem(hwnd_, IDC_LIST_FILES);
    list_.Attach(list);
    const DWORD extended =
        LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_TRACKSELECT | LVS_EX_FULLROWSELECT;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    SendMessageW(list, LVM_SETBKCOLOR, 0, kPanelColor);
    SendMessageW(list, LVM_SETTEXTBKCOLOR, 0, kPanelColor);
    const int titles[] = {IDS_LIST_FILES_COLUMN1, IDS_LIST_FILES_COLUMN2};
    for (int i = 0; i < 2; ++i) {
      wchar_t title[64] = {};
      LoadStringW(ThisModule(), static_cast<UINT>(titles[i]), title, 64);
      LVCOLUMNW column{};
      column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
      column.pszText = title;
      column.cx = Scale(kColumnWidths[i]);
      column.iSubItem = i;
      SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(&column));
    }
  }

  Win32ListView list_;
  Button ok_;
};

}  // namespace

// ---- Application ----

void Win32Application::Dispatch(MSG& message) {
  const HWND active = modal_dialogs_.empty() ? nullptr : modal_dialogs_.back();
  if (active && IsWindow(active) && IsDialogMessageW(active, &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

void Win32Application::LeaveModal() {
  if (!modal_dialogs_.empty()) modal_dialogs_.pop_back();
  if (modal_dialogs_.empty() && quit_requested_) {
    quit_requested_ = false;
    PostQuitMessage(quit_code_);
  }
}

void Win32Application::RequestQuit(int code) {
  quit_code_ = code;
  if (modal_dialogs_.empty()) {
    PostQuitMessage(code);
  } else {
    quit_requested_ = true;
  }
}

void Win32Application::ProcessMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      RequestQuit(static_cast<int>(message.wParam));
      return;
    }
    Dispatch(message);
  }
}

int Win32Application::MessageBox(const std::string& text, const std::string& caption,
                                 unsigned flags) {
  const HWND previously_active = GetActiveWindow();
  DisabledWindows disabled(nullptr, nullptr);
  const int pressed = MessageBoxW(reinterpret_cast<HWND>(owner_), Widen(text).c_str(),
                                  Widen(caption).c_str(), flags);
  disabled.Enable();
  if (previously_active && IsWindow(previously_active) && IsWindowEnabled(previously_active)) {
    SetActiveWindow(previously_active);
  }
  return pressed;
}

void Win32Application::ShowMessage(const std::string& text) { MessageBox(text, kTitle, kMbOk); }

void Win32Application::ShowException(const std::exception& error) {
  MessageBox(error.what(), kTitle, kMbOk | kMbIconError);
}

std::unique_ptr<DealWithBackupWindow> Win32Application::CreateDealWithBackupWindow(
    Edition edition) {
  return std::make_unique<Win32DealWithBackupWindow>(*this, edition);
}

std::unique_ptr<GetFileListWindow> Win32Application::CreateGetFileListWindow(
    DealWithBackupWindow& owner) {
  // Owned by the preprocessing dialog, so that it stays above it.
  auto* dialog = dynamic_cast<Win32DealWithBackupWindow*>(&owner);
  const HWND owner_window =
      dialog && dialog->window() ? dialog->window() : reinterpret_cast<HWND>(owner_);
  return std::make_unique<Win32GetFileListWindow>(*this, owner_window);
}

}  // namespace finprep::win32
