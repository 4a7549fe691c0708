// The ODBC driver through unixODBC and FreeTDS against the TDS listener: FreeTDS's driver is
// registered as "SQL Server" in a configuration of the test's own, so the OLE DB strings a host
// hands over connect unchanged ("Data Source=127.0.0.1,PORT").  The terminal runner's --server
// goes the same way, in a process of its own that inherits the configuration.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DealWithBackup/DealWithBackup.h"
#include "emu/driver.h"
#include "entry/doit.h"
#include "platform/database.h"
#include "platform/errors.h"
#include "platform/odbc/odbc_driver.h"
#include "platform/platform.h"
#include "platform/portable/clocks.h"
#include "platform/portable/headless_ui.h"
#include "platform/portable/in_process_libraries.h"
#include "platform/portable/posix_files.h"
#include "platform/portable/recording_host_log.h"
#include "platform/portable/simulated_services.h"
#include "platform/text.h"
#include "tds_test_util.h"

namespace finprep::emu::tds {
namespace {

namespace fs = std::filesystem;
using test::kPassword;
using test::LiveServer;
using test::TempDir;
using ::testing::HasSubstr;

const char kFreeTdsDriver[] = FINPREP_FREETDS_ODBC_DRIVER;
const std::string kSamples = FINPREP_SAMPLE_DIR;

class FreeTdsAsSqlServer : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!*kFreeTdsDriver) return;
    std::ofstream(dir_ / "odbcinst.ini")
        << "[SQL Server]\nDescription=FreeTDS\nDriver=" << kFreeTdsDriver << "\n";
    std::ofstream(dir_ / "odbc.ini") << "";
    ::setenv("ODBCSYSINI", dir_.path().c_str(), 1);
    ::setenv("ODBCINI", (dir_ / "odbc.ini").c_str(), 1);
  }

 private:
  TempDir dir_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new FreeTdsAsSqlServer);

class OverOdbc : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!*kFreeTdsDriver)
      GTEST_SKIP() << "FreeTDS's ODBC driver libtdsodbc.so (Debian tdsodbc) is not installed";
  }
};

std::vector<std::vector<std::string>> Text(const finprep::ResultSet& rs) {
  std::vector<std::vector<std::string>> out;
  for (const auto& row : rs.rows) {
    out.emplace_back();
    for (const FieldValue& v : row)
      out.back().push_back(v ? *v : "NULL");
  }
  return out;
}

// What the embedded emulator gives for a query on a fresh data folder.
finprep::ResultSet Embedded(const std::string& sql) {
  TempDir dir;
  Server server(dir / "data");
  EmulatorDriver driver(server);
  auto session = driver.Connect("Initial Catalog=master", 15);
  return *session->Query(sql, 0);
}

TEST_F(OverOdbc, ValuesReadAsTheEmbeddedEmulatorShowsThem) {
  LiveServer live;
  odbc::OdbcDriver driver;
  auto session = driver.Connect(live.ConnectionString(), 15);
  const std::string long_text(4500, 'x');
  const char* expressions[] = {
      "CAST(-7 AS int)",
      "CAST(200 AS tinyint)",
      "CAST(-300 AS smallint)",
      "CAST(9000000000 AS bigint)",
      "CAST(1 AS bit)",
      "CAST(-12.3456 AS money)",
      "CAST(922337203685.4775 AS money)",
      "CAST(-1.25 AS smallmoney)",
      "CAST(123456789.25 AS decimal(18,2))",
      "CAST(-0.5 AS decimal(5,3))",
      "CAST(12345678901234567890123 AS decimal(38,0))",
      "CAST(1.5 AS float)",
      "CAST(2.5 AS real)",
      "CAST('2021-02-03 04:05:06.007' AS datetime)",
      "CAST('1899-12-31 23:59:59.997' AS datetime)",
      "CAST('2021-02-03 04:05' AS smalldatetime)",
      "'plain'",
      "N'中文 and ünïcode'",
      "''",
      "NULL",
      "CAST(NULL AS money)",
      "CAST(NULL AS datetime)",
      "CAST(NULL AS varchar(10))",
  };
  for (const char* e : expressions) {
    const std::string sql = std::string("SELECT ") + e + " AS v";
    std::optional<finprep::ResultSet> over_tds = session->Query(sql, 30);
    ASSERT_TRUE(over_tds) << sql;
    EXPECT_EQ(over_tds->columns, std::vector<std::string>{"v"}) << sql;
    EXPECT_EQ(Text(*over_tds), Text(Embedded(sql))) << sql;
  }
  // A text longer than NVARCHAR(4000), beside other columns, in a response of several packets.
  const std::string sql = "SELECT 1 AS a, '" + long_text + "' AS b, N'尾' AS c";
  EXPECT_EQ(Text(*session->Query(sql, 30)),
            (std::vector<std::vector<std::string>>{{"1", long_text, "尾"}}));
}

