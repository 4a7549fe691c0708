// The finprep-emu tool: backup, list and query, with their outputs and exit codes.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "emu_test_util.h"

namespace finprep::emu {
namespace {

using testing::TempDir;

struct Result {
  int code = -1;
  std::string out, err;
};

Result Tool(const TempDir& dir, const std::string& args) {
  std::string err_file = dir / "stderr.txt";
  std::string command = std::string(FINPREP_EMU_TOOL) + " " + args + " 2>" + err_file;
  Result r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    r.out.append(buf, n);
  int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(err_file);
  std::stringstream err;
  err << in.rdbuf();
  r.err = err.str();
  return r;
}

TEST(Tool, BacksUpListsAndQueries) {
  TempDir dir;
  std::ofstream(dir / "one.sql") << "CREATE TABLE t (id int, name varchar(10))\nGO\n"
                                    "INSERT INTO t VALUES (1, '甲'), (2, NULL)\n";
  std::ofstream(dir / "two.sql") << "CREATE TABLE t (id int)\n";
  Result r = Tool(dir, "backup " + dir / "x.bak" + " --set ONE " + dir / "one.sql" + " --set TWO " +
                           dir / "two.sql" + " --files T_Dat:D,T_Lg:L,T_Ext:D");
  ASSERT_EQ(r.code, 0) << r.err;

  r = Tool(dir, "list " + dir / "x.bak");
  ASSERT_EQ(r.code, 0) << r.err;
  std::istringstream lines(r.out);
  std::vector<std::string> l;
  for (std::string line; std::getline(lines, line);)
    l.push_back(line);
  ASSERT_GE(l.size(), 14u);
  EXPECT_EQ(l[0], "HEADERONLY");
  EXPECT_EQ(l[1].rfind("BackupName\tBackupDescription\tB", 0), 0u) << l[1];
  EXPECT_NE(l[2].find("\t1\t2\tsa\tFINPREP-EMU\tONE\t"), std::string::npos) << l[2];
  EXPECT_NE(l[3].find("\t2\t2\tsa\tFINPREP-EMU\tTWO\t"), std::string::npos) << l[3];
  EXPECT_EQ(l[5], "FILELISTONLY FILE=1");
  EXPECT_EQ(l[6], "LogicalName\tPhysicalName\tType\tFileGroupName\tSize\tMaxSize");
  EXPECT_EQ(l[7].rfind("ONE_Data\tD:\\Data\\ONE_Data.mdf\tD\tPRIMA", 0), 0u) << l[7];
  EXPECT_EQ(l[8].rfind("ONE_Log\tD:\\Data\\ONE_Log.ldf\tL\tNULL\t", 0), 0u) << l[8];
  EXPECT_EQ(l[10], "FILELISTONLY FILE=2");
  EXPECT_EQ(l[12].rfind("T_Dat\t", 0), 0u) << l[12];
  EXPECT_EQ(l[13].rfind("T_Lg\t", 0), 0u) << l[13];
  EXPECT_EQ(l[14].rfind("T_Ext\tD:\\Data\\T_Ext.ndf\tD\tPR", 0), 0u) << l[14];

  std::string data = dir / "data";
  r = Tool(dir, data + " master \"restore database db from disk='" + dir / "x.bak" +
                    "' with move 'ONE_Data' to '" + dir / "db.mdf" + "', move 'ONE_Log' to '" +
                    dir / "db.ldf" + "'\"");
  EXPECT_NE(r.code, 0);  // no subcommand
  r = Tool(dir, "query " + data + " master \"restore database db from disk='" + dir / "x.bak" +
                    "' with move 'ONE_Data' to '" + dir / "db.mdf" + "', move 'ONE_Log' to '" +
                    dir / "db.ldf" + "'\"");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("RESTORE DATABASE successfully processed"), std::string::npos);
  r = Tool(dir, "query " + data + " db \"select id, name from t order by id\"");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "id\tname\n1\t甲\n2\tNULL\n");

  r = Tool(dir, "query " + data + " db \"select nope from t\"");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Msg 207, Level 16, State 1\nInvalid column name 'nope'.\n");
  r = Tool(dir, "query " + data + " nodb \"select 1\"");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Cannot open database \"nodb\""), std::string::npos);
}

TEST(Tool, ReportsBadInput) {
  TempDir dir;
  std::ofstream(dir / "bad.sql") << "CREATE TABLE t (id int)\nGO\nINSERT INTO nowhere VALUES (1)\n";
  Result r = Tool(dir, "backup " + dir / "x.bak" + " --set ONE " + dir / "bad.sql");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("bad.sql: batch 2: Msg 208"), std::string::npos) << r.err;
  EXPECT_NE(Tool(dir, "backup " + dir / "x.bak").code, 0);
  EXPECT_NE(Tool(dir, "backup " + dir / "x.bak --set ONE " + dir / "bad.sql --files X:Q").code, 0);
  EXPECT_EQ(Tool(dir, "").code, 2);
  EXPECT_EQ(Tool(dir, "query onlyone").code, 2);
  r = Tool(dir, "list " + dir / "bad.sql");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Msg 3241"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace finprep::emu
