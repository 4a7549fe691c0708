// The ODBC driver on unixODBC.  Each test process gets a driver configuration of its own in which
// the SQLite ODBC driver stands in for "SQL Server", so the translated strings connect unchanged.
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/database.h"
#include "platform/errors.h"
#include "platform/odbc/odbc_driver.h"

namespace finprep::odbc {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

const char kSqliteDriver[] = FINPREP_SQLITE_ODBC_DRIVER;

class OdbcConfiguration : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("finprep-odbc-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    std::ofstream(dir_ / "odbcinst.ini")
        << "[SQL Server]\nDescription=SQLite standing in\nDriver=" << kSqliteDriver << "\n";
    std::ofstream(dir_ / "odbc.ini") << "";
    ::setenv("ODBCSYSINI", dir_.c_str(), 1);
    ::setenv("ODBCINI", (dir_ / "odbc.ini").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir_); }
  static fs::path dir() { return dir_; }

 private:
  static inline fs::path dir_;
};

// ---- Translation ----

TEST(ConnectionString, TranslatesByTable) {
  struct Case {
    const char* ole_db;
    const char* odbc;
  } cases[] = {
      {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=true;"
       "Initial Catalog=Master;Data Source=(local)",
       "DRIVER={SQL Server};Trusted_Connection=Yes;Database=Master;Server=(local)"},
      {"Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;"
       "Initial Catalog=master;Data Source=SRV\\INST",
       "DRIVER={SQL Server};PWD=pw;UID=sa;Database=master;Server=SRV\\INST"},
      // keys in any case and spacing, a trailing ';', a repeated key keeps its last value
      {" data source = a ; initial catalog=x;DATA SOURCE=b;",
       "DRIVER={SQL Server};Server=b;Database=x"},
      // quoted values; values that ODBC would misread go in braces, '}' doubled
      {"Data Source='my;srv';Password=\"a\"\"b\";User ID= x}y ",
       "DRIVER={SQL Server};Server={my;srv};PWD=a\"b;UID={x}}y}"},
      {"Data Source=s;Password=' p '", "DRIVER={SQL Server};Server=s;PWD={ p }"},
      // the driver or data source named by the string
      {"Driver={FreeTDS};Server=h", "DRIVER={FreeTDS};Server=h"},
      {"DSN=mine;UID=u", "DSN=mine;UID=u"},
      {"Data Source=s;Integrated Security=false", "DRIVER={SQL Server};Server=s"},
      {"Data Source=s;Application Name=a;Workstation ID=w;Network Library=dbmssocn",
       "DRIVER={SQL Server};Server=s;APP=a;WSID=w;Network=dbmssocn"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TranslateConnectionString(c.ole_db).text, c.odbc) << c.ole_db;
  }
  EXPECT_EQ(TranslateConnectionString("Data Source=s;Connect Timeout=5").login_timeout_seconds, 5);
  EXPECT_EQ(TranslateConnectionString("Data Source=s").login_timeout_seconds, std::nullopt);
}

TEST(ConnectionString, RejectsWhatItCannotTranslate) {
  struct Case {
    const char* ole_db;
    const char* message;
  } cases[] = {
      {"Data Source=s;Mode=Read", "Connection string keyword not supported: 'Mode'."},
      {"Data Source=s;Integrated Security=maybe", "Invalid value for 'Integrated Security'"},
      {"Data Source=s;Connect Timeout=soon", "Invalid value for 'Connect Timeout'"},
      {"Data Source", "is malformed"},
      {"=x", "is malformed"},
      {"Password='unterminated", "is malformed"},
      {"Password='a'b", "is malformed"},
      {"", "The connection string is empty."},
      {" ; ;", "The connection string is empty."},
  };
  for (const Case& c : cases) {
    try {
      TranslateConnectionString(c.ole_db);
      ADD_FAILURE() << "accepted: " << c.ole_db;
    } catch (const ProviderError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.message)) << c.ole_db;
    }
  }
}

TEST(Diagnostics, ComponentTagsAreStripped) {
  EXPECT_EQ(StripComponentTags("[unixODBC][Driver Manager]Data source name not found"),
            "Data source name not found");
  EXPECT_EQ(StripComponentTags("[Microsoft][ODBC SQL Server Driver][SQL Server]Invalid object "
                               "name 'x'."),
            "Invalid object name 'x'.");
  EXPECT_EQ(StripComponentTags("plain [not a tag]"), "plain [not a tag]");
  EXPECT_EQ(StripComponentTags("[unterminated"), "[unterminated");
}