TEST_F(OverOdbc, TablesRowsAndCountsMakeTheRoundTrip) {
  LiveServer live;
  odbc::OdbcDriver driver;
  auto session = driver.Connect(live.ConnectionString(), 15);
  session->Execute(
      "CREATE TABLE t (id int PRIMARY KEY, name varchar(20), amount money, at datetime) "
      "INSERT INTO t VALUES (1, '现金', 10.5, '2021-01-01'), (2, NULL, NULL, NULL), "
      "(3, 'bank', -3, '2021-12-31 23:59:59')",
      0);
  finprep::ResultSet rs = *session->Query("SELECT id, name, amount, at FROM t ORDER BY id", 30);
  EXPECT_EQ(rs.columns, (std::vector<std::string>{"id", "name", "amount", "at"}));
  EXPECT_EQ(Text(rs), (std::vector<std::vector<std::string>>{
                          {"1", "现金", "10.5000", "2021-01-01 00:00:00.000"},
                          {"2", "NULL", "NULL", "NULL"},
                          {"3", "bank", "-3.0000", "2021-12-31 23:59:59.000"}}));
  // Statements before the result set (a row count) are passed over.
  EXPECT_EQ(Text(*session->Query("UPDATE t SET amount = 0 WHERE id = 2 SELECT COUNT(*) AS n "
                                 "FROM t WHERE amount = 0",
                                 30)),
            (std::vector<std::vector<std::string>>{{"1"}}));
}

TEST_F(OverOdbc, ServerErrorsArriveWithTheServersText) {
  LiveServer live;
  odbc::OdbcDriver driver;
  auto session = driver.Connect(live.ConnectionString(), 15);
  struct Case {
    bool query;
    std::string sql;
    std::string text;
  } cases[] = {
      {true, "SELECT * FROM nope", "Invalid object name 'nope'."},
      {false, "DROP DATABASE vorira",
       "Cannot drop the database 'vorira', because it does not exist or you do not have "
       "permission."},
      {false, "RESTORE DATABASE x FROM DISK='/nonexistent/x.bak'",
       "Cannot open backup device '/nonexistent/x.bak'."},
      {true, "SELECT 1/0 AS x", "Divide by zero error encountered."},
  };
  for (const Case& c : cases) {
    try {
      if (c.query) {
        session->Query(c.sql, 30);
      } else {
        session->Execute(c.sql, 0);
      }
      ADD_FAILURE() << c.sql << ": no error";
    } catch (const ProviderError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.text)) << c.sql;
    }
  }
  // The session goes on after its errors.
  EXPECT_EQ(Text(*session->Query("SELECT 5 AS five", 30)),
            (std::vector<std::vector<std::string>>{{"5"}}));

  struct Refused {
    std::string connection_string;
    std::string text;
  } refused[] = {
      {live.ConnectionString("master", "wrong"), "Login failed for user 'sa'."},
      {live.ConnectionString("nodb"), "Cannot open database \"nodb\" requested by the login."},
  };
  for (const Refused& r : refused) {
    try {
      driver.Connect(r.connection_string, 15);
      ADD_FAILURE() << r.connection_string << ": connected";
    } catch (const ProviderError& e) {
      EXPECT_THAT(e.what(), HasSubstr(r.text));
    }
  }
}

