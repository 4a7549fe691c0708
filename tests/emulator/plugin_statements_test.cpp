// The plug-in's own statements, byte for byte, on the sample backups through the in-process
// driver and the component layer, with the rows worked out by hand from emulator/samples.
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "emu/driver.h"
#include "emu_test_util.h"
#include "platform/database.h"
#include "platform/errors.h"

namespace fs = std::filesystem;

namespace finprep::emu {
namespace {

using testing::Rows;
using testing::TempDir;

const std::string kSamples = FINPREP_SAMPLE_DIR;

// The statement runners: a failure is recorded, the run goes on.
struct Runner {
  finprep::Connection& connection;
  finprep::Query& query;
  finprep::Command& command;
  std::vector<std::string> failures;

  bool OpenQuery(const std::string& sql) {
    query.Close();
    query.SetSQL(sql);
    try {
      query.Open();
      return true;
    } catch (const ProviderError& e) {
      failures.push_back(sql + " -> " + e.what());
      return false;
    }
  }
  bool ExecCommand(const std::string& sql) {
    command.SetCommandText(sql);
    try {
      command.Execute();
      return true;
    } catch (const ProviderError& e) {
      failures.push_back(sql + " -> " + e.what());
      return false;
    }
  }
};

struct PluginRun {
  std::string backup;  // copied to the work folder as the staged file
  int position = 0;    // the set the user ticks (0: none)
  std::string suffix;
  bool host_edition = true;
};

// One run of the restore and preparation steps, as the plug-in sends them.
std::vector<std::string> RunPlugin(Server& server, const std::string& work, const PluginRun& run) {
  EmulatorDriver driver(server);
  finprep::Connection connection(driver);
  finprep::Query query(connection, "FADOQuery");
  finprep::Command command(connection);
  Runner r{connection, query, command, {}};
  const std::string staged = work + "xy.temp";
  fs::copy_file(run.backup, staged, fs::copy_options::overwrite_existing);
  const std::string& S = run.suffix;

  connection.SetConnectionString(
      run.host_edition ? "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Initial "
                         "Catalog=master;Data Source=(local)"
                       : "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
                         "Info=true;Initial Catalog=Master;Data Source=(local)");
  r.OpenQuery("RESTORE HEADERONLY From Disk='" + staged + "'");
  int position = query.RecordCount() > 1 ? run.position : 0;
  query.Close();
  r.OpenQuery("select * from sysdatabases WHERE name='VORIRA'");
  if (!query.IsEmpty()) {
    r.ExecCommand(" ALTER DATABASE VORIRA SET OFFLINE WITH ROLLBACK IMMEDIATE");
    r.ExecCommand("drop DATABASE VORIRA");
  }
  r.OpenQuery("Restore FileListOnly From Disk='" + staged + "'");
  std::string data = query.FieldAsString("Logicalname");
  query.Next();
  std::string log = query.FieldAsString("Logicalname");
  query.Close();
  std::string restore = "restore database vorira from Disk='" + staged + "' WITH " +
                        (position ? "file=" + std::to_string(position) + "," : "") +
                        " RECOVERY, MOVE '" + data + "' TO '" + work + "vorira.mdf',MOVE '" + log +
                        "' TO '" + work + "vorira.ldf', REPLACE ";
  command.SetCommandText(restore);
  try {
    command.Execute();
  } catch (const ProviderError& e) {
    r.failures.push_back(restore + " -> " + e.what());
  }
  connection.Close();
  fs::remove(staged);

  connection.SetConnectionString(
      run.host_edition ? "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Initial "
                         "Catalog=vorira;Data Source=(local)"
                       : "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
                         "Info=true;Initial Catalog=vorira;Data Source=(local)");
  connection.Open();
  r.ExecCommand("create View km as SELECT account.accName,account.AccCode FROM  t_Account" + S +
                " Account");
  r.ExecCommand(
      "create View BAL as SELECT ye.DebMoney, ye.CreMoney,account.AccCode FROM t_Balance" + S +
      " ye INNER JOIN  t_Account" + S + " Account  ON ye.AccID = Account.AccID where ye.period=0");
  std::string head =
      "create View  pz as SELECT t_Account.AccName, t_Account.AccCode,t_Voucher.UnitID, "
      "t_Voucher.VouNumID,t_VouNum.VouNumName, t_VouNum.VouFormat,t_Voucher.Period, "
      "t_Voucher.FillDate, t_Voucher.accNO,t_Voucher.AcceNum, t_Voucher.FillerID,t_Voucher.CheckerID, "
      "t_Voucher.AccDate,t_Voucher.AccerID, t_VouDetail.Abstract, CASE WHEN t_Item.ItemCode IS "
      "NULL THEN t_VouDetail.DebMoney ELSE t_VouItemDetail.DebMoney END DebitMoney,CASE WHEN "
      "t_Item.ItemCode IS NULL  THEN t_VouDetail.CreMoney ELSE t_VouItemDetail.CreMoney END "
      "CreditMoney,ltrim(str(t_ItemType.ItemTypeID))+'-'+ltrim(str(t_Item.ItemCode)) as xmdm "
      ",t_ItemType.ItemTypeName+'-'+t_Item.ItemName as xmmc " +
      std::string(run.host_edition ? ",t_VouDetail.VouDetailID  " : "") + "FROM t_Item";
  r.ExecCommand(head + S + " t_Item INNER JOIN " + "t_VouItemDetail" + S + " t_VouItemDetail ON " +
                "t_Item.ItemID = t_VouItemDetail.ItemID INNER JOIN " + "t_ItemType" + S +
                " t_ItemType ON " + "t_Item.ItemTypeID = t_ItemType.ItemTypeID RIGHT OUTER JOIN " +
                "t_Account" + S + " t_Account INNER JOIN " + " t_VouDetail" + S +
                "  t_VouDetail ON " + "t_Account.AccID = t_VouDetail.AccID INNER JOIN  " +
                "t_Voucher" + S + " t_Voucher  ON t_VouDetail.VouID = t_Voucher.VouID INNER JOIN " +
                "t_VouNum" + S + " t_VouNum ON  t_Voucher.VouNumID = t_VouNum.VouNumID ON  " +
                "t_VouItemDetail.VouDetailID = t_VouDetail.VouDetailID where t_Voucher.Isdel=0");
  if (run.host_edition) {
    std::vector<std::string> types;
    if (r.OpenQuery("select * from  t_ItemType" + S +
                    " where ItemTypeID<>'' and ItemTypeID is not null") &&
        !query.IsEmpty()) {
      for (query.First(); !query.Eof(); query.Next())
        types.push_back(query.FieldAsString("ItemTypeID"));
    }
    query.Close();
    if (!types.empty()) {
      r.ExecCommand(
          "SELECT itemtype.ItemTypeName AS AidType,LTRIM(RTRIM( item.ItemCode)) AS "
          "AidCode,item.ItemName AS Aidname,  '' AS AidDec, 'AidType'+LTRIM(RTRIM( "
          "item.ItemTypeID)) AS AidVouSourceFiledName,  'AidType'+LTRIM(RTRIM( item.ItemTypeID)) "
          "AS AidBalSourceFiledName,item.ItemID,itemtype.ItemTypeID into aidInfo FROM   t_Item" +
          S + " as item LEFT OUTER JOIN t_ItemType" + S +
          " itemtype ON  item.ItemTypeID =  itemtype.ItemTypeID");
      std::string filter;
      auto pass = [&](const std::string& table, bool extend) {
        for (std::size_t i = 0; i < types.size(); ++i) {
          std::string col = "AidType" + types[i];
          r.ExecCommand("ALTER TABLE " + table + S + " ADD " + col + " varchar(254)");
          r.ExecCommand("update " + table + S + " set " + table + S + "." + col +
                        "=aidInfo.AidCode" + " from " + table + S +
                        ",aidInfo where aidInfo.ItemTypeID=" + types[i] + " and " + table + S +
                        ".ItemID=aidInfo.ItemID");
          if (extend) filter += " " + col + (i + 1 == types.size() ? " <>''" : " <>'' or ");
        }
      };
      pass("t_ItemBalance", true);
      r.ExecCommand(
          "select * into aidBal from  (SELECT Account.AccCode,  ItemBalance.*  FROM  "
          "t_ItemBalance" +
          S + " as ItemBalance LEFT OUTER JOIN t_Account" + S +
          " as Account ON  ItemBalance.AccID =  Account.AccID " +
          " WHERE  ItemBalance.Period = 0 and (" + filter + "))  as  temp");
      pass("t_VouItemDetail", false);
      r.ExecCommand(
          "select * into aidVour from  (SELECT DISTINCT  VouItemDetail.*,pz.AccCode  "
          "FROM t_VouItemDetail" +
          S + " AS VouItemDetail LEFT OUTER JOIN  " +
          " pz ON VouItemDetail.VouDetailID =  pz.VouDetailID " + " where (" + filter +
          ")) as temp");
    }
  }
  connection.Close();
  return r.failures;
}

// Every row of a query on VORIRA, sorted, values as text.
Rows Read(Server& server, const std::string& sql, bool sort = true) {
  auto s = server.Connect("vorira");
  Rows rows = testing::Query(*s, sql);
  if (sort) std::sort(rows.begin(), rows.end());
  return rows;
}

Rows Sorted(Rows rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

class PluginStatements : public ::testing::TestWithParam<PluginRun> {
 protected:
  TempDir dir;
};

TEST_P(PluginStatements, BuildTheViewsAndItemTablesOfTheSample) {
  const PluginRun& run = GetParam();
  Server server(dir / "data");
  std::string work = dir / "TempLateTemp/";
  fs::create_directories(work);
  EXPECT_EQ(RunPlugin(server, work, run), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(work + "vorira.mdf"));
  EXPECT_TRUE(fs::exists(work + "vorira.ldf"));
  const std::string marker = run.position == 2 ? "9992" : run.suffix.empty() ? "9991" : "9993";

  EXPECT_EQ(Read(server, "select accName, AccCode from km"),
            Sorted({{"主营业务收入", "6001"},
                    {"库存现金", "1001"},
                    {"应付账款", "2202"},
                    {"应收账款", "1122"},
                    {"管理费用", "6602"},
                    {"账套202" + marker.substr(3), marker},
                    {"银行存款", "1002"}}));
  EXPECT_EQ(Read(server, "select * from BAL"), Sorted({{"5000.0000", "0.0000", "1001"},
                                                       {"120000.5000", "0.0000", "1002"},
                                                       {"8000.0000", "0.0000", "1122"},
                                                       {"0.0000", "3000.0000", "2202"}}));
  EXPECT_EQ(Read(server,
                 "select AccName, AccCode, VouNumName, Period, accNO, Abstract, "
                 "DebitMoney, CreditMoney, xmdm, xmmc, FillDate from pz"),
            Sorted({
                {"管理费用", "6602", "记", "1", "1", "报销差旅费", "100.0000", "0.0000", "3-1",
                 "部门-财务部", "2023-01-05 00:00:00.000"},
                {"管理费用", "6602", "记", "1", "1", "报销差旅费", "120.0000", "0.0000", "3-2",
                 "部门-销售部", "2023-01-05 00:00:00.000"},
                {"管理费用", "6602", "记", "1", "1", "报销差旅费", "80.0000", "0.0000", "3-3",
                 "部门-行政部", "2023-01-05 00:00:00.000"},
                {"库存现金", "1001", "记", "1", "1", "报销差旅费", "0.0000", "300.0000", "NULL",
                 "NULL", "2023-01-05 00:00:00.000"},
                {"银行存款", "1002", "收", "1", "2", "收到货款", "5000.0000", "0.0000", "NULL",
                 "NULL", "2023-01-10 00:00:00.000"},
                {"应收账款", "1122", "收", "1", "2", "收到货款", "0.0000", "5000.0000", "1-1001",
                 "客户-华星公司", "2023-01-10 00:00:00.000"},
                {"管理费用", "6602", "记", "2", "1", "项目支出", "200.0000", "0.0000", "NULL",
                 "NULL", "2023-02-03 00:00:00.000"},
                {"银行存款", "1002", "记", "2", "1", "项目支出", "0.0000", "200.0000", "1-0",
                 "客户-空编码客户", "2023-02-03 00:00:00.000"},
            }));
  auto vorira = server.Connect("vorira");
  BatchResult pz = testing::Ok(*vorira, "select * from pz");
  ASSERT_NE(pz.FirstResultSet(), nullptr);
  EXPECT_EQ(pz.FirstResultSet()->columns.size(), run.host_edition ? 20u : 19u);
  if (!run.host_edition) {
    EXPECT_EQ(testing::Fails(*vorira, "select * from aidInfo").number, 208);
    return;
  }

  EXPECT_EQ(Read(server, "select * from aidInfo"),
            Sorted({{"部门", "01", "财务部", "", "AidType3", "AidType3", "1", "3"},
                    {"部门", "02", "销售部", "", "AidType3", "AidType3", "2", "3"},
                    {"部门", "03", "行政部", "", "AidType3", "AidType3", "3", "3"},
                    {"客户", "1001", "华星公司", "", "AidType1", "AidType1", "4", "1"},
                    {"职员", "2001", "张三", "", "AidType2", "AidType2", "5", "2"},
                    {"NULL", "4001", "无类型项目", "", "AidType4", "AidType4", "6", "NULL"},
                    {"客户", "", "空编码客户", "", "AidType1", "AidType1", "7", "1"},
                    {"职员", "2002", "李四", "", "AidType2", "AidType2", "8", "2"}}));
  // The type columns, in the order the type query returned the types, in both tables.
  BatchResult cols = testing::Ok(*vorira, "select * from aidBal");
  EXPECT_EQ(testing::ColumnNames(*cols.FirstResultSet()),
            (std::vector<std::string>{"AccCode", "ItemID", "AccID", "Period", "DebMoney",
                                      "CreMoney", "AidType3", "AidType1", "AidType2", "AidType5"}));
  EXPECT_EQ(Read(server, "select * from aidBal"),
            Sorted({{"1122", "4", "3", "0", "8000.0000", "0.0000", "NULL", "1001", "NULL", "NULL"},
                    {"1122", "8", "3", "0", "200.0000", "0.0000", "NULL", "NULL", "2002", "NULL"},
                    {"NULL", "2", "99", "0", "70.0000", "0.0000", "02", "NULL", "NULL", "NULL"}}));
  EXPECT_EQ(Read(server, "select * from aidVour"),
            Sorted({{"101", "1", "100.0000", "0.0000", "01", "NULL", "NULL", "NULL", "6602"},
                    {"101", "2", "120.0000", "0.0000", "02", "NULL", "NULL", "NULL", "6602"},
                    {"101", "3", "80.0000", "0.0000", "03", "NULL", "NULL", "NULL", "6602"},
                    {"202", "4", "0.0000", "5000.0000", "NULL", "1001", "NULL", "NULL", "1122"},
                    {"301", "4", "100.0000", "0.0000", "NULL", "1001", "NULL", "NULL", "NULL"},
                    {"401", "5", "50.0000", "0.0000", "NULL", "NULL", "2001", "NULL", "NULL"}}));
  // The codes also stand in the package tables themselves (here the item with an empty code).
  EXPECT_EQ(
      Read(server, "select ItemID, AidType3, AidType1, AidType2, AidType5 from t_VouItemDetail" +
                       run.suffix + " where VouDetailID = 502"),
      (Rows{{"7", "NULL", "", "NULL", "NULL"}}));
}

INSTANTIATE_TEST_SUITE_P(Sample, PluginStatements,
                         ::testing::Values(PluginRun{kSamples + "/sample.bak", 2, "", true},
                                           PluginRun{kSamples + "/sample-one.bak", 0, "", true},
                                           PluginRun{kSamples + "/sample_2023.bak", 0, "_2023",
                                                     true},
                                           PluginRun{kSamples + "/sample.bak", 0, "", false}),
                         [](const ::testing::TestParamInfo<PluginRun>& param) {
                           return std::string(param.param.host_edition ? "Host" : "Local") +
                                  (param.param.suffix.empty() ? "" : "Suffixed") + "Set" +
                                  std::to_string(param.param.position) +
                                  (param.param.backup.find("one") != std::string::npos ? "OfOne"
                                                                                       : "");
                         });

TEST(PluginStatementsAgain, ASecondRunReplacesVoriraAndASecondKmFails) {
  TempDir dir;
  Server server(dir / "data");
  std::string work = dir / "TempLateTemp/";
  fs::create_directories(work);
  ASSERT_EQ(RunPlugin(server, work, PluginRun{kSamples + "/sample.bak", 3, "", true}),
            std::vector<std::string>{});
  // The second run finds VORIRA, takes it offline, drops it and restores set 1 in its place.
  EXPECT_EQ(RunPlugin(server, work, PluginRun{kSamples + "/sample.bak", 1, "", true}),
            std::vector<std::string>{});
  EXPECT_EQ(Read(server, "select AccCode from km where AccCode like '999%'"), (Rows{{"9991"}}));

  EmulatorDriver driver(server);
  finprep::Connection connection(driver);
  connection.SetConnectionString("Initial Catalog=vorira");
  finprep::Command command(connection);
  command.SetCommandText(
      "create View km as SELECT account.accName,account.AccCode FROM  t_Account Account");
  try {
    command.Execute();
    ADD_FAILURE() << "a second km was created";
  } catch (const ProviderError& e) {
    EXPECT_STREQ(e.what(), "There is already an object named 'km' in the database.");
  }
  finprep::Query query(connection, "FADOQuery");
  query.SetSQL("select * from BAL");
  query.Open();
  EXPECT_EQ(query.RecordCount(), 4);
}

TEST(Driver, ConnectionsAndErrorsThroughTheComponents) {
  TempDir dir;
  Server server(dir / "data");
  EmulatorDriver driver(server);
  finprep::Connection connection(driver);
  connection.SetConnectionString("Provider=SQLOLEDB.1;Initial Catalog=nowhere;Data Source=(local)");
  try {
    connection.Open();
    ADD_FAILURE() << "connected to a database that does not exist";
  } catch (const ProviderError& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot open database \"nowhere\" requested by the login. The login failed.");
  }
  // No catalog in the string: master.
  connection.SetConnectionString("Provider=SQLOLEDB.1;Data Source=(local)");
  finprep::Query query(connection, "FADOQuery");
  query.SetSQL("select name, dbid from sysdatabases WHERE name='MASTER'");
  query.Open();
  EXPECT_EQ(query.FieldAsString("DBID"), "1");
  query.Close();
  query.SetSQL("create database shop");
  EXPECT_THROW(query.Open(), DatabaseError);  // runs, but returns no result set
  query.SetSQL("drop DATABASE VORIRA");
  EXPECT_THROW(query.Open(), ProviderError);

  auto keys = ParseConnectionString(" Provider = X ; Initial Catalog=\"a;b\";Password='p''q'");
  EXPECT_EQ(keys["provider"], "X");
  EXPECT_EQ(keys["initial catalog"], "a;b");
  EXPECT_EQ(keys["password"], "p'q");
}

TEST(Trace, AppendsEveryStatementFollowedByGo) {
  TempDir dir;
  std::string trace = dir / "trace.sql";
  std::ofstream(trace) << "earlier\nGO\n";
  ASSERT_EQ(setenv("FINPREP_TRACE", trace.c_str(), 1), 0);
  {
    Server server(dir / "data");
    auto s = server.Connect("master");
    s->Execute("select * from sysdatabases WHERE name='VORIRA'");
    s->Execute("drop DATABASE VORIRA");  // failing statements are traced too
    s->Execute("restore database vorira from Disk='x' WITH  RECOVERY, REPLACE ");
  }
  unsetenv("FINPREP_TRACE");
  std::ifstream in(trace);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "earlier\nGO\n"
            "select * from sysdatabases WHERE name='VORIRA'\nGO\n"
            "drop DATABASE VORIRA\nGO\n"
            "restore database vorira from Disk='x' WITH  RECOVERY, REPLACE \nGO\n");
}

}  // namespace
}  // namespace finprep::emu
