// The steps one by one: the staging copy on real files, the service check, the statement
// runners and the backup-set listing.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DealWithBackup/Statements.h"
#include "fakes.h"

namespace finprep {
namespace {

using test::Env;
using Probe = DealWithBackupProbe;

TEST(StagingCopy, CopiesInChunksOf1025Bytes) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> reads;
  } cases[] = {{0, {}}, {1, {1}}, {1025, {1025}}, {1026, {1025, 1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Env env;
    TForm_DealWithBackup form(env.platform, Edition::HostInstance);
    std::string bytes(c.size, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<char>(i * 7 + 1);
    const std::string source = env.dir / "source.bak";
    const std::string staged = env.work + "xy.temp";
    test::WriteFile(source, bytes);
    test::WriteFile(staged, "an older staged copy, longer than some sources");

    EXPECT_TRUE(Probe::Copy(form, source, staged));
    EXPECT_EQ(test::ReadFile(staged), bytes);
    EXPECT_EQ(env.files.reads, c.reads);
    EXPECT_EQ(form.Progress_Step().TotalParts(), static_cast<std::int64_t>(c.size));
    EXPECT_EQ(form.Progress_Step().PartsComplete(), static_cast<std::int64_t>(c.size));
    EXPECT_EQ(env.files.open_streams, 0);
    EXPECT_EQ(form.ModalResult(), kModalNone);
  }
}

TEST(StagingCopy, ShortWriteOrEmptyReadFailsAndRemovesThePartialCopy) {
  for (bool short_write : {true, false}) {
    SCOPED_TRACE(short_write ? "short write" : "empty read");
    Env env;
    TForm_DealWithBackup form(env.platform, Edition::LocalServer);
    const std::string staged = env.work + "vorira8x.temp";
    (short_write ? env.files.short_write_at : env.files.zero_read_at) = 1;

    EXPECT_FALSE(Probe::Copy(form, env.backup, staged));
    EXPECT_EQ(form.ModalResult(), kModalCancel);
    EXPECT_EQ(env.files.open_streams, 0);
    EXPECT_FALSE(std::filesystem::exists(staged));
  }
}

TEST(StagingCopy, FilesThatCannotBeOpenedLeaveAsFileErrors) {
  Env env;
  TForm_DealWithBackup form(env.platform, Edition::HostInstance);

  // A source that another program holds open.
  portable::PosixFileSystem other;
  auto held = other.OpenRead(env.backup);
  EXPECT_THROW(Probe::Copy(form, env.backup, env.work + "xy.temp"), FileError);
  held.reset();

  // A work folder that does not exist: the source is closed again on the way out.
  const std::string staged = env.dir / "missing/TempLateTemp/xy.temp";
  try {
    Probe::Copy(form, env.backup, staged);
    ADD_FAILURE() << "no FileError";
  } catch (const FileError& error) {
    EXPECT_NE(std::string(error.what()).find(staged), std::string::npos) << error.what();
  }
  EXPECT_EQ(env.files.open_streams, 0);
  EXPECT_NO_THROW(other.OpenRead(env.backup));
}

// A source of any size without the disk space: each read delivers a chunk but moves on by a
// mebibyte, as if the rest were copied elsewhere.
class SparseSource : public FileStream {
 public:
  explicit SparseSource(std::int64_t size) : size_(size) {}
  std::int64_t Size() override { return size_; }
  std::int64_t Position() override { return position_; }
  void Seek(std::int64_t position) override { position_ = position; }
  std::size_t Read(void* buffer, std::size_t count) override {
    if (position_ >= size_) return 0;
    std::memset(buffer, 'x', count);
    position_ += std::min<std::int64_t>(std::int64_t{1} << 20, size_ - position_);
    return count;
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  void Close() override {}

 private:
  std::int64_t size_;
  std::int64_t position_ = 0;
};

TEST(StagingCopy, SourcesOfTwoGibibytesAndMore) {
  const std::int64_t size = (std::int64_t{3} << 30) + 7;
  for (Edition edition : {Edition::HostInstance, Edition::LocalServer}) {
    Env env;
    env.files.virtual_path = "big.bak";
    env.files.virtual_source = [&] { return std::make_unique<SparseSource>(size); };
    TForm_DealWithBackup form(env.platform, edition);

    EXPECT_TRUE(Probe::Copy(form, "big.bak", env.work + "big.temp"));
    const ProgressBar& bar = form.Progress_Step();
    EXPECT_EQ(bar.TotalParts(), size);
    EXPECT_EQ(bar.PartsComplete(), size);
    EXPECT_EQ(bar.Percent(), 100);
    EXPECT_GT(bar.ShownRange(), 0);
    EXPECT_EQ(bar.ShownPosition(), bar.ShownRange());
  }
}

struct ServiceRow {
  const char* name;
  std::function<void(Env&)> setup;
  bool result;
  std::vector<std::string> labels;
  std::int64_t slept;
  const char* box;  // nullptr: no message box
};

TEST(ServiceCheck, StatesAndOpenFailures) {
  using Start = portable::SimulatedService::Start;
  auto service = [](std::uint32_t state, Start start = Start::Normally, int pending = 1) {
    return [=](Env& env) { env.services.AddService("MSSQLServer", {state, start, pending}); };
  };
  auto open_error = [](std::uint32_t code) {
    return [=](Env& env) { env.services.service_open_error = code; };
  };
  const std::string starting = "正在启动SQL SERVER数据库...";
  const std::string started = "SQL SERVER数据库启动成功...";

  const ServiceRow rows[] = {
      {"running", service(kServiceRunning), true, {"SQL SERVER数据库已经启动..."}, 0, nullptr},
      {"stopped, starts", service(kServiceStopped), true, {starting, started}, 2000, nullptr},
      {"stopped, starts after 5 queries",
       service(kServiceStopped, Start::Normally, 5),
       true,
       {starting, started},
       2000,
       nullptr},
      {"stopped, start refused",
       service(kServiceStopped, Start::Refused),
       false,
       {starting},
       2000,
       nullptr},
      {"start pending when found",
       service(kServiceStartPending, Start::HangsPending),
       false,
       {},
       0,
       nullptr},
      {"paused", service(kServicePaused), false, {}, 0, nullptr},
      {"stop pending", service(kServiceStopPending), false, {}, 0, nullptr},
      {"status query fails",
       [](Env& env) { env.services.status_query_fails = true; },
       false,
       {},
       0,
       nullptr},
      {"not installed",
       open_error(kErrorServiceDoesNotExist),
       false,
       {},
       0,
       "此模板需要MsSqlServer2K 你的计算机上没有安装Sqlserver2K.."},
      {"access denied", open_error(kErrorAccessDenied), false, {}, 0, "没有访问服务的权限.."},
      {"invalid name", open_error(kErrorInvalidName), false, {}, 0, "无效的服务名.."},
      {"manager cannot be opened",
       [](Env& env) { env.services.manager_open_fails = true; },
       false,
       {},
       0,
       "无效的服务句柄.."},
      {"other open error", open_error(1234), false, {}, 0, ""},
  };
  for (const ServiceRow& row : rows) {
    SCOPED_TRACE(row.name);
    Env env;
    row.setup(env);
    TForm_DealWithBackup form(env.platform, Edition::LocalServer);

    EXPECT_EQ(Probe::EnsureService(form), row.result);
    EXPECT_EQ(env.desktop.labels, row.labels);
    EXPECT_EQ(env.clock.slept_ms(), row.slept);
    if (row.box) {
      EXPECT_EQ(env.desktop.boxes, (std::vector<test::Box>{{row.box, "错误", 16}}));
    } else {
      EXPECT_TRUE(env.desktop.boxes.empty());
    }
    EXPECT_EQ(env.services.open_handles(), 0);
  }
}

TEST(ServiceCheck, StartPendingForEverEndsAfterTwoMinutes) {
  Env env;
  env.services.AddService("MSSQLServer",
                          {kServiceStopped, portable::SimulatedService::Start::HangsPending});
  env.services.AdvanceClockPerQuery(&env.clock, 1000);
  TForm_DealWithBackup form(env.platform, Edition::LocalServer);

  EXPECT_FALSE(Probe::EnsureService(form));
  EXPECT_EQ(env.clock.slept_ms(), 2000);  // the pause after the last query, nothing more
  EXPECT_GE(env.clock.NowMs(), 120000 + 2000);
  EXPECT_LE(env.services.status_queries(), 125);
  EXPECT_EQ(env.desktop.labels, std::vector<std::string>{"正在启动SQL SERVER数据库..."});
  EXPECT_TRUE(env.desktop.boxes.empty());
  EXPECT_EQ(env.services.open_handles(), 0);
}

TEST(Runners, ReportOnceReturnFalseAndLetTheNextStatementRun) {
  for (Edition edition : {Edition::HostInstance, Edition::LocalServer}) {
    Env env;
    TForm_DealWithBackup form(env.platform, edition);
    env.database.refused = {"Data Source=nowhere"};
    env.database.Fail("create View km", "There is already an object named 'km'.");
    env.database.Fail("select bad", "Invalid object name 'bad'.");
    env.database.Rows("select 2", ResultSet{{"n"}, {{"2"}}});

    // A closed connection is opened by the runner; failing to connect is a failed statement.
    form.FTargetConnection.SetConnectionString("Data Source=nowhere");
    EXPECT_FALSE(Probe::OpenQuery(form, "select 1"));
    form.FTargetConnection.SetConnectionString("Data Source=srv");
    EXPECT_FALSE(Probe::ExecCommand(form, "create View km"));
    EXPECT_TRUE(Probe::ExecCommand(form, "create View BAL"));
    EXPECT_FALSE(Probe::OpenQuery(form, "select bad"));
    EXPECT_FALSE(form.FADOQuery.Active());
    EXPECT_TRUE(Probe::OpenQuery(form, "select 2"));  // after a failed query, the next one runs
    EXPECT_EQ(form.FADOQuery.FieldAsString("n"), "2");

    if (edition == Edition::HostInstance) {
      std::vector<std::string> lines;
      for (const auto& line : env.host_log.lines())
        lines.push_back(std::to_string(line.level) + " " + line.message);
      EXPECT_EQ(lines, (std::vector<std::string>{
                           "3 SQL=select 1不能执行[DBNETLIB]SQL Server does not exist",
                           "3 SQL=create View km不能执行There is already an object named 'km'.",
                           "3 SQL=select bad不能执行Invalid object name 'bad'."}));
    } else {
      EXPECT_EQ(env.desktop.boxes,
                (std::vector<test::Box>{{"SQL=select 1不能执行", "警告", 48},
                                        {"SQL=create View km不能执行", "警告", 48},
                                        {"SQL=select bad不能执行", "警告", 48}}));
    }
  }
}

TEST(Runners, OtherErrorsPassUnreported) {
  Env env;
  TForm_DealWithBackup form(env.platform, Edition::HostInstance);
  form.FTargetConnection.SetConnectionString("Data Source=srv");
  env.database.NoResultSet("update x");
  env.database.FailOther("crash", "driver crashed");
  EXPECT_THROW(Probe::OpenQuery(form, "update x"), DatabaseError);
  EXPECT_THROW(Probe::ExecCommand(form, "crash"), test::ForeignFailure);
  EXPECT_TRUE(env.host_log.lines().empty());
}

TEST(SelectBackupSet, ChooserOnlyForTwoSetsOrMore) {
  const ResultSet sets{{"BackupName", "position", "databasename"},
                       {{"a", "4", "books"}, {"b", "5", "audit"}, {"c", "6", "old"}}};
  struct Case {
    const char* name;
    ResultSet listing;
    std::function<void(portable::ChooserInput&)> user;
    std::int32_t result;
    int choosers;
  } cases[] = {
      {"no rows", ResultSet{{"Position", "DatabaseName"}, {}}, nullptr, 0, 0},
      {"one set", ResultSet{{"Position", "DatabaseName"}, {{"1", "books"}}}, nullptr, 0, 0},
      {"three sets, none ticked", sets, nullptr, 0, 1},
      {"three sets, last ticked", sets,
       [](portable::ChooserInput& c) {
         c.ClickCheckBox(2);
         c.PressEnter();
       },
       6, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Env env;
    TForm_DealWithBackup form(env.platform, Edition::HostInstance);
    form.FTargetConnection.SetConnectionString("Data Source=srv");
    Probe::SetStagedFile(form, env.work + "xy.temp");
    env.database.Rows(HeaderOnlyStatement(env.work + "xy.temp"), c.listing);
    env.desktop.use_chooser = c.user;

    EXPECT_EQ(Probe::SelectBackupSet(form), c.result);
    EXPECT_EQ(env.desktop.choosers_shown, c.choosers);
    if (c.choosers) {
      EXPECT_EQ(env.desktop.chooser_rows,
                (std::vector<std::string>{"4|books", "5|audit", "6|old"}));
    }
  }
}

}  // namespace
}  // namespace finprep
