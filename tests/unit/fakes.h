// Scripted components for the unit tests: a desktop that records what the dialogs show and acts
// as told, a database driver that answers statements from a table, files that can fail on
// purpose, and a whole portable platform built from them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DealWithBackup/DealWithBackup.h"
#include "platform/database.h"
#include "platform/errors.h"
#include "platform/platform.h"
#include "platform/portable/clocks.h"
#include "platform/portable/headless_ui.h"
#include "platform/portable/in_process_libraries.h"
#include "platform/portable/posix_files.h"
#include "platform/portable/recording_host_log.h"
#include "platform/portable/simulated_services.h"
#include "temp_dir.h"

namespace finprep {

// White-box access to the dialog's steps.
struct DealWithBackupProbe {
  static bool Copy(TForm_DealWithBackup& f, const std::string& from, const std::string& to) {
    return f.CopyFileWithProgress(from, to);
  }
  static bool EnsureService(TForm_DealWithBackup& f) { return f.EnsureSqlServerRunning(); }
  static std::int32_t SelectBackupSet(TForm_DealWithBackup& f) { return f.SelectBackupSet(); }
  static bool OpenQuery(TForm_DealWithBackup& f, const std::string& s) { return f.OpenQuery(s); }
  static bool ExecCommand(TForm_DealWithBackup& f, const std::string& s) {
    return f.ExecCommand(s);
  }
  static void SetStagedFile(TForm_DealWithBackup& f, const std::string& path) {
    f.FStagedFile = path;
  }
};

namespace test {

struct Box {
  std::string text;
  std::string caption;
  unsigned flags;
  bool operator==(const Box& o) const {
    return text == o.text && caption == o.caption && flags == o.flags;
  }
};

class ScriptedDesktop : public portable::Desktop {
 public:
  std::vector<Box> boxes;
  std::vector<std::string> messages;  // the framework's plain message dialog
  std::vector<std::string> labels;    // every status text shown, in order
  int driver_pumps = 0;               // message pumps while the step driver runs
  // Clicks the close button at this pump of the preprocessing dialog (-1: never).
  int close_at_pump = -1;
  // What the person at the chooser does; by default nothing is ticked and Enter is pressed.
  std::function<void(portable::ChooserInput&)> use_chooser;
  int choosers_shown = 0;
  std::vector<std::string> chooser_rows;  // "caption|sub-item" of the chooser's rows

  std::function<void()> on_dialog_shown;

  void DialogShown(const std::string&) override {
    if (on_dialog_shown) on_dialog_shown();
  }
  bool ClickClose(const portable::PumpContext& context) override {
    if (context.driver_running) ++driver_pumps;
    return context.pump == close_at_pump;
  }
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    boxes.push_back({text, caption, flags});
    return kIdOk;
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void LabelChanged(const std::string& text) override { labels.push_back(text); }
  void UseChooser(portable::ChooserInput& chooser) override {
    ++choosers_shown;
    for (int i = 0; i < chooser.RowCount(); ++i)
      chooser_rows.push_back(chooser.Caption(i) + "|" + chooser.SubItem(i));
    if (use_chooser) {
      use_chooser(chooser);
    } else {
      chooser.PressEnter();
    }
  }
};

// A failure that is no std::exception, as a foreign library might raise.
struct ForeignFailure {
  std::string message;
};

// Answers statements from a table and records, in one log, every connect ("connect <string>"),
// query ("Q <sql>"), command ("E <sql>") and disconnect ("disconnect").
class ScriptedDriver : public DatabaseDriver {
 public:
  struct Answer {
    enum class Kind { Rows, NoResultSet, ProviderFailure, OtherFailure } kind = Kind::Rows;
    ResultSet rows;
    std::string message;
  };

  std::map<std::string, Answer> answers;  // by statement; unknown queries give no rows
  std::set<std::string> refused;          // connection strings that cannot connect
  std::vector<std::string> log;
  std::function<void()> on_disconnect;

  void Rows(const std::string& sql, ResultSet rows) {
    answers[sql] = {Answer::Kind::Rows, rows, ""};
  }
  void Fail(const std::string& sql, const std::string& message) {
    answers[sql] = {Answer::Kind::ProviderFailure, {}, message};
  }
  // Raises a ForeignFailure.
  void FailOther(const std::string& sql, const std::string& message) {
    answers[sql] = {Answer::Kind::OtherFailure, {}, message};
  }
  void NoResultSet(const std::string& sql) { answers[sql] = {Answer::Kind::NoResultSet, {}, ""}; }

  std::unique_ptr<Session> Connect(const std::string& cs, int timeout_seconds) override;

  // The log without connects and disconnects.
  std::vector<std::string> Statements() const;
};

// Files on disk that can fail on purpose: a short write or an empty read at a given chunk, and
// a source stream of any size that is not on disk.
class FaultyFiles : public FileSystem {
 public:
  int short_write_at = -1;         // 0-based index of the write that stores one byte less
  int zero_read_at = -1;           // 0-based index of the read that delivers nothing
  std::vector<std::size_t> reads;  // bytes delivered by each read
  int open_streams = 0;
  std::vector<std::string> deleted;
  // When set, OpenRead of `virtual_path` gives this stream instead of a file.
  std::string virtual_path;
  std::function<std::unique_ptr<FileStream>()> virtual_source;

  std::unique_ptr<FileStream> OpenRead(const std::string& path) override;
  std::unique_ptr<FileStream> Create(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  std::string Separator() const override { return "/"; }

 private:
  class Stream;
  portable::PosixFileSystem disk_;
  int read_index_ = 0;
  int write_index_ = 0;
};

using ::finprep::test_support::TempDir;

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// A whole portable platform with scripted parts and a fixture for one run: a backup file, a work
// folder, a dbfinder that names a server, a running MSSQLServer, and a server whose backup holds
// one set with a data file and a log file.
struct Env {
  static constexpr const char* kServer =
      "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Initial Catalog=master;Data "
      "Source=srv";
  static constexpr const char* kVorira =
      "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Initial Catalog=vorira;Data "
      "Source=srv";

  ScriptedDesktop desktop;
  portable::ManualClock clock;
  portable::HeadlessApplication application{desktop, clock};
  FaultyFiles files;
  ScriptedDriver database;
  portable::SimulatedServiceManager services;
  portable::InProcessLibraryLoader libraries;
  portable::RecordingHostLog host_log;
  Platform platform{application, files, database, services, libraries, clock, host_log};

  TempDir dir;
  std::string base;      // the host's base folder, with its trailing separator
  std::string work;      // base + "TempLateTemp/"
  std::string backup;    // the host's backup file
  std::string dbfinder;  // where the host-instance edition loads dbfinder from

  Env();
  // The staged copy of the edition.
  std::string Staged(Edition edition) const;
  // One whole run through DoItRun.
  std::string Run(Edition edition, const char* suffix = "");
  // The time spent in pauses: the clock's sleeps less the first timer interval, which the
  // headless modal loop sleeps through before the step driver starts.
  std::int64_t Pauses() const { return clock.slept_ms() - 1000; }
  std::vector<std::string> LogLines() const;
};

}  // namespace test
}  // namespace finprep
