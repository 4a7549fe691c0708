// The user-interface components on Windows: the two dialogs built from the layouts in forms/,
// with comctl32's progress bar and report-view list, and the application object.
//
// Modal dialogs behave like the framework's: the dialog is created modeless and owned by the
// owner window; showing it modally disables the thread's other top-level windows, runs a message
// loop until the modal result is non-zero, re-enables the windows and hides the dialog.  An
// exception that escapes an event handler is shown by the application and goes no further, so
// none crosses the system's window procedures.
#pragma once

#include "platform/win32/windows_api.h"

#include <vector>

#include "platform/ui.h"

namespace finprep::win32 {

class Win32Application : public Application {
 public:
  // The caption of the application's own message dialogs.
  static constexpr const char* kTitle = "finprep";

  WindowHandle OwnerWindow() const override { return owner_; }
  void SetOwnerWindow(WindowHandle window) override { owner_ = window; }

  // PeekMessage until the queue is empty; keyboard input goes through IsDialogMessage of the
  // active modal dialog.  A WM_QUIT ends the pumping and the modal loops; it is posted again
  // once the outermost modal loop has returned, so the host's own loop sees it.
  void ProcessMessages() override;

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void ShowMessage(const std::string& text) override;
  void ShowException(const std::exception& error) override;

  std::unique_ptr<DealWithBackupWindow> CreateDealWithBackupWindow(Edition edition) override;
  std::unique_ptr<GetFileListWindow> CreateGetFileListWindow(DealWithBackupWindow& owner) override;

  // For the dialogs' modal loops.
  void Dispatch(MSG& message);
  void EnterModal(HWND dialog) { modal_dialogs_.push_back(dialog); }
  void LeaveModal();
  bool QuitRequested() const { return quit_requested_; }
  void RequestQuit(int code);

 private:
  WindowHandle owner_ = 0;
  std::vector<HWND> modal_dialogs_;
  bool quit_requested_ = false;
  int quit_code_ = 0;
};

}  // namespace finprep::win32
