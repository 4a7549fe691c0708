// Headless windows: the dialogs without a window system, driven by a `Desktop`.
//
// The modal loop of the preprocessing dialog runs on the application's clock: it fires the
// dialog's timer when its interval has passed (sleeping until then) and lets the desktop act at
// every message pump.  Tests use a scripted desktop and a manual clock, so nothing sleeps; the
// terminal runner uses a desktop that prints and prompts, and the real clock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/ui.h"

namespace finprep::portable {

// What the desktop is told at a message pump of the preprocessing dialog.
struct PumpContext {
  std::int64_t now_ms = 0;
  // 0 for the first pump of the dialog's modal loop; counts every pump, those of the steps' own
  // message processing included.
  int pump = 0;
  // True while the step driver runs (the timer has fired).
  bool driver_running = false;
};

// The chooser as the person at the screen uses it.
class ChooserInput {
 public:
  virtual ~ChooserInput() = default;
  virtual int RowCount() const = 0;
  virtual std::string Caption(int row) const = 0;
  virtual std::string SubItem(int row) const = 0;
  virtual bool Checked(int row) const = 0;
  // A click on a row's check box: toggles it, and the list reports the change.
  virtual void ClickCheckBox(int row) = 0;
  virtual void ClickOK() = 0;
  // Enter presses the default button (OK); Escape does nothing, for there is no cancel button.
  virtual void PressEnter() = 0;
  virtual void PressEscape() = 0;
};

// The person at the screen: sees what the dialogs show and acts on them.
class Desktop {
 public:
  virtual ~Desktop() = default;

  virtual void DialogShown(const std::string& caption) { (void)caption; }
  virtual void DialogClosed(const std::string& caption, int modal_result) {
    (void)caption, (void)modal_result;
  }
  virtual void LabelChanged(const std::string& text) { (void)text; }
  virtual void ProgressChanged(std::int32_t range, std::int32_t position) {
    (void)range, (void)position;
  }
  // Messages are pumped while the preprocessing dialog is up: return true to click its close
  // button now (which only the host-instance edition's dialog has).
  virtual bool ClickClose(const PumpContext& context) {
    (void)context;
    return false;
  }
  // A modal message box; returns the button pressed.
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    (void)text, (void)caption, (void)flags;
    return kIdOk;
  }
  virtual void ShowMessage(const std::string& text) { (void)text; }
  // The chooser is up.  The desktop ticks rows and presses OK or Enter through `chooser`; if it
  // returns without closing the chooser, the chooser would wait for ever, which is an Error.
  virtual void UseChooser(ChooserInput& chooser) = 0;
};

class HeadlessApplication : public Application {
 public:
  // The application title, the caption of the framework's own message dialogs.
  static constexpr const char* kTitle = "finprep";

  HeadlessApplication(Desktop& desktop, Clock& clock) : desktop_(desktop), clock_(clock) {}

  WindowHandle OwnerWindow() const override { return owner_; }
  void SetOwnerWindow(WindowHandle window) override { owner_ = window; }
  void ProcessMessages() override;
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void ShowMessage(const std::string& text) override;
  void ShowException(const std::exception& error) override;
  std::unique_ptr<DealWithBackupWindow> CreateDealWithBackupWindow(Edition edition) override;
  std::unique_ptr<GetFileListWindow> CreateGetFileListWindow(DealWithBackupWindow& owner) override;

  Desktop& desktop() { return desktop_; }
  Clock& clock() { return clock_; }

 private:
  friend class HeadlessDealWithBackupWindow;

  Desktop& desktop_;
  Clock& clock_;
  WindowHandle owner_ = 0;
  // The preprocessing dialog while its modal loop runs; the target of message pumps.
  class HeadlessDealWithBackupWindow* modal_dialog_ = nullptr;
};

}  // namespace finprep::portable
