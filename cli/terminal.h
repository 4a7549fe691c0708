// What the terminal runner shows on stderr: the preprocessing dialog's status lines and progress
// bar, the backup-set chooser as a numbered prompt, message boxes and the host's log.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "platform/portable/headless_ui.h"
#include "platform/system.h"

namespace finprep::cli {

// Lines on one output stream, with a progress bar that is redrawn in place (\r) on a terminal and
// printed as a few plain lines otherwise.  A line printed while the bar is drawn starts on a line
// of its own.
class Terminal {
 public:
  Terminal(std::ostream& out, bool is_terminal) : out_(out), is_terminal_(is_terminal) {}
  ~Terminal() { EndBar(); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  void Line(const std::string& text);
  // Text without a line end (a prompt); the next Line or input continues after it.
  void Prompt(const std::string& text);
  // Shows the bar at `percent` (0..100); nothing happens while the percentage stays the same.
  void Progress(int percent);
  // Ends a bar drawn in place, so that what follows starts on a new line.
  void EndBar();

 private:
  std::ostream& out_;
  bool is_terminal_;
  bool bar_open_ = false;
  int shown_percent_ = -1;
  // Without a terminal: the last quarter (0..4) printed.
  int shown_quarter_ = -1;
};

// The person at the terminal.  The chooser either takes its answer from `--set` (`preset`) or asks
// on the terminal and reads the answers from `input`.
class TerminalDesktop : public portable::Desktop {
 public:
  TerminalDesktop(Terminal& terminal, std::istream& input, bool echo_input,
                  std::optional<int> preset)
      : terminal_(terminal), input_(input), echo_input_(echo_input), preset_(preset) {}

  void DialogShown(const std::string& caption) override;
  void LabelChanged(const std::string& text) override;
  void ProgressChanged(std::int32_t range, std::int32_t position) override;
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void ShowMessage(const std::string& text) override;
  void UseChooser(portable::ChooserInput& chooser) override;

  bool chooser_shown() const { return chooser_shown_; }

 private:
  void ShowRows(portable::ChooserInput& chooser);
  void ChooseFromPreset(portable::ChooserInput& chooser, int position);
  void ChooseFromInput(portable::ChooserInput& chooser);
  void PressOK(portable::ChooserInput& chooser, const std::string& how);

  Terminal& terminal_;
  std::istream& input_;
  bool echo_input_;
  std::optional<int> preset_;
  bool chooser_shown_ = false;
};

// The host's log: each line on the terminal as "[log LEVEL] message".
class TerminalHostLog : public HostLog {
 public:
  explicit TerminalHostLog(Terminal& terminal) : terminal_(terminal) {}
  void WriteLog(int level, const std::string& message) override;

 private:
  Terminal& terminal_;
};

}  // namespace finprep::cli
