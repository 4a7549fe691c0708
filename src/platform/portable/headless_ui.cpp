#include "platform/portable/headless_ui.h"

#include <utility>

#include "platform/errors.h"

namespace finprep::portable {

namespace {

constexpr const char* kDealWithBackupCaption = "财务备份预处理";
constexpr const char* kGetFileListCaption = "选择备份文件";
constexpr const char* kInitialStatus = "数据源预处理请稍候...";

class HeadlessLabel : public Label {
 public:
  HeadlessLabel(Desktop& desktop, std::string caption)
      : desktop_(desktop), caption_(std::move(caption)) {}
  void SetCaption(const std::string& text) override {
    if (text == caption_) return;
    caption_ = text;
    desktop_.LabelChanged(caption_);
  }
  std::string Caption() const override { return caption_; }

 private:
  Desktop& desktop_;
  std::string caption_;
};

class HeadlessProgressBar : public ProgressBar {
 public:
  explicit HeadlessProgressBar(Desktop& desktop) : desktop_(desktop) {}

 protected:
  void Show(std::int32_t range, std::int32_t position) override {
    if (range == range_ && position == position_) return;
    range_ = range;
    position_ = position;
    desktop_.ProgressChanged(range, position);
  }

 private:
  Desktop& desktop_;
  std::int32_t range_ = 0;
  std::int32_t position_ = 0;
};

class HeadlessTimer : public Timer {
 public:
  explicit HeadlessTimer(Clock& clock) : clock_(clock) { Arm(); }
  void SetEnabled(bool enabled) override {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled_) Arm();
  }
  bool Enabled() const override { return enabled_; }
  std::int64_t due_ms() const { return due_ms_; }
  void Rearm() { Arm(); }

 private:
  void Arm() { due_ms_ = clock_.NowMs() + interval_ms; }

  Clock& clock_;
  bool enabled_ = true;
  std::int64_t due_ms_ = 0;
};

class HeadlessListView : public ListView {
 public:
  int AddItem(const std::string& caption, const std::string& sub_item) override {
    rows_.push_back({caption, sub_item, false});
    return static_cast<int>(rows_.size()) - 1;
  }
  int Count() const override { return static_cast<int>(rows_.size()); }
  std::string Caption(int item) const override { return rows_.at(item).caption; }
  std::string SubItem(int item) const override { return rows_.at(item).sub_item; }
  bool Checked(int item) const override { return rows_.at(item).checked; }
  void SetChecked(int item, bool checked) override {
    Row& row = rows_.at(item);
    if (row.checked == checked) return;
    row.checked = checked;
    if (OnCheckStateChange) OnCheckStateChange(item);
  }

 private:
  struct Row {
    std::string caption;
    std::string sub_item;
    bool checked;
  };
  std::vector<Row> rows_;
};

class HeadlessGetFileListWindow : public GetFileListWindow, private ChooserInput {
 public:
  explicit HeadlessGetFileListWindow(HeadlessApplication& app) : app_(app) {
    ok_.modal_result = kModalOK;
  }

  ListView& List_Files() override { return list_; }
  Button& Btn_OK() override { return ok_; }
  void SetModalResult(int result) override { modal_result_ = result; }
  int ModalResult() const override { return modal_result_; }

  int ShowModal() override {
    modal_result_ = kModalNone;
    app_.desktop().DialogShown(kGetFileListCaption);
    app_.desktop().UseChooser(*this);
    if (modal_result_ == kModalNone) {
      throw Error("the chooser was left open: nobody pressed OK, and it has no other way out");
    }
    app_.desktop().DialogClosed(kGetFileListCaption, modal_result_);
    return modal_result_;
  }

 private:
  int RowCount() const override { return list_.Count(); }
  std::string Caption(int row) const override { return list_.Caption(row); }
  std::string SubItem(int row) const override { return list_.SubItem(row); }
  bool Checked(int row) const override { return list_.Checked(row); }
  void ClickCheckBox(int row) override { list_.SetChecked(row, !list_.Checked(row)); }
  void ClickOK() override { PressButton(ok_, *this, app_); }
  void PressEnter() override { PressButton(ok_, *this, app_); }
  void PressEscape() override {}

