// Whole runs of the finprep runner against the embedded emulator: what the host reads in VORIRA
// afterwards, the work folder, what the terminal shows, the result on stdout and the exit code.
// The expected rows are worked out by hand from the sample scripts (emulator/samples).
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emu/server.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using Rows = std::vector<std::vector<std::string>>;

const std::string kSamples = FINPREP_SAMPLE_DIR;
const std::string kHostResult = "Provider=SQLOLEDB.1;Data Source=(local);Initial Catalog=vorira\n";
const std::string kLocalResult =
    "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=true;Initial "
    "Catalog=VORIRA;Data Source=(local)\n";

// The base folder of a run, with the runner's work folder and emulator data folder in it.
class TempDir : public finprep::test_support::TempDir {
 public:
  std::string work() const { return path() + "/TempLateTemp/"; }
  std::string data() const { return path() + "/.finprep-emulator"; }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Outcome {
  int code = -1;
  std::string out, err;
};

// `finprep run ARGS` with `input` on stdin, tracing to `trace` when it is not empty.
Outcome Finprep(const TempDir& dir, const std::vector<std::string>& args,
                const std::string& input = "", const std::string& trace = "") {
  WriteFile(dir / "stdin.txt", input);
  std::string command = "FINPREP_TRACE=" + Quote(trace) + " " + Quote(FINPREP_RUNNER) + " run";
  for (const std::string& arg : args)
    command += " " + Quote(arg);
  command += " <" + Quote(dir / "stdin.txt") + " >" + Quote(dir / "stdout.txt") + " 2>" +
             Quote(dir / "stderr.txt");
  Outcome run;
  run.code = Shell(command);
  run.out = ReadFile(dir / "stdout.txt");
  run.err = ReadFile(dir / "stderr.txt");
  return run;
}

// Builds a backup with finprep-emu: `sets` are "--set DB SCRIPT [--files ...]" argument groups.
void MakeBackup(const std::string& out, const std::vector<std::vector<std::string>>& sets) {
  std::string command = Quote(FINPREP_EMU_TOOL) + " backup " + Quote(out);
  for (const auto& set : sets)
    for (const std::string& arg : set)
      command += " " + Quote(arg);
  ASSERT_EQ(Shell(command + " >/dev/null"), 0) << command;
}

struct Answer {
  int error = 0;  // the server's message number when the statement failed
  Names columns;
  Rows rows;
};

// Runs one statement on VORIRA in an emulator data folder; values as text, NULL as "NULL".
Answer Select(const std::string& data, const std::string& sql) {
  finprep::emu::Server server(data);
  std::unique_ptr<finprep::emu::Session> session = server.Connect("VORIRA");
  const finprep::emu::BatchResult result = session->Execute(sql);
  Answer answer;
  if (const finprep::emu::Message* error = result.FirstError()) {
    answer.error = error->number;
    return answer;
  }
  const finprep::emu::ResultSet* rs = result.FirstResultSet();
  if (!rs) return answer;
  for (const finprep::emu::Column& column : rs->columns)
    answer.columns.push_back(column.name);
  for (const auto& row : rs->rows) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::optional<std::string> text =
          finprep::emu::FormatValue(row[i], rs->columns[i].type);
      texts.push_back(text ? *text : "NULL");
    }
    answer.rows.push_back(texts);
  }
  return answer;
}

Rows SelectRows(const std::string& data, const std::string& sql) {
  Answer answer = Select(data, sql);
  EXPECT_EQ(answer.error, 0) << sql;
  return answer.rows;
}

Names Columns(const std::string& data, const std::string& table) {
  return Select(data, "select * from " + table).columns;
}

void ExpectWorkFolder(const TempDir& dir, const std::string& staged_name) {
  EXPECT_FALSE(fs::exists(dir.work() + staged_name)) << "the staged copy is left";
  EXPECT_TRUE(fs::is_regular_file(dir.work() + "vorira.mdf"));
  EXPECT_TRUE(fs::is_regular_file(dir.work() + "vorira.ldf"));
}

