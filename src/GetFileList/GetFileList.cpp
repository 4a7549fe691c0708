#include "GetFileList/GetFileList.h"

#include <string>

#include "platform/errors.h"
#include "platform/text.h"

namespace finprep {

TForm_GetFileList::TForm_GetFileList(Application& application, DealWithBackupWindow& owner)
    : window_(application.CreateGetFileListWindow(owner)) {
  Btn_OK().modal_result = kModalOK;  // an OK-kind button
  Btn_OK().OnClick = [this] { Btn_OKClick(); };
  List_Files().OnCheckStateChange = [this](int item) { List_FilesCheckStateChange(item); };
}

void TForm_GetFileList::List_FilesCheckStateChange(int item) {
  // The list reports the rule's own changes as well; they must not start the rule again.
  if (applying_rule_) return;
  struct Guard {
    bool& flag;
    explicit Guard(bool& f) : flag(f) { flag = true; }
    ~Guard() { flag = false; }
  } guard(applying_rule_);
  ListView& list = List_Files();
  for (int i = 0; i < list.Count(); ++i)
    list.SetChecked(i, false);
  list.SetChecked(item, true);
}

void TForm_GetFileList::Btn_OKClick() {
  ListView& list = List_Files();
  for (int i = 0; i < list.Count(); ++i) {
    if (!list.Checked(i)) continue;
    const std::string caption = Trim(list.Caption(i));
    const std::optional<std::int32_t> position = ParseInt32(caption);
    if (!position) throw Error("'" + caption + "' is not a valid integer value");
    FSelectedPosition = *position;
    return;
  }
}

}  // namespace finprep
