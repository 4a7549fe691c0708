// The preprocessing dialog "财务备份预处理": its step driver runs one whole run (staging copy,
// service check, restore, views and item tables) inside the dialog's modal loop and ends the
// dialog with modal result 1 (every step succeeded) or 2.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DealWithBackup/Statements.h"
#include "GetFileList/GetFileList.h"
#include "platform/database.h"
#include "platform/edition.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace finprep {

// Host-instance edition: the server-level connection string that the last restore obtained from
// dbfinder.  It keeps its value from one run to the next while the library stays loaded.
extern std::string SqlConnectionString;

// Reports an exception that ended a run: "数据预处理出现异常！" and its message, in the host log
// (host-instance edition) or in an error box.
void ReportRunException(Platform& platform, Edition edition, const std::string& message);

class TForm_DealWithBackup {
 public:
  TForm_DealWithBackup(Platform& platform, Edition edition);
  ~TForm_DealWithBackup();
  TForm_DealWithBackup(const TForm_DealWithBackup&) = delete;
  TForm_DealWithBackup& operator=(const TForm_DealWithBackup&) = delete;

  // The host's arguments: the backup file, the work folder (ending with the platform's
  // separator) and the table-name suffix.
  void StoreArguments(const std::string& backup_file, const std::string& work_dir,
                      const std::string& table_suffix);

  int ShowModal() { return window_->ShowModal(); }
  int ModalResult() const { return window_->ModalResult(); }

  // Components of the layout.
  Label& RzLabel_ShowInfo() { return window_->RzLabel_ShowInfo(); }
  ProgressBar& Progress_Step() { return window_->Progress_Step(); }
  Timer& StartTimer() { return window_->StartTimer(); }

  // The one connection and the two components bound to it.
  Connection FTargetConnection;
  Command FQuery;
  Query FADOQuery;

  // The step driver: the handler of the one-shot start timer.
  void StartTimerTimer();
  void FormShow();

 private:
  friend struct DealWithBackupProbe;  // white-box access for the tests and benchmarks

  std::int32_t SelectBackupSet();
  bool StageBackupFile(const std::string& source);
  bool RestoreDatabase();
  bool PrepareViews();
  bool EnsureSqlServerRunning();
  bool OpenQuery(const std::string& statement);
  bool ExecCommand(const std::string& statement);
  bool CopyFileWithProgress(const std::string& source, const std::string& destination);

  bool RunSteps();
  std::vector<BackupFileRow> ReadFileList();
  void PrepareAuxiliaryItems();
  bool HostInstance() const { return edition_ == Edition::HostInstance; }
  // One failure report: the host log in the host-instance edition, a message box otherwise.
  void Report(const std::string& log_text, const std::string& box_text, const std::string& caption,
              unsigned flags);

  Platform& platform_;
  Edition edition_;
  std::unique_ptr<DealWithBackupWindow> window_;

  std::string FBackupFile;
  std::string FStagedFile;
  std::string FWorkDir;
  std::string FTableSuffix;

  // The backup-set chooser, once one was needed; lives as long as the dialog.
  std::unique_ptr<TForm_GetFileList> chooser_;
};

}  // namespace finprep
