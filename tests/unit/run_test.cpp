// Whole runs through DoItRun with scripted components: the order of the statements and which
// runner sends them, every report, the modal result and the pauses of each way a run ends.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DealWithBackup/Statements.h"
#include "fakes.h"

namespace finprep {
namespace {

using test::Env;

// What the person at the screen and the host saw, in one list: plain messages, log lines, then
// message boxes.
std::vector<std::string> Reports(const Env& env) {
  std::vector<std::string> out;
  for (const std::string& m : env.desktop.messages)
    out.push_back("message: " + m);
  for (const auto& line : env.host_log.lines())
    out.push_back("log" + std::to_string(line.level) + ": " + line.message);
  for (const test::Box& box : env.desktop.boxes)
    out.push_back("box " + box.caption + " " + std::to_string(box.flags) + ": " + box.text);
  return out;
}

std::string Expand(const Env& env, Edition edition, std::string text) {
  const std::pair<std::string, std::string> keys[] = {
      {"{backup}", env.backup},
      {"{staged}", env.Staged(edition)},
      {"{vorira}", Env::kVorira},
      {"{local}", kLocalResultConnectionString},
  };
  for (const auto& [key, value] : keys) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  }
  return text;
}

TEST(Run, HostInstanceSendsEveryStatementInOrderThroughItsRunner) {
  Env env;
  const Edition host = Edition::HostInstance;
  const std::string staged = env.Staged(host);
  env.database.Rows(kVoriraLookupStatement, ResultSet{{"name"}, {{"VORIRA"}}});
  env.database.Rows(ItemTypeQuery(""),
                    ResultSet{{"ItemTypeID", "ItemTypeName"}, {{"1", "部门"}, {"5", "个人"}}});
  // The library is released before the connection closes; the staged copy goes after both.
  std::vector<std::string> at_disconnect;
  env.database.on_disconnect = [&] {
    at_disconnect.push_back(std::to_string(env.libraries.loaded()) + " loaded, " +
                            std::to_string(env.files.deleted.size()) + " deleted");
  };
  env.application.SetOwnerWindow(77);

  EXPECT_EQ(env.Run(host), Env::kVorira);

  const std::string filter = AidFilterText({"1", "5"});
  const std::vector<std::string> expected = {
      std::string("connect ") + Env::kServer,
      "Q " + HeaderOnlyStatement(staged),
      std::string("Q ") + kVoriraLookupStatement,
      std::string("E ") + kVoriraOfflineStatement,
      std::string("E ") + kVoriraDropStatement,
      "Q " + FileListOnlyStatement(staged, 0),
      "E " + RestoreStatement(staged, 0, env.work, {{"books_Data", ""}, {"books_Log", ""}}),
      "disconnect",
      std::string("connect ") + Env::kVorira,
      "E " + KmViewStatement(""),
      "E " + BalViewStatement(""),
      "E " + PzViewStatement(host, ""),
      "Q " + ItemTypeQuery(""),
      "E " + AidInfoStatement(""),
      "E " + AddAidColumnStatement(AidTable::ItemBalance, "", "AidType1"),
      "E " + UpdateAidColumnStatement(AidTable::ItemBalance, "", "AidType1", "1"),
      "E " + AddAidColumnStatement(AidTable::ItemBalance, "", "AidType5"),
      "E " + UpdateAidColumnStatement(AidTable::ItemBalance, "", "AidType5", "5"),
      "E " + AidBalStatement("", filter),
      "E " + AddAidColumnStatement(AidTable::VouItemDetail, "", "AidType1"),
      "E " + UpdateAidColumnStatement(AidTable::VouItemDetail, "", "AidType1", "1"),
      "E " + AddAidColumnStatement(AidTable::VouItemDetail, "", "AidType5"),
      "E " + UpdateAidColumnStatement(AidTable::VouItemDetail, "", "AidType5", "5"),
      "E " + AidVourStatement("", filter),
      "disconnect",
  };
  EXPECT_EQ(env.database.log, expected);
  EXPECT_EQ(at_disconnect,
            (std::vector<std::string>{"0 loaded, 0 deleted", "0 loaded, 1 deleted"}));

  EXPECT_EQ(env.Pauses(), 4000);
  EXPECT_EQ(env.desktop.driver_pumps, 3);  // one per copied chunk of the 3000-byte backup
  EXPECT_EQ(env.desktop.labels, std::vector<std::string>{"还原数据库文件......"});
  EXPECT_TRUE(Reports(env).empty());
  EXPECT_EQ(env.libraries.calls(),
            (std::vector<std::string>{env.dbfinder, env.dbfinder + "!GetSqlHinstance"}));
  EXPECT_EQ(env.libraries.loaded(), 0);
  EXPECT_FALSE(std::filesystem::exists(staged));
  EXPECT_EQ(env.application.OwnerWindow(), 77u);
  EXPECT_EQ(SqlConnectionString, Env::kServer);
}

TEST(Run, ItemTypeIdsThatAreNoPlainNamePartAreReportedAndLeftOut) {
  Env env;
  const Edition host = Edition::HostInstance;
  // Ids come from the restored database and stand unquoted in the statements.
  env.database.Rows(ItemTypeQuery(""),
                    ResultSet{{"ItemTypeID"}, {{"1"}, {"2 varchar(1);drop database master--"}}});

  EXPECT_EQ(env.Run(host), Env::kVorira);

  const std::vector<std::string> statements = env.database.Statements();
  const std::vector<std::string> items(
      std::find(statements.begin(), statements.end(), "Q " + ItemTypeQuery("")), statements.end());
  const std::vector<std::string> expected = {
      "Q " + ItemTypeQuery(""),
      "E " + AidInfoStatement(""),
      "E " + AddAidColumnStatement(AidTable::ItemBalance, "", "AidType1"),
      "E " + UpdateAidColumnStatement(AidTable::ItemBalance, "", "AidType1", "1"),
      "E " + AidBalStatement("", AidFilterText({"1"})),
      "E " + AddAidColumnStatement(AidTable::VouItemDetail, "", "AidType1"),
      "E " + UpdateAidColumnStatement(AidTable::VouItemDetail, "", "AidType1", "1"),
      "E " + AidVourStatement("", AidFilterText({"1"})),
  };
  EXPECT_EQ(items, expected);
  EXPECT_EQ(Reports(env), std::vector<std::string>{
                              "log3: 项目类型编号无效：2 varchar(1);drop database master--"});
}

TEST(Run, LocalServerStartsTheServiceAndRestoresOnTheLocalInstance) {
  Env env;
  const Edition local = Edition::LocalServer;
  const std::string staged = env.Staged(local);
  env.services.AddService("MSSQLServer", {kServiceStopped});

  EXPECT_EQ(env.Run(local), kLocalResultConnectionString);

  const std::vector<std::string> expected = {
      std::string("connect ") + kLocalMasterConnectionString,
      "Q " + HeaderOnlyStatement(staged),
      std::string("Q ") + kVoriraLookupStatement,
      "Q " + FileListOnlyStatement(staged, 0),
      "E " + RestoreStatement(staged, 0, env.work, {{"books_Data", ""}, {"books_Log", ""}}),
      "disconnect",
      std::string("connect ") + kLocalViewsConnectionString,
      "E " + KmViewStatement(""),
      "E " + BalViewStatement(""),
      "E " + PzViewStatement(local, ""),
      "disconnect",
  };
  EXPECT_EQ(env.database.log, expected);
  EXPECT_EQ(env.Pauses(), 6000);  // the service's own pause and the driver's two
  EXPECT_EQ(env.desktop.labels,
            (std::vector<std::string>{"正在启动SQL SERVER数据库...", "SQL SERVER数据库启动成功...",
                                      "还原数据库文件......"}));
  EXPECT_TRUE(Reports(env).empty());
  EXPECT_EQ(env.libraries.calls().size(), 0u);
  EXPECT_EQ(env.host_log.lines().size(), 0u);
  EXPECT_FALSE(std::filesystem::exists(staged));
}

struct FailureRow {
  const char* name;
  Edition edition;
  std::function<void(Env&)> setup;
  const char* result;
  std::int64_t pauses;
  std::vector<std::string> reports;
  bool staged_left;
  const char* suffix = "";
};

TEST(Run, EveryWayARunEnds) {
  const Edition host = Edition::HostInstance;
  const Edition local = Edition::LocalServer;
  const std::string restore_fails = "RESTORE DATABASE is terminating abnormally.";
  auto restore_of = [](Env& env, Edition edition) {
    return RestoreStatement(env.Staged(edition), 0, env.work,
                            {{"books_Data", ""}, {"books_Log", ""}});
  };
  auto vorira_exists_drop_fails = [](Env& env) {
    env.database.Rows(kVoriraLookupStatement, ResultSet{{"name"}, {{"VORIRA"}}});
    env.database.Fail(kVoriraDropStatement, "Cannot drop the database 'VORIRA'.");
  };

  const FailureRow rows[] = {
      {"backup file missing",
       host,
       [](Env& env) { std::filesystem::remove(env.backup); },
       "0",
       0,
       {"log3: 数据预处理出现异常！Cannot open file \"{backup}\". No such file or directory"},
       false},
      {"backup file missing",
       local,
       [](Env& env) { std::filesystem::remove(env.backup); },
       "0",
       0,
       {"box 错误 16: 数据预处理出现异常！Cannot open file \"{backup}\". No such file or directory"},
       false},
      {"work folder missing",
       host,
       [](Env& env) { std::filesystem::remove(env.work); },
       "0",
       0,
       {"log3: 数据预处理出现异常！Cannot create file \"{staged}\". No such file or directory"},
       false},
      {"disk full during the copy",
       host,
       [](Env& env) { env.files.short_write_at = 1; },
       "0",
       0,
       {},
       false},
      {"source read fails during the copy",
       local,
       [](Env& env) { env.files.zero_read_at = 2; },
       "0",
       0,
       {},
       false},
      {"service not installed",
       local,
       [](Env& env) { env.services.service_open_error = kErrorServiceDoesNotExist; },
       "0",
       0,
       {"box 错误 16: 此模板需要MsSqlServer2K 你的计算机上没有安装Sqlserver2K.."},
       true},
      {"service refuses to start",
       local,
       [](Env& env) {
         env.services.AddService("MSSQLServer",
                                 {kServiceStopped, portable::SimulatedService::Start::Refused});
       },
       "0",
       2000,
       {},
       true},
      {"restore statement fails",
       host,
       [&](Env& env) { env.database.Fail(restore_of(env, host), restore_fails); },
       "0",
       2000,
       {"log3: 不能还原数据库，创建失败RESTORE DATABASE is terminating abnormally."},
       false},
      {"restore statement fails",
       local,
       [&](Env& env) { env.database.Fail(restore_of(env, local), restore_fails); },
       "0",
       2000,
       {"box 警告 48: 不能还原数据库，创建失败RESTORE DATABASE is terminating abnormally."},
       false},
      {"dbfinder missing",
       host,
       [](Env& env) { env.libraries.Unregister(env.dbfinder); },
       "0",
       2000,
       {"message: 调用dbfinder.dll文件失败！", "log3: 数据预处理出现异常！Operation aborted"},
       true},
      {"both connects fail",
       host,
       [](Env& env) {
         env.libraries.Register(
             env.dbfinder, {{"GetSqlHinstance", env.libraries.Returning(Env::kServer)},
                            {"ShowSqlinstance", env.libraries.Returning("Data Source=other")}});
         env.database.refused = {Env::kServer, "Data Source=other"};
       },
       "0",
       2000,
       {"log3: 数据预处理出现异常！[DBNETLIB]SQL Server does not exist"},
       true},
      {"header listing fails",
       host,
       [](Env& env) { env.database.Fail(HeaderOnlyStatement(env.Staged(host)), "not a backup"); },
       "0",
       2000,
       {"log3: SQL=RESTORE HEADERONLY From Disk='{staged}'不能执行not a backup",
        "log3: 数据预处理出现异常！FADOQuery: Cannot perform this operation on a closed dataset"},
       false},
      {"file listing fails",
       local,
       [](Env& env) { env.database.Fail(FileListOnlyStatement(env.Staged(local), 0), "bad"); },
       "0",
       2000,
       {"box 警告 48: SQL=Restore FileListOnly From Disk='{staged}'不能执行",
        "box 错误 16: 数据预处理出现异常！FADOQuery: Field 'Logicalname' not found"},
       false},
      {"dropping the old database fails",
       host,
       vorira_exists_drop_fails,
       "{vorira}",
       4000,
       {"log3: SQL=drop DATABASE VORIRA不能执行Cannot drop the database 'VORIRA'."},
       false},
      {"dropping the old database fails",
       local,
       vorira_exists_drop_fails,
       "{local}",
       4000,
       {"box 警告 48: SQL=drop DATABASE VORIRA不能执行"},
       false},
      {"views cannot connect",
       host,
       [](Env& env) { env.database.refused = {Env::kVorira}; },
       "{vorira}",
       4000,
       {"log3: 不能连接到指定的数据库[DBNETLIB]SQL Server does not exist"},
       false},
      {"views cannot connect",
       local,
       [](Env& env) { env.database.refused = {kLocalViewsConnectionString}; },
       "{local}",
       4000,
       {"box 警告 48: 不能连接到指定的数据库"},
       false},
      {"exception escapes the views step",
       host,
       [](Env& env) { env.database.NoResultSet(ItemTypeQuery("")); },
       "0",
       4000,
       {"log3: 数据预处理出现异常！FADOQuery: CommandText does not return a result set"},
       false},
      // An exception of no known class carries no message.
      {"foreign exception escapes the views step",
       local,
       [](Env& env) { env.database.FailOther(KmViewStatement(""), "driver crashed"); },
       "0",
       4000,
       {"box 错误 16: 数据预处理出现异常！"},
       false},
      {"suffix with a blank", host, [](Env&) {}, "0", 0, {"log3: 表名后缀无效：a b"}, false, "a b"},
      {"suffix with a quote",
       local,
       [](Env&) {},
       "0",
       0,
       {"box 错误 16: 表名后缀无效：x'"},
       false,
       "x'"},
  };

  for (const FailureRow& row : rows) {
    SCOPED_TRACE(std::string(row.name) +
                 (row.edition == host ? " (host-instance)" : " (local-server)"));
    Env env;
    row.setup(env);
    EXPECT_EQ(env.Run(row.edition, row.suffix), Expand(env, row.edition, row.result));
    EXPECT_EQ(env.Pauses(), row.pauses);
    std::vector<std::string> reports;
    for (const std::string& r : row.reports)
      reports.push_back(Expand(env, row.edition, r));
    EXPECT_EQ(Reports(env), reports);
    EXPECT_EQ(std::filesystem::exists(env.Staged(row.edition)), row.staged_left);
    EXPECT_EQ(env.libraries.loaded(), 0);
    EXPECT_EQ(env.files.open_streams, 0);
    EXPECT_EQ(env.application.OwnerWindow(), 0u);
  }
}

TEST(Run, ClosingTheHostDialog) {
  // Before the timer fires: nothing runs.
  Env before;
  before.desktop.close_at_pump = 0;
  EXPECT_EQ(before.Run(Edition::HostInstance), "0");
  EXPECT_EQ(before.clock.slept_ms(), 0);
  EXPECT_TRUE(before.database.log.empty());
  EXPECT_FALSE(std::filesystem::exists(before.Staged(Edition::HostInstance)));
  EXPECT_TRUE(before.files.reads.empty());

  // During the copy: the run goes on to its own result.
  Env during;
  during.desktop.close_at_pump = 2;
  EXPECT_EQ(during.Run(Edition::HostInstance), Env::kVorira);
  EXPECT_EQ(during.Pauses(), 4000);
}

TEST(Run, TheDriverItselfEndsTheDialogOnAnyException) {
  for (Edition edition : {Edition::HostInstance, Edition::LocalServer}) {
    Env env;
    env.database.FailOther(KmViewStatement(""), "driver crashed");
    TForm_DealWithBackup dialog(env.platform, edition);
    dialog.StoreArguments(env.backup, env.work, "");
    int result = kModalNone;
    EXPECT_NO_THROW(result = dialog.ShowModal());
    EXPECT_EQ(result, kModalCancel);
    EXPECT_EQ(env.host_log.lines().size() + env.desktop.boxes.size(), 1u);
  }
}

TEST(Run, ChosenSetAndExtraFilesReachTheRestore) {
  Env env;
  const Edition host = Edition::HostInstance;
  const std::string staged = env.Staged(host);
  env.database.Rows(HeaderOnlyStatement(staged),
                    ResultSet{{"position", "DATABASENAME"},
                              {{"1", "books"}, {"2", "books2019"}, {"3", "audit"}}});
  env.database.Rows(
      FileListOnlyStatement(staged, 2),
      ResultSet{{"LogicalName", "Type"}, {{"b_Data", "D"}, {"b_Log", "L"}, {"b_Index", "F"}}});
  env.desktop.use_chooser = [](portable::ChooserInput& chooser) {
    chooser.ClickCheckBox(1);
    chooser.ClickOK();
  };

  EXPECT_EQ(env.Run(host), Env::kVorira);
  EXPECT_EQ(env.desktop.chooser_rows,
            (std::vector<std::string>{"1|books", "2|books2019", "3|audit"}));
  const std::vector<std::string> statements = env.database.Statements();
  ASSERT_GE(statements.size(), 4u);
  EXPECT_EQ(statements[2], "Q " + FileListOnlyStatement(staged, 2));
  EXPECT_EQ(statements[3],
            "E " + RestoreStatement(staged, 2, env.work,
                                    {{"b_Data", ""}, {"b_Log", ""}, {"b_Index", "F"}}));
}

TEST(Run, DbfinderStringsAcrossRuns) {
  Env env;
  // First run: no GetSqlHinstance, so the empty string fails and ShowSqlinstance is asked.
  env.libraries.Register(env.dbfinder,
                         {{"ShowSqlinstance", env.libraries.Returning(Env::kServer)}});
  EXPECT_EQ(env.Run(Edition::HostInstance), Env::kVorira);
  EXPECT_EQ(env.libraries.calls(),
            (std::vector<std::string>{env.dbfinder, env.dbfinder + "!ShowSqlinstance"}));
  EXPECT_EQ(env.database.log.front(), "connect ");

  // Second run in the same process: GetSqlHinstance's new string replaces the stored one.
  const std::string other = "Provider=SQLOLEDB.1;Initial Catalog=Master;Data Source=other";
  env.libraries.Register(env.dbfinder, {{"GetSqlHinstance", env.libraries.Returning(other)}});
  EXPECT_EQ(env.Run(Edition::HostInstance),
            "Provider=SQLOLEDB.1;Initial Catalog=vorira;Data Source=other");
  EXPECT_EQ(SqlConnectionString, other);
  EXPECT_EQ(env.libraries.loads(), 2);
  EXPECT_EQ(env.libraries.releases(), 2);
}

}  // namespace
}  // namespace finprep
