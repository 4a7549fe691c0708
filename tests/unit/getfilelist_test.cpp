// The backup-set chooser: the single-check rule and what OK takes from the ticked row.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "GetFileList/GetFileList.h"
#include "fakes.h"

namespace finprep {
namespace {

TEST(Chooser, SingleCheckRuleAndOk) {
  enum class Press { OK, Enter };
  struct Case {
    const char* name;
    std::vector<int> clicks;
    Press press;
    std::vector<bool> ticked;
    std::int32_t position;
  } cases[] = {
      {"nothing ticked", {}, Press::OK, {false, false, false}, 0},
      {"one row", {1}, Press::OK, {false, true, false}, 2},
      {"row 1 then row 3", {0, 2}, Press::Enter, {false, false, true}, 3},
      {"the ticked row clicked again stays ticked", {1, 1}, Press::Enter, {false, true, false}, 2},
      {"back and forth", {2, 0, 2, 2}, Press::OK, {false, false, true}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Env env;
    auto owner = env.application.CreateDealWithBackupWindow(Edition::HostInstance);
    TForm_GetFileList chooser(env.application, *owner);
    int rule_runs = 0;
    auto rule = chooser.List_Files().OnCheckStateChange;
    chooser.List_Files().OnCheckStateChange = [&](int item) {
      ++rule_runs;
      rule(item);
    };
    for (const char* position : {"1", "2", "3"})
      chooser.List_Files().AddItem(position, "books");
    std::vector<bool> ticked;
    env.desktop.use_chooser = [&](portable::ChooserInput& input) {
      for (int row : c.clicks)
        input.ClickCheckBox(row);
      for (int row = 0; row < input.RowCount(); ++row)
        ticked.push_back(input.Checked(row));
      input.PressEscape();  // no cancel button: nothing happens
      c.press == Press::OK ? input.ClickOK() : input.PressEnter();
    };

    EXPECT_EQ(chooser.ShowModal(), kModalOK);
    EXPECT_EQ(ticked, c.ticked);
    EXPECT_EQ(chooser.SelectedPosition(), c.position);
    // Every user click and every change the rule makes itself reaches the handler once, and
    // the rule's own changes do not set it off again.
    EXPECT_LE(rule_runs, static_cast<int>(c.clicks.size()) * 5);
  }
}

TEST(Chooser, CaptionIsTrimmedAndABadOneLeavesZero) {
  struct Case {
    const char* caption;
    std::int32_t position;
    std::size_t error_boxes;
  } cases[] = {{" 12\t", 12, 0}, {"x1", 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption);
    test::Env env;
    auto owner = env.application.CreateDealWithBackupWindow(Edition::HostInstance);
    TForm_GetFileList chooser(env.application, *owner);
    chooser.List_Files().AddItem("1", "books");
    chooser.List_Files().AddItem(c.caption, "audit");
    env.desktop.use_chooser = [](portable::ChooserInput& input) {
      input.ClickCheckBox(1);
      input.ClickOK();
    };
    // The modal result is set before the click handler runs, so a bad caption still closes.
    EXPECT_EQ(chooser.ShowModal(), kModalOK);
    EXPECT_EQ(chooser.SelectedPosition(), c.position);
    EXPECT_EQ(env.desktop.boxes.size(), c.error_boxes);
  }
}

}  // namespace
}  // namespace finprep