// ---- Errors of the driver manager ----

TEST(Connect, MissingDriverIsAProviderErrorWithTheManagersText) {
  OdbcDriver driver;
  try {
    driver.Connect("Provider=SQLOLEDB.1;Driver={No Such Driver};Data Source=x", 15);
    FAIL() << "connected";
  } catch (const ProviderError& error) {
    EXPECT_THAT(error.what(), HasSubstr("No Such Driver"));
    EXPECT_EQ(std::string(error.what()).find('['), std::string::npos) << error.what();
  }
  EXPECT_THROW(driver.Connect("Data Source=x;Bogus=1", 15), ProviderError);
}

// ---- A real driver behind the translated string ----

class SqliteSession : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kSqliteDriver[0] == '\0') GTEST_SKIP() << "libsqliteodbc is not installed";
    db_ = OdbcConfiguration::dir() /
          (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".db");
    fs::remove(db_);
  }
  std::string ConnectionString() const {
    return "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=" + db_.string();
  }

  fs::path db_;
  OdbcDriver driver_;
};

TEST_F(SqliteSession, QueriesComeBackWholeAsText) {
  std::unique_ptr<Session> session = driver_.Connect(ConnectionString(), 15);
  session->Execute("create table t(Position integer, DatabaseName text)", 0);
  const std::string long_name = std::string(3000, 'x') + "账套" + std::string(3000, 'y');
  session->Execute("insert into t values (1, '财务'), (2, NULL), (3, '" + long_name + "')", 0);

  std::optional<ResultSet> result = session->Query("select * from t order by Position", 30);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->columns, (std::vector<std::string>{"Position", "DatabaseName"}));
  ASSERT_EQ(result->rows.size(), 3u);
  EXPECT_EQ(result->rows[0], (std::vector<FieldValue>{"1", "财务"}));
  EXPECT_EQ(result->rows[1], (std::vector<FieldValue>{"2", std::nullopt}));
  ASSERT_TRUE(result->rows[2][1]);
  EXPECT_TRUE(*result->rows[2][1] == long_name)
      << "read back " << result->rows[2][1]->size() << " bytes of " << long_name.size();

  result = session->Query("select * from t where Position > 9", 30);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->columns.size(), 2u);
  EXPECT_TRUE(result->rows.empty());

  EXPECT_EQ(session->Query("update t set Position = Position + 10", 30), std::nullopt);
}

TEST_F(SqliteSession, StatementErrorsCarryTheDriversText) {
  std::unique_ptr<Session> session = driver_.Connect(ConnectionString(), 15);
  try {
    session->Query("select * from nowhere", 30);
    FAIL() << "query ran";
  } catch (const ProviderError& error) {
    EXPECT_THAT(error.what(), HasSubstr("no such table: nowhere"));
  }
  try {
    session->Execute("drop table nowhere", 0);
    FAIL() << "command ran";
  } catch (const ProviderError& error) {
    EXPECT_THAT(error.what(), HasSubstr("no such table: nowhere"));
  }
  // The session stays usable after a failed statement.
  session->Execute("create table ok(a)", 0);
}

TEST_F(SqliteSession, ComponentsWorkOverTheDriver) {
  Connection connection(driver_);
  connection.SetConnectionString(ConnectionString());
  Command command(connection);
  command.SetCommandText("create table km(ItemTypeID integer)");
  command.Execute();  // opens the connection on the way
  EXPECT_TRUE(connection.Connected());
  command.SetCommandText("insert into km values (7), (8)");
  command.Execute();

  Query query(connection, "FADOQuery");
  query.SetSQL("select ItemTypeID from km");
  query.Open();
  EXPECT_EQ(query.RecordCount(), 2);
  EXPECT_EQ(query.FieldAsString("itemtypeid"), "7");
  query.Next();
  EXPECT_EQ(query.FieldAsString("ItemTypeID"), "8");
  connection.Close();

  Connection broken(driver_);
  broken.SetConnectionString("Provider=SQLOLEDB.1;Driver={No Such Driver}");
  EXPECT_THROW(broken.Open(), ProviderError);
  EXPECT_FALSE(broken.Connected());
}

}  // namespace
}  // namespace finprep::odbc

int main(int argc, char** argv) {
  // The SQLite driver has the narrow API only; the driver manager converts the wide calls for it
  // with the character set of the locale.
  std::setlocale(LC_ALL, "C.UTF-8");
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new finprep::odbc::OdbcConfiguration);
  return RUN_ALL_TESTS();
}
