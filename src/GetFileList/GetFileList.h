// The backup-set chooser "选择备份文件": one row per backup set (position, database name) with
// check boxes, at most one of them ticked, and an OK button.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/ui.h"

namespace finprep {

class TForm_GetFileList {
 public:
  TForm_GetFileList(Application& application, DealWithBackupWindow& owner);
  TForm_GetFileList(const TForm_GetFileList&) = delete;
  TForm_GetFileList& operator=(const TForm_GetFileList&) = delete;

  ListView& List_Files() { return window_->List_Files(); }
  Button& Btn_OK() { return window_->Btn_OK(); }

  int ShowModal() { return window_->ShowModal(); }

  // Ticking a row unticks every other row; unticking the ticked row ticks it again.
  void List_FilesCheckStateChange(int item);
  // Takes the position from the first ticked row's caption.
  void Btn_OKClick();

  // The position from the ticked row when OK was pressed, else 0.
  std::int32_t SelectedPosition() const { return FSelectedPosition; }

 private:
  std::unique_ptr<GetFileListWindow> window_;
  std::int32_t FSelectedPosition = 0;
  // Set while the rule changes check states itself, so those changes do not run it again.
  bool applying_rule_ = false;
};

}  // namespace finprep