using Clock = std::chrono::steady_clock;

TEST_F(OverOdbc, AQueryTimesOutAtItsLimitWhileACommandWaitsToTheEnd) {
  LiveServer live;
  odbc::OdbcDriver driver;
  Connection connection(driver);
  connection.SetConnectionString(live.ConnectionString());
  Query query(connection, "FADOQuery");
  query.command_timeout_seconds = 1;
  query.SetSQL("WAITFOR DELAY '00:00:30' SELECT 1 AS x");
  auto start = Clock::now();
  EXPECT_THROW(query.Open(), ProviderError);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(15)) << "the statement was not cancelled";
  EXPECT_FALSE(query.Active());

  // The cancelled statement is over: the same connection runs the next one.
  query.command_timeout_seconds = 30;
  query.SetSQL("SELECT 2 AS y");
  query.Open();
  EXPECT_EQ(query.FieldAsString("y"), "2");

  Command command(connection);
  command.SetCommandText("WAITFOR DELAY '00:00:01.500' CREATE TABLE after_wait (a int)");
  start = Clock::now();
  command.Execute();
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1500));
  query.Close();
  query.SetSQL("SELECT COUNT(*) AS n FROM after_wait");
  query.Open();
  EXPECT_EQ(query.FieldAsString("n"), "0");
}

TEST_F(OverOdbc, OneProcessServesSeveralConnectionsAndAWaitBlocksNoOther) {
  LiveServer live;
  odbc::OdbcDriver driver;
  auto waiting = driver.Connect(live.ConnectionString(), 15);
  auto other = driver.Connect(live.ConnectionString(), 15);
  auto wait =
      std::async(std::launch::async, [&] { waiting->Execute("WAITFOR DELAY '00:00:04'", 0); });
  ::usleep(200 * 1000);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(Text(*other->Query("SELECT " + std::to_string(i) + " AS i", 30)),
              (std::vector<std::vector<std::string>>{{std::to_string(i)}}));
  EXPECT_EQ(wait.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
      << "the other connection was answered only after the wait";
  wait.get();
}

// ---- A whole run of the plug-in ----

// The person at the screen ticks one set in the chooser and presses Enter.
class TickingDesktop : public portable::Desktop {
 public:
  explicit TickingDesktop(int row) : row_(row) {}
  void UseChooser(portable::ChooserInput& chooser) override {
    chooser.ClickCheckBox(row_);
    chooser.PressEnter();
  }
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    boxes.push_back(caption + ": " + text);
    return Desktop::MessageBox(text, caption, flags);
  }
  void ShowMessage(const std::string& text) override { boxes.push_back(text); }
  std::vector<std::string> boxes;

 private:
  int row_;
};

struct RunOutcome {
  std::string result;
  std::vector<std::string> reports;  // log lines and message boxes
};

// One host-instance run over `backup` from the host folder `host`, on the server that
// `connection_string` reaches, with the second of its sets chosen.
RunOutcome WholeRun(DatabaseDriver& database, const std::string& connection_string,
                    const std::string& backup, const TempDir& host) {
  fs::create_directories(host / "TempLateTemp");
  TickingDesktop desktop(1);
  portable::ManualClock clock;
  portable::HeadlessApplication application(desktop, clock);
  portable::PosixFileSystem files;
  portable::SimulatedServiceManager services;
  portable::InProcessLibraryLoader libraries(host / "exe/");
  libraries.Register(host / "exe/auxsys/app/dbfinder.dll",
                     {{"GetSqlHinstance", libraries.Returning(connection_string)}});
  portable::RecordingHostLog log;
  Platform platform{application, files, database, services, libraries, clock, log};
  SqlConnectionString.clear();
  RunOutcome outcome;
  outcome.result =
      DoItRun(platform, Edition::HostInstance, 1, (host.path() + "/").c_str(), backup.c_str(), "");
  for (const auto& line : log.lines())
    outcome.reports.push_back(line.message);
  for (const std::string& box : desktop.boxes)
    outcome.reports.push_back(box);
  EXPECT_FALSE(fs::exists(host / "TempLateTemp/xy.temp")) << "the staged copy is left";
  return outcome;
}

