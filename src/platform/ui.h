// User-interface components: what the two dialogs need of a window system.
//
// The dialogs (DealWithBackup, GetFileList) are written against these interfaces only.  The
// win32 implementation shows real dialogs built from the layouts in forms/; the portable one runs
// a headless modal loop that a test or the terminal runner drives.  All texts are UTF-8.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "platform/edition.h"

namespace finprep {

// An opaque window handle (an HWND on Windows).  0 means none.
using WindowHandle = std::uintptr_t;

// Modal results of a dialog.
constexpr int kModalNone = 0;
constexpr int kModalOK = 1;
constexpr int kModalCancel = 2;  // also what closing a dialog through its close button sets

// Message-box flags and results, with the values of the Windows API.
constexpr unsigned kMbOk = 0x00;
constexpr unsigned kMbIconError = 0x10;    // 16: error icon, one OK button
constexpr unsigned kMbIconWarning = 0x30;  // 48: warning icon, one OK button
constexpr int kIdOk = 1;

class Label {
 public:
  virtual ~Label() = default;
  virtual void SetCaption(const std::string& text) = 0;
  virtual std::string Caption() const = 0;
};

// A progress bar that counts in 64-bit parts.  It keeps the counts itself and hands the window
// system a position scaled into a 32-bit range, so sources of any size show correctly.
class ProgressBar {
 public:
  virtual ~ProgressBar() = default;

  void SetTotalParts(std::int64_t total);
  void SetPartsComplete(std::int64_t done);
  // Sets the shown percentage directly (the counts keep their values).
  void SetPercent(int percent);

  std::int64_t TotalParts() const { return total_; }
  std::int64_t PartsComplete() const { return done_; }
  int Percent() const { return percent_; }

  // The range and position the control shows: the counts shifted right until the total fits in
  // 31 bits, or 100 and the percentage after SetPercent.
  std::int32_t ShownRange() const { return shown_range_; }
  std::int32_t ShownPosition() const { return shown_position_; }

 protected:
  // Called after every change of the shown range or position.
  virtual void Show(std::int32_t range, std::int32_t position) = 0;

 private:
  void Recount();
  void Update(std::int32_t range, std::int32_t position);

  std::int64_t total_ = 0;
  std::int64_t done_ = 0;
  int percent_ = 0;
  std::int32_t shown_range_ = 0;
  std::int32_t shown_position_ = 0;
};

class Timer {
 public:
  virtual ~Timer() = default;
  // Enabling an enabled timer changes nothing; the interval goes on.  Disabling stops it.
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  int interval_ms = 1000;
  std::function<void()> OnTimer;
};

// A report-view list with check boxes.
class ListView {
 public:
  virtual ~ListView() = default;
  // Adds a row with the caption as its first column and one sub-item; returns its index.
  virtual int AddItem(const std::string& caption, const std::string& sub_item) = 0;
  virtual int Count() const = 0;
  virtual std::string Caption(int item) const = 0;
  virtual std::string SubItem(int item) const = 0;
  virtual bool Checked(int item) const = 0;
  // Changing a row's check state fires OnCheckStateChange, as a user's click does.
  virtual void SetChecked(int item, bool checked) = 0;
  std::function<void(int item)> OnCheckStateChange;
};

// A button with a modal result: pressing it sets its window's modal result first (when the
// modal result is not kModalNone), then runs OnClick.
struct Button {
  int modal_result = kModalNone;
  std::function<void()> OnClick;
};

// A dialog shown modally.  ShowModal runs the dialog's message loop until the modal result
// becomes non-zero, then hides the dialog and returns that result.
class ModalWindow {
 public:
  virtual ~ModalWindow() = default;
  virtual int ShowModal() = 0;
  virtual void SetModalResult(int result) = 0;
  virtual int ModalResult() const = 0;
};

// The preprocessing dialog "财务备份预处理" with the components of its layout.  Its timer is
// armed when the window is created.  The host-instance edition's window has a close button,
// which sets the modal result to kModalCancel; the local-server edition's has none.
class DealWithBackupWindow : public ModalWindow {
 public:
  virtual Label& RzLabel_ShowInfo() = 0;
  virtual ProgressBar& Progress_Step() = 0;
  virtual Timer& StartTimer() = 0;
  std::function<void()> OnShow;
};

// The backup-set chooser "选择备份文件": a list with check boxes and an OK button that is also
// the default button (Enter presses it).  It has no cancel button and no close box.
class GetFileListWindow : public ModalWindow {
 public:
  virtual ListView& List_Files() = 0;
  virtual Button& Btn_OK() = 0;
};

// The application object of the plug-in.
class Application {
 public:
  virtual ~Application() = default;

  // The window that owns every top-level window the plug-in opens.
  virtual WindowHandle OwnerWindow() const = 0;
  virtual void SetOwnerWindow(WindowHandle window) = 0;

  // Handles every pending window message, then returns.
  virtual void ProcessMessages() = 0;

  // A modal message box owned by the owner window; returns the button pressed.
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  // The plain message dialog (application title as caption, OK button only).
  virtual void ShowMessage(const std::string& text) = 0;
  // How the framework shows an exception that escapes an event handler.
  virtual void ShowException(const std::exception& error) = 0;

  virtual std::unique_ptr<DealWithBackupWindow> CreateDealWithBackupWindow(Edition edition) = 0;
  virtual std::unique_ptr<GetFileListWindow> CreateGetFileListWindow(
      DealWithBackupWindow& owner) = 0;
};

// Presses a button the way the framework does: the window's modal result is set from the button
// before its click handler runs; an exception that escapes the handler is shown by the
// application and goes no further.
void PressButton(Button& button, ModalWindow& window, Application& application);

}  // namespace finprep
