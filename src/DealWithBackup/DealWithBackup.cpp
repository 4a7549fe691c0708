#include "DealWithBackup/DealWithBackup.h"

#include <exception>
#include <utility>

#include "platform/errors.h"
#include "platform/text.h"

namespace finprep {

std::string SqlConnectionString;

namespace {

constexpr const char* kWarning = "警告";
constexpr const char* kError = "错误";
constexpr const char* kRunException = "数据预处理出现异常！";

constexpr int kPauseMs = 2000;
// The longest wait for a service that reports "start pending".
constexpr std::int64_t kServiceStartWaitMs = 120000;
constexpr std::size_t kCopyChunk = 1025;

const char* ServiceOpenErrorText(std::uint32_t error) {
  switch (error) {
    case kErrorAccessDenied:
      return "没有访问服务的权限..";
    case kErrorInvalidHandle:
      return "无效的服务句柄..";
    case kErrorInvalidName:
      return "无效的服务名..";
    case kErrorServiceDoesNotExist:
      return "此模板需要MsSqlServer2K 你的计算机上没有安装Sqlserver2K..";
    default:
      return "";
  }
}

}  // namespace

void ReportRunException(Platform& platform, Edition edition, const std::string& message) {
  const std::string text = kRunException + message;
  if (edition == Edition::HostInstance) {
    platform.host_log.WriteLog(3, text);
  } else {
    platform.application.MessageBox(text, kError, kMbIconError);
  }
}

TForm_DealWithBackup::TForm_DealWithBackup(Platform& platform, Edition edition)
    : FTargetConnection(platform.database),
      FQuery(FTargetConnection),
      FADOQuery(FTargetConnection, "FADOQuery"),
      platform_(platform),
      edition_(edition),
      window_(platform.application.CreateDealWithBackupWindow(edition)) {
  FQuery.command_timeout_seconds = 0;
  StartTimer().OnTimer = [this] { StartTimerTimer(); };
  window_->OnShow = [this] { FormShow(); };
}

TForm_DealWithBackup::~TForm_DealWithBackup() = default;

void TForm_DealWithBackup::StoreArguments(const std::string& backup_file,
                                          const std::string& work_dir,
                                          const std::string& table_suffix) {
  FBackupFile = backup_file;
  FWorkDir = work_dir;
  FTableSuffix = table_suffix;
}

void TForm_DealWithBackup::FormShow() { StartTimer().SetEnabled(true); }

void TForm_DealWithBackup::Report(const std::string& log_text, const std::string& box_text,
                                  const std::string& caption, unsigned flags) {
  if (HostInstance()) {
    platform_.host_log.WriteLog(3, log_text);
  } else {
    platform_.application.MessageBox(box_text, caption, flags);
  }
}

// The step driver.  The modal result is set before any report, so that a report that fails
// cannot leave the dialog without a way out.
void TForm_DealWithBackup::StartTimerTimer() {
  // Steps let the message queue run; the timer must not start the driver a second time.
  StartTimer().SetEnabled(false);

  // The suffix goes verbatim into every statement: refuse anything but a plain name part before
  // a single byte is copied.
  if (!IsPlainNamePart(FTableSuffix)) {
    window_->SetModalResult(kModalCancel);
    const std::string text = "表名后缀无效：" + FTableSuffix;
    Report(text, text, kError, kMbIconError);
    return;
  }

  try {
    window_->SetModalResult(RunSteps() ? kModalOK : kModalCancel);
  } catch (const std::exception& error) {
    window_->SetModalResult(kModalCancel);
    ReportRunException(platform_, edition_, error.what());
  } catch (...) {
    window_->SetModalResult(kModalCancel);
    ReportRunException(platform_, edition_, "");
  }
}

bool TForm_DealWithBackup::RunSteps() {
  if (!StageBackupFile(FBackupFile)) return false;
  if (!HostInstance() && !EnsureSqlServerRunning()) return false;
  platform_.clock.Sleep(kPauseMs);
  if (!RestoreDatabase()) return false;
  platform_.clock.Sleep(kPauseMs);
  return PrepareViews();
}

std::int32_t TForm_DealWithBackup::SelectBackupSet() {
  OpenQuery(HeaderOnlyStatement(FStagedFile));
  // A failed listing leaves the query closed, and the row count then raises.
  if (FADOQuery.RecordCount() <= 1) return 0;

  chooser_ = std::make_unique<TForm_GetFileList>(platform_.application, *window_);
  FADOQuery.First();
  while (!FADOQuery.Eof()) {
    chooser_->List_Files().AddItem(FADOQuery.FieldAsString("Position"),
                                   FADOQuery.FieldAsString("DataBaseName"));
    FADOQuery.Next();
  }
  FADOQuery.Close();
  if (chooser_->ShowModal() == kModalOK) return chooser_->SelectedPosition();
  return 0;
}

bool TForm_DealWithBackup::StageBackupFile(const std::string& source) {
  FStagedFile = FWorkDir + (HostInstance() ? "xy.temp" : "vorira8x.temp");
  return CopyFileWithProgress(source, FStagedFile);
}

bool TForm_DealWithBackup::CopyFileWithProgress(const std::string& source,
                                                const std::string& destination) {
  // Open failures leave as FileError; a source that was opened is closed by its destructor.
  std::unique_ptr<FileStream> in = platform_.files.OpenRead(source);
  std::unique_ptr<FileStream> out = platform_.files.Create(destination);

  bool copied = false;
  try {
    const std::int64_t size = in->Size();
    Progress_Step().SetTotalParts(size);
    in->Seek(0);
    char buffer[kCopyChunk];
    copied = true;
    while (in->Position() < size) {
      const std::size_t read = in->Read(buffer, sizeof buffer);
      // A read that delivers nothing before the end, or a write that stores less than was read
      // (a full disk), must not pass as a complete copy.
      if (read == 0 || out->Write(buffer, read) != read) {
        copied = false;
        break;
      }
      Progress_Step().SetPartsComplete(in->Position());
      platform_.application.ProcessMessages();
    }
  } catch (...) {
    copied = false;
  }

  if (!copied) window_->SetModalResult(kModalCancel);
  out->Close();
  in->Close();
  if (!copied) platform_.files.DeleteFile(destination);  // no partial copy is left to restore
  return copied;
}

bool TForm_DealWithBackup::OpenQuery(const std::string& statement) {
  FADOQuery.Close();
  FADOQuery.SetSQL(statement);
  try {
    FADOQuery.Open();
  } catch (const ProviderError& error) {
    const std::string text = "SQL=" + statement + "不能执行";
    Report(text + error.what(), text, kWarning, kMbIconWarning);
    return false;
  }
  return true;
}

bool TForm_DealWithBackup::ExecCommand(const std::string& statement) {
  FQuery.SetCommandText(statement);
  try {
    FQuery.Execute();
  } catch (const ProviderError& error) {
    const std::string text = "SQL=" + statement + "不能执行";
    Report(text + error.what(), text, kWarning, kMbIconWarning);
    return false;
  }
  return true;
}

bool TForm_DealWithBackup::EnsureSqlServerRunning() {
  ServiceManager& services = platform_.services;
  Application& application = platform_.application;
  Clock& clock = platform_.clock;

  // Both handles are closed on every way out.
  struct Handles {
    ServiceManager& services;
    ServiceHandle manager = 0;
    ServiceHandle service = 0;
    ~Handles() {
      if (service != 0) services.CloseServiceHandle(service);
      if (manager != 0) services.CloseServiceHandle(manager);
    }
  } handles{services};

  // A manager that cannot be opened makes the service open fail with "invalid handle".
  handles.manager = services.OpenSCManager(kScManagerEnumerateService);
  handles.service =
      services.OpenService(handles.manager, "MSSQLServer", kServiceQueryStatusAndStart);
  if (handles.service == 0) {
    const std::uint32_t error = services.LastError();
    application.MessageBox(ServiceOpenErrorText(error), kError, kMbIconError);
    return false;
  }

  // A status query that fails counts as "not running".
  auto current_state = [&] {
    std::uint32_t state = 0;
    if (!services.QueryServiceStatus(handles.service, &state)) state = 0;
    return state;
  };

  const std::uint32_t state = current_state();
  if (state == kServiceRunning) {
    RzLabel_ShowInfo().SetCaption("SQL SERVER数据库已经启动...");
    return true;
  }
  if (state != kServiceStopped) return false;

  RzLabel_ShowInfo().SetCaption("正在启动SQL SERVER数据库...");
  services.StartService(handles.service);
  const std::int64_t started = clock.NowMs();
  bool expired = false;
  while (current_state() == kServiceStartPending) {
    if (clock.NowMs() - started >= kServiceStartWaitMs) {
      expired = true;  // a service that never leaves "start pending" did not start
      break;
    }
    application.ProcessMessages();
  }
  const std::uint32_t final_state = current_state();
  clock.Sleep(kPauseMs);
  if (expired || final_state != kServiceRunning) return false;
  RzLabel_ShowInfo().SetCaption("SQL SERVER数据库启动成功...");
  return true;
}

std::vector<BackupFileRow> TForm_DealWithBackup::ReadFileList() {
  // The first row is the data file and the second the log file; with one row, the step past it
  // stays on it, so both name the same file.  A closed query raises "field not found".
  std::vector<BackupFileRow> files;
  files.push_back({FADOQuery.FieldAsString("Logicalname"), ""});
  FADOQuery.Next();
  files.push_back({FADOQuery.FieldAsString("Logicalname"), ""});
  for (FADOQuery.Next(); !FADOQuery.Eof(); FADOQuery.Next())
    files.push_back({FADOQuery.FieldAsString("Logicalname"), FADOQuery.FieldAsString("Type")});
  return files;
}

bool TForm_DealWithBackup::RestoreDatabase() {
  bool result = false;
  RzLabel_ShowInfo().SetCaption("还原数据库文件......");

  std::unique_ptr<Library> dbfinder;
  if (HostInstance()) {
    const std::string sep = platform_.files.Separator();
    const std::string path =
        platform_.libraries.ExeFolder() + "auxsys" + sep + "app" + sep + "dbfinder.dll";
    dbfinder = platform_.libraries.Load(path);
    if (!dbfinder) {
      platform_.application.ShowMessage("调用dbfinder.dll文件失败！");
      throw AbortError();
    }
    std::string value;
    if (dbfinder->CallStringExport("GetSqlHinstance", &value)) SqlConnectionString = value;
    FTargetConnection.SetConnectionString(SqlConnectionString);
    bool connected = true;
    try {
      FTargetConnection.Open();
    } catch (...) {
      connected = false;
    }
    if (!connected) {
      std::string second;
      if (dbfinder->CallStringExport("ShowSqlinstance", &second)) SqlConnectionString = second;
      FTargetConnection.SetConnectionString(SqlConnectionString);
      FTargetConnection.Open();  // a failure leaves the step; dbfinder is released on the way
    }
  } else {
    // The header listing of SelectBackupSet opens the connection.
    FTargetConnection.SetConnectionString(kLocalMasterConnectionString);
  }

  auto clean_up = [&] {
    dbfinder.reset();
    FTargetConnection.Close();
    platform_.files.DeleteFile(FStagedFile);
    Progress_Step().SetPercent(100);
  };

  try {
    const std::int32_t position = SelectBackupSet();
    try {
      // A failed lookup leaves the query closed, which counts as empty: nothing is dropped.
      OpenQuery(kVoriraLookupStatement);
      if (!FADOQuery.IsEmpty()) {
        ExecCommand(kVoriraOfflineStatement);
        ExecCommand(kVoriraDropStatement);
      }
      OpenQuery(FileListOnlyStatement(FStagedFile, position));
      const std::vector<BackupFileRow> files = ReadFileList();
      FADOQuery.Close();
      FQuery.SetCommandText(RestoreStatement(FStagedFile, position, FWorkDir, files));
      FQuery.Execute();
      result = true;
    } catch (const ProviderError& error) {
      const std::string text = "不能还原数据库，创建失败" + std::string(error.what());
      Report(text, text, kWarning, kMbIconWarning);
      result = false;
    }
  } catch (...) {
    clean_up();
    throw;
  }
  clean_up();
  return result;
}

bool TForm_DealWithBackup::PrepareViews() {
  const bool result = true;
  FTargetConnection.SetConnectionString(HostInstance() ? VoriraConnectionString(SqlConnectionString)
                                                       : std::string(kLocalViewsConnectionString));
  try {
    FTargetConnection.Open();
  } catch (const ProviderError& error) {
    // The restored database is there; the host can still read it.
    const std::string text = "不能连接到指定的数据库";
    Report(text + error.what(), text, kWarning, kMbIconWarning);
    return result;
  }

  ExecCommand(KmViewStatement(FTableSuffix));
  ExecCommand(BalViewStatement(FTableSuffix));
  ExecCommand(PzViewStatement(edition_, FTableSuffix));
  if (HostInstance()) PrepareAuxiliaryItems();

  FTargetConnection.Close();
  return result;
}

void TForm_DealWithBackup::PrepareAuxiliaryItems() {
  std::vector<std::string> type_ids;
  OpenQuery(ItemTypeQuery(FTableSuffix));
  if (!FADOQuery.IsEmpty()) {
    for (FADOQuery.First(); !FADOQuery.Eof(); FADOQuery.Next()) {
      // A type id becomes part of a column name and stands unquoted in the statements: one
      // that is no plain name part (a crafted backup could hold any text there) is reported
      // and left out rather than sent to the server.
      std::string id = FADOQuery.FieldAsString("ItemTypeID");
      if (IsPlainNamePart(id)) {
        type_ids.push_back(std::move(id));
      } else {
        platform_.host_log.WriteLog(3, "项目类型编号无效：" + id);
      }
    }
  }
  FADOQuery.Close();
  if (type_ids.empty()) return;

  ExecCommand(AidInfoStatement(FTableSuffix));
  for (const std::string& id : type_ids) {
    const std::string column = AidColumnName(id);
    ExecCommand(AddAidColumnStatement(AidTable::ItemBalance, FTableSuffix, column));
    ExecCommand(UpdateAidColumnStatement(AidTable::ItemBalance, FTableSuffix, column, id));
  }
  const std::string filter = AidFilterText(type_ids);
  ExecCommand(AidBalStatement(FTableSuffix, filter));
  for (const std::string& id : type_ids) {
    const std::string column = AidColumnName(id);
    ExecCommand(AddAidColumnStatement(AidTable::VouItemDetail, FTableSuffix, column));
    ExecCommand(UpdateAidColumnStatement(AidTable::VouItemDetail, FTableSuffix, column, id));
  }
  ExecCommand(AidVourStatement(FTableSuffix, filter));
}

}  // namespace finprep