// The rows of VORIRA's views and item tables, sorted, read in-process.
std::vector<std::vector<std::vector<std::string>>> VoriraRows(Server& server) {
  std::vector<std::vector<std::vector<std::string>>> out;
  EmulatorDriver driver(server);
  auto session = driver.Connect("Initial Catalog=VORIRA", 15);
  for (const char* object : {"km", "BAL", "pz", "aidInfo", "aidBal", "aidVour"}) {
    auto rows = Text(*session->Query(std::string("SELECT * FROM ") + object, 0));
    EXPECT_FALSE(rows.empty()) << object;
    std::sort(rows.begin(), rows.end());
    out.push_back(rows);
  }
  return out;
}

// Runs the same backup, with set 2 ticked, in-process on the embedded emulator and expects
// VORIRA on the listener's server to hold the same rows, with set 2's marker account.
void ExpectRowsOfTheEmbeddedRun(LiveServer& live, const std::string& connection_string,
                                const std::string& backup) {
  TempDir embedded_dir, host_in_process;
  Server embedded(embedded_dir / "data");
  EmulatorDriver embedded_driver(embedded);
  const RunOutcome in_process =
      WholeRun(embedded_driver, connection_string, backup, host_in_process);
  EXPECT_THAT(in_process.reports, ::testing::IsEmpty());

  const auto rows = VoriraRows(live.server());
  EXPECT_EQ(rows, VoriraRows(embedded));
  EXPECT_THAT(rows[0], ::testing::Contains(::testing::Contains("9992")));
}

TEST_F(OverOdbc, AWholeRunGivesTheRowsOfTheEmbeddedRun) {
  const std::string backup = kSamples + "/sample.bak";

  LiveServer live;
  odbc::OdbcDriver odbc_driver;
  const std::string connection_string = live.ConnectionString();
  TempDir host_over_tds;
  const RunOutcome over_tds = WholeRun(odbc_driver, connection_string, backup, host_over_tds);
  EXPECT_EQ(over_tds.result, ReplaceFirstIgnoreCase(connection_string, "master", "vorira"));
  EXPECT_THAT(over_tds.reports, ::testing::IsEmpty());
  live.listener().Stop();
  ExpectRowsOfTheEmbeddedRun(live, connection_string, backup);
}

// ---- The terminal runner ----

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(OverOdbc, TheRunnerWithServerGivesTheRowsOfTheEmbeddedRun) {
  const std::string backup = kSamples + "/sample.bak";
  LiveServer live;
  const std::string connection_string = live.ConnectionString();
  TempDir base;
  const std::string command =
      ShellQuote(FINPREP_RUNNER) + " run " + ShellQuote(backup) + " --base " +
      ShellQuote(base.path()) + " --set 2 --server " + ShellQuote(connection_string) +
      " </dev/null >" + ShellQuote(base / "stdout.txt") + " 2>" + ShellQuote(base / "stderr.txt");
  const int status = std::system(command.c_str());
  const std::string err = ReadFile(base / "stderr.txt");
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err;
  EXPECT_EQ(ReadFile(base / "stdout.txt"),
            ReplaceFirstIgnoreCase(connection_string, "master", "vorira") + "\n");
  EXPECT_EQ(err.find("[log"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(base / "TempLateTemp/xy.temp")) << "the staged copy is left";
  live.listener().Stop();
  ExpectRowsOfTheEmbeddedRun(live, connection_string, backup);
}

}  // namespace
}  // namespace finprep::emu::tds