  HeadlessApplication& app_;
  HeadlessListView list_;
  Button ok_;
  int modal_result_ = kModalNone;
};

}  // namespace

class HeadlessDealWithBackupWindow : public DealWithBackupWindow {
 public:
  HeadlessDealWithBackupWindow(HeadlessApplication& app, Edition edition)
      : app_(app),
        edition_(edition),
        label_(app.desktop(), kInitialStatus),
        progress_(app.desktop()),
        timer_(app.clock()) {}

  Label& RzLabel_ShowInfo() override { return label_; }
  ProgressBar& Progress_Step() override { return progress_; }
  Timer& StartTimer() override { return timer_; }
  void SetModalResult(int result) override { modal_result_ = result; }
  int ModalResult() const override { return modal_result_; }

  int ShowModal() override {
    HeadlessDealWithBackupWindow* outer = app_.modal_dialog_;
    app_.modal_dialog_ = this;
    try {
      modal_result_ = kModalNone;
      app_.desktop().DialogShown(kDealWithBackupCaption);
      if (OnShow) OnShow();
      RunLoop();
    } catch (...) {
      app_.modal_dialog_ = outer;
      throw;
    }
    app_.modal_dialog_ = outer;
    app_.desktop().DialogClosed(kDealWithBackupCaption, modal_result_);
    return modal_result_;
  }

  // One pass over the pending messages: the only input a headless dialog gets is the desktop's
  // click on the close button.
  void Pump() {
    PumpContext context{app_.clock().NowMs(), pumps_++, driver_running_};
    if (app_.desktop().ClickClose(context) && edition_ == Edition::HostInstance) {
      modal_result_ = kModalCancel;
    }
  }

 private:
  void RunLoop() {
    for (;;) {
      Pump();
      if (modal_result_ != kModalNone) return;
      if (!timer_.Enabled()) {
        throw Error("the dialog would wait for ever: no modal result and no timer left to fire");
      }
      const std::int64_t now = app_.clock().NowMs();
      if (now < timer_.due_ms()) app_.clock().Sleep(timer_.due_ms() - now);
      timer_.Rearm();
      FireTimer();
      if (modal_result_ != kModalNone) return;
    }
  }

  void FireTimer() {
    if (!timer_.OnTimer) return;
    driver_running_ = true;
    try {
      timer_.OnTimer();
    } catch (const std::exception& error) {
      // The framework's dispatch shows an exception that escapes a timer event and goes on.
      app_.ShowException(error);
    }
    driver_running_ = false;
  }

  HeadlessApplication& app_;
  Edition edition_;
  HeadlessLabel label_;
  HeadlessProgressBar progress_;
  HeadlessTimer timer_;
  int modal_result_ = kModalNone;
  int pumps_ = 0;
  bool driver_running_ = false;
};

void HeadlessApplication::ProcessMessages() {
  if (modal_dialog_) modal_dialog_->Pump();
}

int HeadlessApplication::MessageBox(const std::string& text, const std::string& caption,
                                    unsigned flags) {
  return desktop_.MessageBox(text, caption, flags);
}

void HeadlessApplication::ShowMessage(const std::string& text) { desktop_.ShowMessage(text); }

void HeadlessApplication::ShowException(const std::exception& error) {
  desktop_.MessageBox(error.what(), kTitle, kMbIconError);
}

std::unique_ptr<DealWithBackupWindow> HeadlessApplication::CreateDealWithBackupWindow(
    Edition edition) {
  return std::make_unique<HeadlessDealWithBackupWindow>(*this, edition);
}

std::unique_ptr<GetFileListWindow> HeadlessApplication::CreateGetFileListWindow(
    DealWithBackupWindow& owner) {
  (void)owner;
  return std::make_unique<HeadlessGetFileListWindow>(*this);
}

}  // namespace finprep::portable