// km, BAL and pz of a sample set, whose marker account is `marker_code` `marker_name`.
void ExpectSampleViews(const std::string& data, const std::string& marker_code,
                       const std::string& marker_name, bool host_edition) {
  EXPECT_EQ(SelectRows(data, "select accName, AccCode from km order by AccCode"),
            (Rows{{"库存现金", "1001"},
                  {"银行存款", "1002"},
                  {"应收账款", "1122"},
                  {"应付账款", "2202"},
                  {"主营业务收入", "6001"},
                  {"管理费用", "6602"},
                  {marker_name, marker_code}}));

  // Period 0 with an account: the period-1 row and the row of account 99 are left out.
  EXPECT_EQ(SelectRows(data, "select DebMoney, CreMoney, AccCode from BAL order by AccCode"),
            (Rows{{"5000.0000", "0.0000", "1001"},
                  {"120000.5000", "0.0000", "1002"},
                  {"8000.0000", "0.0000", "1122"},
                  {"0.0000", "3000.0000", "2202"}}));

  Names pz_columns = {"AccName",    "AccCode",     "UnitID",   "VouNumID", "VouNumName",
                      "VouFormat",  "Period",      "FillDate", "accNO",    "AcceNum",
                      "FillerID",   "CheckerID",   "AccDate",  "AccerID",  "Abstract",
                      "DebitMoney", "CreditMoney", "xmdm",     "xmmc"};
  if (host_edition) pz_columns.push_back("VouDetailID");
  EXPECT_EQ(Columns(data, "pz"), pz_columns);

  // Vouchers 3 (deleted) and 4 (null Isdel) are left out; line 101 has three item lines; the
  // item of line 501 has no type row, so the line keeps its own amounts; str('') is 0.
  EXPECT_EQ(
      SelectRows(data,
                 "select AccCode, VouNumName, Period, accNO, Abstract, DebitMoney, CreditMoney, "
                 "xmdm, xmmc from pz order by Period, accNO, AccCode, xmdm"),
      (Rows{{"1001", "记", "1", "1", "报销差旅费", "0.0000", "300.0000", "NULL", "NULL"},
            {"6602", "记", "1", "1", "报销差旅费", "100.0000", "0.0000", "3-1", "部门-财务部"},
            {"6602", "记", "1", "1", "报销差旅费", "120.0000", "0.0000", "3-2", "部门-销售部"},
            {"6602", "记", "1", "1", "报销差旅费", "80.0000", "0.0000", "3-3", "部门-行政部"},
            {"1002", "收", "1", "2", "收到货款", "5000.0000", "0.0000", "NULL", "NULL"},
            {"1122", "收", "1", "2", "收到货款", "0.0000", "5000.0000", "1-1001", "客户-华星公司"},
            {"1002", "记", "2", "1", "项目支出", "0.0000", "200.0000", "1-0", "客户-空编码客户"},
            {"6602", "记", "2", "1", "项目支出", "200.0000", "0.0000", "NULL", "NULL"}}));
}

