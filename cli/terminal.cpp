#include "terminal.h"

#include <istream>
#include <ostream>

#include "platform/errors.h"
#include "platform/text.h"

namespace finprep::cli {

namespace {

// The preprocessing dialog's caption and the status text its layout starts with; the dialog only
// reports later changes of the label.
constexpr const char* kDealWithBackupCaption = "财务备份预处理";
constexpr const char* kInitialStatus = "数据源预处理请稍候...";
constexpr int kBarWidth = 40;

std::string Bar(int percent) {
  const int filled = percent * kBarWidth / 100;
  return "  [" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] " +
         (percent < 10    ? "  "
          : percent < 100 ? " "
                          : "") +
         std::to_string(percent) + "%";
}

// The row whose caption is the position `position`, or -1.
int RowOfPosition(portable::ChooserInput& chooser, int position) {
  for (int row = 0; row < chooser.RowCount(); ++row) {
    const std::optional<std::int32_t> value = ParseInt32(Trim(chooser.Caption(row)));
    if (value && *value == position) return row;
  }
  return -1;
}

std::string ListedPositions(portable::ChooserInput& chooser) {
  std::string list;
  for (int row = 0; row < chooser.RowCount(); ++row)
    list += (row ? ", " : "") + Trim(chooser.Caption(row));
  return list;
}

}  // namespace

void Terminal::Line(const std::string& text) {
  EndBar();
  out_ << text << '\n' << std::flush;
}

void Terminal::Prompt(const std::string& text) {
  EndBar();
  out_ << text << std::flush;
}

void Terminal::Progress(int percent) {
  if (percent == shown_percent_) return;
  if (percent < shown_percent_) shown_quarter_ = -1;  // a new bar
  shown_percent_ = percent;
  if (is_terminal_) {
    out_ << '\r' << Bar(percent) << std::flush;
    bar_open_ = true;
    return;
  }
  // A log file gets a line at 0 % and at each further quarter.
  const int quarter = percent / 25;
  if (quarter <= shown_quarter_) return;
  shown_quarter_ = quarter;
  out_ << Bar(percent) << '\n' << std::flush;
}

void Terminal::EndBar() {
  if (!bar_open_) return;
  out_ << '\n' << std::flush;
  bar_open_ = false;
}

void TerminalDesktop::DialogShown(const std::string& caption) {
  terminal_.Line(caption);
  if (caption == kDealWithBackupCaption) terminal_.Line(std::string("  ") + kInitialStatus);
}

void TerminalDesktop::LabelChanged(const std::string& text) { terminal_.Line("  " + text); }

void TerminalDesktop::ProgressChanged(std::int32_t range, std::int32_t position) {
  const std::int64_t done = position < range ? position : range;
  terminal_.Progress(range > 0 ? static_cast<int>(done * 100 / range) : 0);
}

int TerminalDesktop::MessageBox(const std::string& text, const std::string& caption,
                                unsigned flags) {
  (void)flags;  // every box the plug-in shows has one OK button, which the terminal presses
  terminal_.Line("[" + caption + "] " + text);
  return kIdOk;
}

void TerminalDesktop::ShowMessage(const std::string& text) {
  terminal_.Line(std::string("[") + portable::HeadlessApplication::kTitle + "] " + text);
}

void TerminalDesktop::UseChooser(portable::ChooserInput& chooser) {
  chooser_shown_ = true;
  ShowRows(chooser);
  if (preset_) {
    ChooseFromPreset(chooser, *preset_);
  } else {
    ChooseFromInput(chooser);
  }
}

void TerminalDesktop::ShowRows(portable::ChooserInput& chooser) {
  terminal_.Line("        编号  备份文件");
  for (int row = 0; row < chooser.RowCount(); ++row) {
    terminal_.Line(std::string("  [") + (chooser.Checked(row) ? "x" : " ") + "]  " +
                   chooser.Caption(row) + "     " + chooser.SubItem(row));
  }
}

void TerminalDesktop::ChooseFromPreset(portable::ChooserInput& chooser, int position) {
  const std::string how = "--set " + std::to_string(position) + ": ";
  if (position != 0) {
    const int row = RowOfPosition(chooser, position);
    // The chooser has no way out but OK; a set it does not list ends the run.
    if (row < 0) {
      throw Error(how + "the backup holds no set at that position; the chooser lists " +
                  ListedPositions(chooser));
    }
    if (!chooser.Checked(row)) chooser.ClickCheckBox(row);
  }
  PressOK(chooser, how);
}

void TerminalDesktop::ChooseFromInput(portable::ChooserInput& chooser) {
  for (;;) {
    terminal_.Prompt("  tick a set by its number, or press Enter for OK> ");
    std::string line;
    if (!std::getline(input_, line)) {
      terminal_.Line("");
      PressOK(chooser, "end of input: ");
      return;
    }
    if (echo_input_) terminal_.Line(line);
    const std::string answer = Trim(line);
    if (answer.empty() || AsciiLower(answer) == "ok") {
      PressOK(chooser, "");
      return;
    }
    const std::optional<std::int32_t> position = ParseInt32(answer);
    const int row = position ? RowOfPosition(chooser, *position) : -1;
    if (row < 0) {
      terminal_.Line("  no set " + answer + " in the list: type one of " +
                     ListedPositions(chooser) + ", or press Enter for OK");
      continue;
    }
    // A click on the box: ticking one row unticks the others, and a ticked row stays ticked.
    chooser.ClickCheckBox(row);
    ShowRows(chooser);
  }
}

void TerminalDesktop::PressOK(portable::ChooserInput& chooser, const std::string& how) {
  std::string ticked;
  for (int row = 0; row < chooser.RowCount() && ticked.empty(); ++row)
    if (chooser.Checked(row)) ticked = Trim(chooser.Caption(row));
  terminal_.Line("  " + how +
                 (ticked.empty()
                      ? "OK pressed with nothing ticked: the server restores the first set"
                      : "OK pressed with set " + ticked + " ticked"));
  chooser.ClickOK();
}

void TerminalHostLog::WriteLog(int level, const std::string& message) {
  terminal_.Line("[log " + std::to_string(level) + "] " + message);
}

}  // namespace finprep::cli
