// DoItRun: the result string of each edition, the owner window, the arguments, and nothing
// escaping to the host.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "DealWithBackup/Statements.h"
#include "entry/doit.h"
#include "fakes.h"

namespace finprep {
namespace {

using test::Env;

TEST(DoIt, HostResultReplacesTheFirstMasterInAnyCase) {
  struct Case {
    const char* server;
    const char* result;
  } cases[] = {
      {"Provider=SQLOLEDB.1;Initial Catalog=MaStEr;Data Source=srv",
       "Provider=SQLOLEDB.1;Initial Catalog=vorira;Data Source=srv"},
      {"Provider=SQLOLEDB.1;Initial Catalog=MASTER;Data Source=master",
       "Provider=SQLOLEDB.1;Initial Catalog=vorira;Data Source=master"},
      // Inside an earlier key's value: that one is replaced, the catalog stays.
      {"Provider=SQLOLEDB.1;Data Source=srvMaster01;Initial Catalog=master",
       "Provider=SQLOLEDB.1;Data Source=srvvorira01;Initial Catalog=master"},
      {"Provider=SQLOLEDB.1;Initial Catalog=books;Data Source=srv",
       "Provider=SQLOLEDB.1;Initial Catalog=books;Data Source=srv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    Env env;
    env.libraries.Register(env.dbfinder, {{"GetSqlHinstance", env.libraries.Returning(c.server)}});
    EXPECT_EQ(env.Run(Edition::HostInstance), c.result);
    // The views were made in the database the host is told about.
    EXPECT_NE(std::find(env.database.log.begin(), env.database.log.end(),
                        std::string("connect ") + c.result),
              env.database.log.end());
  }
}

TEST(DoIt, OwnerWindowIsTheHostsDuringTheRunAndRestoredAfter) {
  Env env;
  env.application.SetOwnerWindow(77);
  WindowHandle during = 0;
  env.desktop.on_dialog_shown = [&] { during = env.application.OwnerWindow(); };
  EXPECT_EQ(env.Run(Edition::LocalServer), kLocalResultConnectionString);
  EXPECT_EQ(during, 0x4711u);
  EXPECT_EQ(env.application.OwnerWindow(), 77u);
}

TEST(DoIt, NullArgumentsCountAsEmpty) {
  Env env;
  EXPECT_EQ(DoItRun(env.platform, Edition::HostInstance, 1, nullptr, nullptr, nullptr), "0");
  ASSERT_EQ(env.host_log.lines().size(), 1u);
  EXPECT_EQ(env.host_log.lines()[0].message,
            "数据预处理出现异常！Cannot open file \"\". No such file or directory");
}

// An application whose dialogs cannot be created.
class BrokenApplication : public portable::HeadlessApplication {
 public:
  using HeadlessApplication::HeadlessApplication;
  std::unique_ptr<DealWithBackupWindow> CreateDealWithBackupWindow(Edition) override {
    throw Error("Error creating window");
  }
};

TEST(DoIt, NothingEscapesToTheHost) {
  for (Edition edition : {Edition::HostInstance, Edition::LocalServer}) {
    Env env;
    BrokenApplication broken(env.desktop, env.clock);
    broken.SetOwnerWindow(5);
    Platform platform{broken,        env.files, env.database, env.services,
                      env.libraries, env.clock, env.host_log};
    std::string result;
    EXPECT_NO_THROW(result =
                        DoItRun(platform, edition, 9, env.base.c_str(), env.backup.c_str(), ""));
    EXPECT_EQ(result, "0");
    EXPECT_EQ(broken.OwnerWindow(), 5u);
    const std::string text = "数据预处理出现异常！Error creating window";
    if (edition == Edition::HostInstance) {
      ASSERT_EQ(env.host_log.lines().size(), 1u);
      EXPECT_EQ(env.host_log.lines()[0].message, text);
    } else {
      EXPECT_EQ(env.desktop.boxes, (std::vector<test::Box>{{text, "错误", 16}}));
    }
  }
}

}  // namespace
}  // namespace finprep