// The item tables of the host-instance edition and the type columns added to the package's
// tables, whose names carry `suffix`.  Types listed in table order: 3, 1, 2, 5 (type 0 equals '').
void ExpectSampleItemTables(const std::string& data, const std::string& suffix) {
  EXPECT_EQ(SelectRows(data,
                       "select AidType, AidCode, Aidname, AidDec, AidVouSourceFiledName, "
                       "AidBalSourceFiledName, ItemID, ItemTypeID from aidInfo order by ItemID"),
            (Rows{{"部门", "01", "财务部", "", "AidType3", "AidType3", "1", "3"},
                  {"部门", "02", "销售部", "", "AidType3", "AidType3", "2", "3"},
                  {"部门", "03", "行政部", "", "AidType3", "AidType3", "3", "3"},
                  {"客户", "1001", "华星公司", "", "AidType1", "AidType1", "4", "1"},
                  {"职员", "2001", "张三", "", "AidType2", "AidType2", "5", "2"},
                  {"NULL", "4001", "无类型项目", "", "AidType4", "AidType4", "6", "NULL"},
                  {"客户", "", "空编码客户", "", "AidType1", "AidType1", "7", "1"},
                  {"职员", "2002", "李四", "", "AidType2", "AidType2", "8", "2"}}));

  // Every row gets the trimmed code of its item in its type's column, whatever its period.
  Answer balances = Select(data, "select * from t_ItemBalance" + suffix + " order by ItemID");
  EXPECT_EQ(balances.columns, (Names{"ItemID", "AccID", "Period", "DebMoney", "CreMoney",
                                     "AidType3", "AidType1", "AidType2", "AidType5"}));
  EXPECT_EQ(balances.rows,
            (Rows{{"1", "6", "1", "50.0000", "0.0000", "01", "NULL", "NULL", "NULL"},
                  {"2", "99", "0", "70.0000", "0.0000", "02", "NULL", "NULL", "NULL"},
                  {"4", "3", "0", "8000.0000", "0.0000", "NULL", "1001", "NULL", "NULL"},
                  {"6", "6", "0", "30.0000", "0.0000", "NULL", "NULL", "NULL", "NULL"},
                  {"7", "3", "0", "10.0000", "0.0000", "NULL", "", "NULL", "NULL"},
                  {"8", "3", "0", "200.0000", "0.0000", "NULL", "NULL", "2002", "NULL"}}));

  Answer lines =
      Select(data, "select * from t_VouItemDetail" + suffix + " order by VouDetailID, ItemID");
  EXPECT_EQ(lines.columns, (Names{"VouDetailID", "ItemID", "DebMoney", "CreMoney", "AidType3",
                                  "AidType1", "AidType2", "AidType5"}));
  EXPECT_EQ(lines.rows, (Rows{{"101", "1", "100.0000", "0.0000", "01", "NULL", "NULL", "NULL"},
                              {"101", "2", "120.0000", "0.0000", "02", "NULL", "NULL", "NULL"},
                              {"101", "3", "80.0000", "0.0000", "03", "NULL", "NULL", "NULL"},
                              {"202", "4", "0.0000", "5000.0000", "NULL", "1001", "NULL", "NULL"},
                              {"301", "4", "100.0000", "0.0000", "NULL", "1001", "NULL", "NULL"},
                              {"401", "5", "50.0000", "0.0000", "NULL", "NULL", "2001", "NULL"},
                              {"501", "6", "200.0000", "0.0000", "NULL", "NULL", "NULL", "NULL"},
                              {"502", "7", "0.0000", "200.0000", "NULL", "", "NULL", "NULL"}}));

  // Period 0 with at least one non-empty code; account 99 does not exist.
  Answer bal = Select(data, "select * from aidBal order by ItemID");
  EXPECT_EQ(bal.columns, (Names{"AccCode", "ItemID", "AccID", "Period", "DebMoney", "CreMoney",
                                "AidType3", "AidType1", "AidType2", "AidType5"}));
  EXPECT_EQ(bal.rows,
            (Rows{{"NULL", "2", "99", "0", "70.0000", "0.0000", "02", "NULL", "NULL", "NULL"},
                  {"1122", "4", "3", "0", "8000.0000", "0.0000", "NULL", "1001", "NULL", "NULL"},
                  {"1122", "8", "3", "0", "200.0000", "0.0000", "NULL", "NULL", "2002", "NULL"}}));

  // One row per item line with a code, the lines of vouchers left out of pz with a null AccCode.
  Answer vour = Select(data, "select * from aidVour order by VouDetailID, ItemID");
  EXPECT_EQ(vour.columns, (Names{"VouDetailID", "ItemID", "DebMoney", "CreMoney", "AidType3",
                                 "AidType1", "AidType2", "AidType5", "AccCode"}));
  EXPECT_EQ(vour.rows,
            (Rows{{"101", "1", "100.0000", "0.0000", "01", "NULL", "NULL", "NULL", "6602"},
                  {"101", "2", "120.0000", "0.0000", "02", "NULL", "NULL", "NULL", "6602"},
                  {"101", "3", "80.0000", "0.0000", "03", "NULL", "NULL", "NULL", "6602"},
                  {"202", "4", "0.0000", "5000.0000", "NULL", "1001", "NULL", "NULL", "1122"},
                  {"301", "4", "100.0000", "0.0000", "NULL", "1001", "NULL", "NULL", "NULL"},
                  {"401", "5", "50.0000", "0.0000", "NULL", "NULL", "2001", "NULL", "NULL"}}));
}

TEST(Run, HostEditionRestoresTheTickedSetAndPreparesEverything) {
  TempDir dir;
  Outcome run = Finprep(dir, {kSamples + "/sample.bak", "--base", dir.path(), "--set", "2"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, kHostResult);
  EXPECT_NE(run.err.find("财务备份预处理\n  数据源预处理请稍候...\n"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("100%\n  还原数据库文件......\n选择备份文件\n"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("--set 2: OK pressed with set 2 ticked"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("[log"), std::string::npos) << run.err;

  ExpectWorkFolder(dir, "xy.temp");
  ExpectSampleViews(dir.data(), "9992", "账套2022", true);
  ExpectSampleItemTables(dir.data(), "");
}

TEST(Run, LocalEditionWithSuffixMakesTheViewsOnly) {
  TempDir dir;
  Outcome run = Finprep(dir, {kSamples + "/sample_2023.bak", "--base", dir.path(), "--suffix",
                              "_2023", "--edition", "local", "--set", "3"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, kLocalResult);
  EXPECT_NE(run.err.find("  SQL SERVER数据库已经启动...\n  还原数据库文件......\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("[警告]"), std::string::npos) << run.err;
  // One set: no chooser, so --set is not used, and the runner says so.
  EXPECT_EQ(run.err.find("选择备份文件"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("--set 3 was not used"), std::string::npos) << run.err;

  ExpectWorkFolder(dir, "vorira8x.temp");
  ExpectSampleViews(dir.data(), "9993", "账套2023", false);
  EXPECT_EQ(Select(dir.data(), "select * from aidInfo").error, 208);
  EXPECT_EQ(Columns(dir.data(), "t_ItemBalance_2023"),
            (Names{"ItemID", "AccID", "Period", "DebMoney", "CreMoney"}));
}

TEST(Run, SecondRunReplacesVoriraAndSendsOnlyThePluginsStatements) {
  TempDir dir;
  const std::vector<std::string> args = {kSamples + "/sample_2023.bak", "--base", dir.path(),
                                         "--suffix", "_2023"};
  Outcome first = Finprep(dir, args);
  ASSERT_EQ(first.code, 0) << first.err;
  {
    finprep::emu::Server server(dir.data());
    ASSERT_EQ(server.Connect("VORIRA")->Execute("CREATE TABLE leftover (x int)").FirstError(),
              nullptr);
  }

  const std::string trace = dir / "trace.sql";
  Outcome second = Finprep(dir, args, "", trace);
  ASSERT_EQ(second.code, 0) << second.err;
  EXPECT_EQ(second.out, kHostResult);
  // A fresh restore: nothing of the first run is left, and nothing the first run made is in the
  // way (its views and item tables would make the CREATE statements fail).
  EXPECT_EQ(second.err.find("[log"), std::string::npos) << second.err;
  EXPECT_EQ(Select(dir.data(), "select * from leftover").error, 208);
  ExpectSampleItemTables(dir.data(), "_2023");

  const std::string w = dir.work();
  const std::vector<std::string> statements = {
      "RESTORE HEADERONLY From Disk='" + w + "xy.temp'",
      "select * from sysdatabases WHERE name='VORIRA'",
      " ALTER DATABASE VORIRA SET OFFLINE WITH ROLLBACK IMMEDIATE",
      "drop DATABASE VORIRA",
      "Restore FileListOnly From Disk='" + w + "xy.temp'",
      "restore database vorira from Disk='" + w + "xy.temp' WITH  RECOVERY, MOVE 'CW_Data' TO '" +
          w + "vorira.mdf',MOVE 'CW_Log' TO '" + w + "vorira.ldf', REPLACE ",
      "create View km as SELECT account.accName,account.AccCode FROM  t_Account_2023 Account",
      "create View BAL as SELECT ye.DebMoney, ye.CreMoney,account.AccCode FROM t_Balance_2023 ye "
      "INNER JOIN  t_Account_2023 Account  ON ye.AccID = Account.AccID where ye.period=0",
      "create View  pz as SELECT t_Account.AccName, t_Account.AccCode,t_Voucher.UnitID, "
      "t_Voucher.VouNumID,t_VouNum.VouNumName, t_VouNum.VouFormat,t_Voucher.Period, "
      "t_Voucher.FillDate, t_Voucher.accNO,t_Voucher.AcceNum, t_Voucher.FillerID,"
      "t_Voucher.CheckerID, t_Voucher.AccDate,t_Voucher.AccerID, t_VouDetail.Abstract, CASE WHEN "
      "t_Item.ItemCode IS NULL THEN t_VouDetail.DebMoney ELSE t_VouItemDetail.DebMoney END "
      "DebitMoney,CASE WHEN t_Item.ItemCode IS NULL  THEN t_VouDetail.CreMoney ELSE "
      "t_VouItemDetail.CreMoney END CreditMoney,ltrim(str(t_ItemType.ItemTypeID))+'-'+"
      "ltrim(str(t_Item.ItemCode)) as xmdm ,t_ItemType.ItemTypeName+'-'+t_Item.ItemName as xmmc "
      ",t_VouDetail.VouDetailID  FROM t_Item_2023 t_Item INNER JOIN t_VouItemDetail_2023 "
      "t_VouItemDetail ON t_Item.ItemID = t_VouItemDetail.ItemID INNER JOIN t_ItemType_2023 "
      "t_ItemType ON t_Item.ItemTypeID = t_ItemType.ItemTypeID RIGHT OUTER JOIN t_Account_2023 "
      "t_Account INNER JOIN  t_VouDetail_2023  t_VouDetail ON t_Account.AccID = t_VouDetail.AccID "
      "INNER JOIN  t_Voucher_2023 t_Voucher  ON t_VouDetail.VouID = t_Voucher.VouID INNER JOIN "
      "t_VouNum_2023 t_VouNum ON  t_Voucher.VouNumID = t_VouNum.VouNumID ON  "
      "t_VouItemDetail.VouDetailID = t_VouDetail.VouDetailID where t_Voucher.Isdel=0",
      "select * from  t_ItemType_2023 where ItemTypeID<>'' and ItemTypeID is not null",
      "SELECT itemtype.ItemTypeName AS AidType,LTRIM(RTRIM( item.ItemCode)) AS AidCode,"
      "item.ItemName AS Aidname,  '' AS AidDec, 'AidType'+LTRIM(RTRIM( item.ItemTypeID)) AS "
      "AidVouSourceFiledName,  'AidType'+LTRIM(RTRIM( item.ItemTypeID)) AS AidBalSourceFiledName,"
      "item.ItemID,itemtype.ItemTypeID into aidInfo FROM   t_Item_2023 as item LEFT OUTER JOIN "
      "t_ItemType_2023 itemtype ON  item.ItemTypeID =  itemtype.ItemTypeID",
      "ALTER TABLE t_ItemBalance_2023 ADD AidType3 varchar(254)",
      "update t_ItemBalance_2023 set t_ItemBalance_2023.AidType3=aidInfo.AidCode from "
      "t_ItemBalance_2023,aidInfo where aidInfo.ItemTypeID=3 and "
      "t_ItemBalance_2023.ItemID=aidInfo.ItemID",
      "ALTER TABLE t_ItemBalance_2023 ADD AidType1 varchar(254)",
      "update t_ItemBalance_2023 set t_ItemBalance_2023.AidType1=aidInfo.AidCode from "
      "t_ItemBalance_2023,aidInfo where aidInfo.ItemTypeID=1 and "
      "t_ItemBalance_2023.ItemID=aidInfo.ItemID",
      "ALTER TABLE t_ItemBalance_2023 ADD AidType2 varchar(254)",
      "update t_ItemBalance_2023 set t_ItemBalance_2023.AidType2=aidInfo.AidCode from "
      "t_ItemBalance_2023,aidInfo where aidInfo.ItemTypeID=2 and "
      "t_ItemBalance_2023.ItemID=aidInfo.ItemID",
      "ALTER TABLE t_ItemBalance_2023 ADD AidType5 varchar(254)",
      "update t_ItemBalance_2023 set t_ItemBalance_2023.AidType5=aidInfo.AidCode from "
      "t_ItemBalance_2023,aidInfo where aidInfo.ItemTypeID=5 and "
      "t_ItemBalance_2023.ItemID=aidInfo.ItemID",
      "select * into aidBal from  (SELECT Account.AccCode,  ItemBalance.*  FROM  "
      "t_ItemBalance_2023 as ItemBalance LEFT OUTER JOIN t_Account_2023 as Account ON  "
      "ItemBalance.AccID =  Account.AccID  WHERE  ItemBalance.Period = 0 and ( AidType3 <>'' or  "
      "AidType1 <>'' or  AidType2 <>'' or  AidType5 <>''))  as  temp",
      "ALTER TABLE t_VouItemDetail_2023 ADD AidType3 varchar(254)",
      "update t_VouItemDetail_2023 set t_VouItemDetail_2023.AidType3=aidInfo.AidCode from "
      "t_VouItemDetail_2023,aidInfo where aidInfo.ItemTypeID=3 and "
      "t_VouItemDetail_2023.ItemID=aidInfo.ItemID",
      "ALTER TABLE t_VouItemDetail_2023 ADD AidType1 varchar(254)",
      "update t_VouItemDetail_2023 set t_VouItemDetail_2023.AidType1=aidInfo.AidCode from "
      "t_VouItemDetail_2023,aidInfo where aidInfo.ItemTypeID=1 and "
      "t_VouItemDetail_2023.ItemID=aidInfo.ItemID",
      "ALTER TABLE t_VouItemDetail_2023 ADD AidType2 varchar(254)",
      "update t_VouItemDetail_2023 set t_VouItemDetail_2023.AidType2=aidInfo.AidCode from "
      "t_VouItemDetail_2023,aidInfo where aidInfo.ItemTypeID=2 and "
      "t_VouItemDetail_2023.ItemID=aidInfo.ItemID",
      "ALTER TABLE t_VouItemDetail_2023 ADD AidType5 varchar(254)",
      "update t_VouItemDetail_2023 set t_VouItemDetail_2023.AidType5=aidInfo.AidCode from "
      "t_VouItemDetail_2023,aidInfo where aidInfo.ItemTypeID=5 and "
      "t_VouItemDetail_2023.ItemID=aidInfo.ItemID",
      "select * into aidVour from  (SELECT DISTINCT  VouItemDetail.*,pz.AccCode  FROM "
      "t_VouItemDetail_2023 AS VouItemDetail LEFT OUTER JOIN   pz ON VouItemDetail.VouDetailID =  "
      "pz.VouDetailID  where ( AidType3 <>'' or  AidType1 <>'' or  AidType2 <>'' or  AidType5 "
      "<>'')) as temp",
  };
  std::string expected;
  for (const std::string& statement : statements)
    expected += statement + "\nGO\n";
  EXPECT_EQ(ReadFile(trace), expected);
}

// Three sets whose logical file names differ: the file listing must read the chosen set for its
// MOVE clauses to name that set's files.
TEST(Run, ChooserOnTheTerminalRestoresTheTickedSet) {
  TempDir dir;
  const std::string backup = dir / "three.bak";
  MakeBackup(backup, {{"--set", "CW2021", kSamples + "/set1.sql", "--files", "A_Data:D,A_Log:L"},
                      {"--set", "CW2022", kSamples + "/set2.sql", "--files", "B_Data:D,B_Log:L"},
                      {"--set", "CW2023", kSamples + "/set3.sql", "--files", "C_Data:D,C_Log:L"}});
  if (::testing::Test::HasFatalFailure()) return;

  // Tick 1, then 3 (which unticks 1), an unlisted number, 3 again (it stays ticked); then the
  // input ends, which presses OK.
  Outcome run = Finprep(dir, {backup, "--base", dir.path(), "--edition", "local"}, "1\n3\n7\n3\n");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, kLocalResult);
  EXPECT_NE(run.err.find("[ ]  1     CW2021\n  [ ]  2     CW2022\n  [x]  3     CW2023\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("no set 7 in the list: type one of 1, 2, 3"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("end of input: OK pressed with set 3 ticked"), std::string::npos)
      << run.err;

  ExpectWorkFolder(dir, "vorira8x.temp");
  EXPECT_EQ(SelectRows(dir.data(), "select AccCode from km where AccCode like '999%'"),
            (Rows{{"9993"}}));
}

TEST(Run, ExistingKmIsReportedAndTheRunGoesOn) {
  TempDir dir;
  const std::string script = dir / "km.sql";
  WriteFile(script, ReadFile(kSamples + "/set1.sql") + "\nGO\nCREATE TABLE km (AccCode int)\n");
  const std::string backup = dir / "km.bak";
  MakeBackup(backup, {{"--set", "CWKM", script, "--files", "CW_Data:D,CW_Log:L"}});
  if (::testing::Test::HasFatalFailure()) return;

  Outcome run = Finprep(dir, {backup, "--base", dir.path()});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, kHostResult);
  // Exactly one report, with the server's own text.
  const std::string report =
      "[log 3] SQL=create View km as SELECT account.accName,account.AccCode FROM  t_Account "
      "Account不能执行There is already an object named 'km' in the database.\n";
  const std::size_t at = run.err.find("[log");
  ASSERT_NE(at, std::string::npos) << run.err;
  EXPECT_EQ(run.err.substr(at), report);

  EXPECT_EQ(Columns(dir.data(), "km"), (Names{"AccCode"}));
  EXPECT_EQ(SelectRows(dir.data(), "select count(*) from BAL"), (Rows{{"4"}}));
  EXPECT_EQ(SelectRows(dir.data(), "select count(*) from pz"), (Rows{{"8"}}));
  EXPECT_EQ(SelectRows(dir.data(), "select count(*) from aidVour"), (Rows{{"6"}}));
}

TEST(Run, FailuresPrintZero) {
  struct Case {
    std::string name;
    std::vector<std::string> args;  // after BACKUP; the base folder is added
    std::string backup;
    int code;
    std::string out;
    std::vector<std::string> err;  // texts stderr must hold
    bool copy_removed = true;      // no staged copy is left in the work folder
  };
  const std::string missing = "/nonexistent/finprep-e2e.bak";
  const std::vector<Case> cases = {
    {"missing backup", {}, missing, 1, "0\n", {"[log 3] 数据预处理出现异常！", missing}},
    {"set the chooser does not list",
     {"--edition", "local", "--set", "4"},
     kSamples + "/sample.bak",
     1,
     "0\n",
     {"[错误] 数据预处理出现异常！--set 4: ", "the chooser lists 1, 2, 3"}},
#if FINPREP_HAVE_ODBC
    {"server that cannot be reached",
     {"--server", "Provider=SQLOLEDB.1;Driver=NoSuchDriver;Initial Catalog=master"},
     kSamples + "/sample-one.bak",
     1,
     "0\n",
     {"[log 3] 数据预处理出现异常！", "NoSuchDriver"},
     false},  // the connection failure leaves the step before its clean-up
#endif
    {"--server in the local-server edition",
     {"--edition", "local", "--server", "Provider=SQLOLEDB.1;Data Source=x"},
     kSamples + "/sample.bak",
     2,
     "",
     {"--server works with --edition host only"}},
    {"unknown edition", {"--edition", "remote"}, kSamples + "/sample.bak", 2, "", {"--edition"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::vector<std::string> args = {c.backup, "--base", dir.path()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome run = Finprep(dir, args);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_EQ(run.out, c.out);
    for (const std::string& text : c.err)
      EXPECT_NE(run.err.find(text), std::string::npos) << text << "\n" << run.err;
    if (c.copy_removed) {
      EXPECT_FALSE(fs::exists(dir.work() + "xy.temp"));
      EXPECT_FALSE(fs::exists(dir.work() + "vorira8x.temp"));
    }
  }
}

}  // namespace
