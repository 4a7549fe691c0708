// The statements and connection strings of a run, byte for byte, and the table-suffix rule.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DealWithBackup/Statements.h"

namespace finprep {
namespace {

TEST(Statements, ViewsAndItemTablesForBothEditionsAndSuffixes) {
  const std::string kNone;
  const std::string kSuffix = "_甲1";
  const std::string kFilter = " AidType3 <>''";
  struct Case {
    std::string actual;
    std::string expected;
  } cases[] = {
      {KmViewStatement(kNone),
       "create View km as SELECT account.accName,account.AccCode FROM  t_Account Account"},
      {BalViewStatement(kNone),
       "create View BAL as SELECT ye.DebMoney, ye.CreMoney,account.AccCode FROM "
       "t_Balance ye INNER JOIN  t_Account Account  ON ye.AccID = Account.AccID where "
       "ye.period=0"},
      {PzViewStatement(Edition::HostInstance, kNone),
       "create View  pz as SELECT t_Account.AccName, "
       "t_Account.AccCode,t_Voucher.UnitID, t_Voucher.VouNumID,t_VouNum.VouNumName, "
       "t_VouNum.VouFormat,t_Voucher.Period, t_Voucher.FillDate, "
       "t_Voucher.accNO,t_Voucher.AcceNum, t_Voucher.FillerID,t_Voucher.CheckerID, "
       "t_Voucher.AccDate,t_Voucher.AccerID, t_VouDetail.Abstract, CASE WHEN "
       "t_Item.ItemCode IS NULL THEN t_VouDetail.DebMoney ELSE t_VouItemDetail.DebMoney "
       "END DebitMoney,CASE WHEN t_Item.ItemCode IS NULL  THEN t_VouDetail.CreMoney "
       "ELSE t_VouItemDetail.CreMoney END "
       "CreditMoney,ltrim(str(t_ItemType.ItemTypeID))+'-'+ltrim(str(t_Item.ItemCode)) "
       "as xmdm ,t_ItemType.ItemTypeName+'-'+t_Item.ItemName as xmmc "
       ",t_VouDetail.VouDetailID  FROM t_Item t_Item INNER JOIN t_VouItemDetail "
       "t_VouItemDetail ON t_Item.ItemID = t_VouItemDetail.ItemID INNER JOIN t_ItemType "
       "t_ItemType ON t_Item.ItemTypeID = t_ItemType.ItemTypeID RIGHT OUTER JOIN "
       "t_Account t_Account INNER JOIN  t_VouDetail  t_VouDetail ON t_Account.AccID = "
       "t_VouDetail.AccID INNER JOIN  t_Voucher t_Voucher  ON t_VouDetail.VouID = "
       "t_Voucher.VouID INNER JOIN t_VouNum t_VouNum ON  t_Voucher.VouNumID = "
       "t_VouNum.VouNumID ON  t_VouItemDetail.VouDetailID = t_VouDetail.VouDetailID "
       "where t_Voucher.Isdel=0"},
      {PzViewStatement(Edition::LocalServer, kNone),
       "create View  pz as SELECT t_Account.AccName, "
       "t_Account.AccCode,t_Voucher.UnitID, t_Voucher.VouNumID,t_VouNum.VouNumName, "
       "t_VouNum.VouFormat,t_Voucher.Period, t_Voucher.FillDate, "
       "t_Voucher.accNO,t_Voucher.AcceNum, t_Voucher.FillerID,t_Voucher.CheckerID, "
       "t_Voucher.AccDate,t_Voucher.AccerID, t_VouDetail.Abstract, CASE WHEN "
       "t_Item.ItemCode IS NULL THEN t_VouDetail.DebMoney ELSE t_VouItemDetail.DebMoney "
       "END DebitMoney,CASE WHEN t_Item.ItemCode IS NULL  THEN t_VouDetail.CreMoney "
       "ELSE t_VouItemDetail.CreMoney END "
       "CreditMoney,ltrim(str(t_ItemType.ItemTypeID))+'-'+ltrim(str(t_Item.ItemCode)) "
       "as xmdm ,t_ItemType.ItemTypeName+'-'+t_Item.ItemName as xmmc FROM t_Item t_Item "
       "INNER JOIN t_VouItemDetail t_VouItemDetail ON t_Item.ItemID = "
       "t_VouItemDetail.ItemID INNER JOIN t_ItemType t_ItemType ON t_Item.ItemTypeID = "
       "t_ItemType.ItemTypeID RIGHT OUTER JOIN t_Account t_Account INNER JOIN  "
       "t_VouDetail  t_VouDetail ON t_Account.AccID = t_VouDetail.AccID INNER JOIN  "
       "t_Voucher t_Voucher  ON t_VouDetail.VouID = t_Voucher.VouID INNER JOIN t_VouNum "
       "t_VouNum ON  t_Voucher.VouNumID = t_VouNum.VouNumID ON  "
       "t_VouItemDetail.VouDetailID = t_VouDetail.VouDetailID where t_Voucher.Isdel=0"},
      {ItemTypeQuery(kNone),
       "select * from  t_ItemType where ItemTypeID<>'' and ItemTypeID is not null"},
      {AidInfoStatement(kNone),
       "SELECT itemtype.ItemTypeName AS AidType,LTRIM(RTRIM( item.ItemCode)) AS "
       "AidCode,item.ItemName AS Aidname,  '' AS AidDec, 'AidType'+LTRIM(RTRIM( "
       "item.ItemTypeID)) AS AidVouSourceFiledName,  'AidType'+LTRIM(RTRIM( "
       "item.ItemTypeID)) AS AidBalSourceFiledName,item.ItemID,itemtype.ItemTypeID into "
       "aidInfo FROM   t_Item as item LEFT OUTER JOIN t_ItemType itemtype ON  "
       "item.ItemTypeID =  itemtype.ItemTypeID"},
      {AidBalStatement(kNone, kFilter),
       "select * into aidBal from  (SELECT Account.AccCode,  ItemBalance.*  FROM  "
       "t_ItemBalance as ItemBalance LEFT OUTER JOIN t_Account as Account ON  "
       "ItemBalance.AccID =  Account.AccID  WHERE  ItemBalance.Period = 0 and ( "
       "AidType3 <>''))  as  temp"},
      {AidVourStatement(kNone, kFilter),
       "select * into aidVour from  (SELECT DISTINCT  VouItemDetail.*,pz.AccCode  FROM "
       "t_VouItemDetail AS VouItemDetail LEFT OUTER JOIN   pz ON "
       "VouItemDetail.VouDetailID =  pz.VouDetailID  where ( AidType3 <>'')) as temp"},
      {AddAidColumnStatement(AidTable::ItemBalance, kNone, "AidType3"),
       "ALTER TABLE t_ItemBalance ADD AidType3 varchar(254)"},
      {AddAidColumnStatement(AidTable::VouItemDetail, kNone, "AidType3"),
       "ALTER TABLE t_VouItemDetail ADD AidType3 varchar(254)"},
      {UpdateAidColumnStatement(AidTable::ItemBalance, kNone, "AidType3", "3"),
       "update t_ItemBalance set t_ItemBalance.AidType3=aidInfo.AidCode from "
       "t_ItemBalance,aidInfo where aidInfo.ItemTypeID=3 and "
       "t_ItemBalance.ItemID=aidInfo.ItemID"},
      {UpdateAidColumnStatement(AidTable::VouItemDetail, kNone, "AidType3", "3"),
       "update t_VouItemDetail set t_VouItemDetail.AidType3=aidInfo.AidCode from "
       "t_VouItemDetail,aidInfo where aidInfo.ItemTypeID=3 and "
       "t_VouItemDetail.ItemID=aidInfo.ItemID"},
      {KmViewStatement(kSuffix),
       "create View km as SELECT account.accName,account.AccCode FROM  t_Account_甲1 "
       "Account"},
      {BalViewStatement(kSuffix),
       "create View BAL as SELECT ye.DebMoney, ye.CreMoney,account.AccCode FROM "
       "t_Balance_甲1 ye INNER JOIN  t_Account_甲1 Account  ON ye.AccID = Account.AccID "
       "where ye.period=0"},
      {PzViewStatement(Edition::HostInstance, kSuffix),
       "create View  pz as SELECT t_Account.AccName, "
       "t_Account.AccCode,t_Voucher.UnitID, t_Voucher.VouNumID,t_VouNum.VouNumName, "
       "t_VouNum.VouFormat,t_Voucher.Period, t_Voucher.FillDate, "
       "t_Voucher.accNO,t_Voucher.AcceNum, t_Voucher.FillerID,t_Voucher.CheckerID, "
       "t_Voucher.AccDate,t_Voucher.AccerID, t_VouDetail.Abstract, CASE WHEN "
       "t_Item.ItemCode IS NULL THEN t_VouDetail.DebMoney ELSE t_VouItemDetail.DebMoney "
       "END DebitMoney,CASE WHEN t_Item.ItemCode IS NULL  THEN t_VouDetail.CreMoney "
       "ELSE t_VouItemDetail.CreMoney END "
       "CreditMoney,ltrim(str(t_ItemType.ItemTypeID))+'-'+ltrim(str(t_Item.ItemCode)) "
       "as xmdm ,t_ItemType.ItemTypeName+'-'+t_Item.ItemName as xmmc "
       ",t_VouDetail.VouDetailID  FROM t_Item_甲1 t_Item INNER JOIN t_VouItemDetail_甲1 "
       "t_VouItemDetail ON t_Item.ItemID = t_VouItemDetail.ItemID INNER JOIN "
       "t_ItemType_甲1 t_ItemType ON t_Item.ItemTypeID = t_ItemType.ItemTypeID RIGHT "
       "OUTER JOIN t_Account_甲1 t_Account INNER JOIN  t_VouDetail_甲1  t_VouDetail ON "
       "t_Account.AccID = t_VouDetail.AccID INNER JOIN  t_Voucher_甲1 t_Voucher  ON "
       "t_VouDetail.VouID = t_Voucher.VouID INNER JOIN t_VouNum_甲1 t_VouNum ON  "
       "t_Voucher.VouNumID = t_VouNum.VouNumID ON  t_VouItemDetail.VouDetailID = "
       "t_VouDetail.VouDetailID where t_Voucher.Isdel=0"},
      {PzViewStatement(Edition::LocalServer, kSuffix),
       "create View  pz as SELECT t_Account.AccName, "
       "t_Account.AccCode,t_Voucher.UnitID, t_Voucher.VouNumID,t_VouNum.VouNumName, "
       "t_VouNum.VouFormat,t_Voucher.Period, t_Voucher.FillDate, "
       "t_Voucher.accNO,t_Voucher.AcceNum, t_Voucher.FillerID,t_Voucher.CheckerID, "
       "t_Voucher.AccDate,t_Voucher.AccerID, t_VouDetail.Abstract, CASE WHEN "
       "t_Item.ItemCode IS NULL THEN t_VouDetail.DebMoney ELSE t_VouItemDetail.DebMoney "
       "END DebitMoney,CASE WHEN t_Item.ItemCode IS NULL  THEN t_VouDetail.CreMoney "
       "ELSE t_VouItemDetail.CreMoney END "
       "CreditMoney,ltrim(str(t_ItemType.ItemTypeID))+'-'+ltrim(str(t_Item.ItemCode)) "
       "as xmdm ,t_ItemType.ItemTypeName+'-'+t_Item.ItemName as xmmc FROM t_Item_甲1 "
       "t_Item INNER JOIN t_VouItemDetail_甲1 t_VouItemDetail ON t_Item.ItemID = "
       "t_VouItemDetail.ItemID INNER JOIN t_ItemType_甲1 t_ItemType ON t_Item.ItemTypeID "
       "= t_ItemType.ItemTypeID RIGHT OUTER JOIN t_Account_甲1 t_Account INNER JOIN  "
       "t_VouDetail_甲1  t_VouDetail ON t_Account.AccID = t_VouDetail.AccID INNER JOIN  "
       "t_Voucher_甲1 t_Voucher  ON t_VouDetail.VouID = t_Voucher.VouID INNER JOIN "
       "t_VouNum_甲1 t_VouNum ON  t_Voucher.VouNumID = t_VouNum.VouNumID ON  "
       "t_VouItemDetail.VouDetailID = t_VouDetail.VouDetailID where t_Voucher.Isdel=0"},
      {ItemTypeQuery(kSuffix),
       "select * from  t_ItemType_甲1 where ItemTypeID<>'' and ItemTypeID is not null"},
      {AidInfoStatement(kSuffix),
       "SELECT itemtype.ItemTypeName AS AidType,LTRIM(RTRIM( item.ItemCode)) AS "
       "AidCode,item.ItemName AS Aidname,  '' AS AidDec, 'AidType'+LTRIM(RTRIM( "
       "item.ItemTypeID)) AS AidVouSourceFiledName,  'AidType'+LTRIM(RTRIM( "
       "item.ItemTypeID)) AS AidBalSourceFiledName,item.ItemID,itemtype.ItemTypeID into "
       "aidInfo FROM   t_Item_甲1 as item LEFT OUTER JOIN t_ItemType_甲1 itemtype ON  "
       "item.ItemTypeID =  itemtype.ItemTypeID"},
      {AidBalStatement(kSuffix, kFilter),
       "select * into aidBal from  (SELECT Account.AccCode,  ItemBalance.*  FROM  "
       "t_ItemBalance_甲1 as ItemBalance LEFT OUTER JOIN t_Account_甲1 as Account ON  "
       "ItemBalance.AccID =  Account.AccID  WHERE  ItemBalance.Period = 0 and ( "
       "AidType3 <>''))  as  temp"},
      {AidVourStatement(kSuffix, kFilter),
       "select * into aidVour from  (SELECT DISTINCT  VouItemDetail.*,pz.AccCode  FROM "
       "t_VouItemDetail_甲1 AS VouItemDetail LEFT OUTER JOIN   pz ON "
       "VouItemDetail.VouDetailID =  pz.VouDetailID  where ( AidType3 <>'')) as temp"},
      {AddAidColumnStatement(AidTable::ItemBalance, kSuffix, "AidType3"),
       "ALTER TABLE t_ItemBalance_甲1 ADD AidType3 varchar(254)"},
      {AddAidColumnStatement(AidTable::VouItemDetail, kSuffix, "AidType3"),
       "ALTER TABLE t_VouItemDetail_甲1 ADD AidType3 varchar(254)"},
      {UpdateAidColumnStatement(AidTable::ItemBalance, kSuffix, "AidType3", "3"),
       "update t_ItemBalance_甲1 set t_ItemBalance_甲1.AidType3=aidInfo.AidCode from "
       "t_ItemBalance_甲1,aidInfo where aidInfo.ItemTypeID=3 and "
       "t_ItemBalance_甲1.ItemID=aidInfo.ItemID"},
      {UpdateAidColumnStatement(AidTable::VouItemDetail, kSuffix, "AidType3", "3"),
       "update t_VouItemDetail_甲1 set t_VouItemDetail_甲1.AidType3=aidInfo.AidCode from "
       "t_VouItemDetail_甲1,aidInfo where aidInfo.ItemTypeID=3 and "
       "t_VouItemDetail_甲1.ItemID=aidInfo.ItemID"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.actual, c.expected);
}

TEST(Statements, FilterTextJoinsTheTypeColumns) {
  EXPECT_EQ(AidColumnName("3"), "AidType3");
  EXPECT_EQ(AidFilterText({"7"}), " AidType7 <>''");
  EXPECT_EQ(AidFilterText({"1", "2", "5"}), " AidType1 <>'' or  AidType2 <>'' or  AidType5 <>''");
}

TEST(Statements, BackupListingsAndDatabaseStatements) {
  const std::string staged = "D:\\work\\TempLateTemp\\xy.temp";
  EXPECT_EQ(HeaderOnlyStatement(staged),
            "RESTORE HEADERONLY From Disk='D:\\work\\TempLateTemp\\xy.temp'");
  EXPECT_EQ(FileListOnlyStatement(staged, 0),
            "Restore FileListOnly From Disk='D:\\work\\TempLateTemp\\xy.temp'");
  EXPECT_EQ(FileListOnlyStatement(staged, 3),
            "Restore FileListOnly From Disk='D:\\work\\TempLateTemp\\xy.temp' WITH FILE=3");
  EXPECT_STREQ(kVoriraLookupStatement, "select * from sysdatabases WHERE name='VORIRA'");
  EXPECT_STREQ(kVoriraOfflineStatement,
               " ALTER DATABASE VORIRA SET OFFLINE WITH ROLLBACK IMMEDIATE");
  EXPECT_STREQ(kVoriraDropStatement, "drop DATABASE VORIRA");
}

TEST(Statements, RestoreByPositionAndFileCount) {
  const std::string work = "D:\\work\\TempLateTemp\\";
  const std::string staged = work + "xy.temp";
  const BackupFileRow data{"books_Data", "D"};
  const BackupFileRow log{"books_Log", "L"};
  struct Case {
    std::int32_t position;
    std::vector<BackupFileRow> files;
    std::string expected;
  } cases[] = {
      {0,
       {data, log},
       "restore database vorira from Disk='D:\\work\\TempLateTemp\\xy.temp' WITH  RECOVERY, MOVE "
       "'books_Data' TO 'D:\\work\\TempLateTemp\\vorira.mdf',MOVE 'books_Log' TO "
       "'D:\\work\\TempLateTemp\\vorira.ldf', REPLACE "},
      {3,
       {data, log},
       "restore database vorira from Disk='D:\\work\\TempLateTemp\\xy.temp' WITH file=3, "
       "RECOVERY, MOVE 'books_Data' TO 'D:\\work\\TempLateTemp\\vorira.mdf',MOVE 'books_Log' TO "
       "'D:\\work\\TempLateTemp\\vorira.ldf', REPLACE "},
      // One row: the same logical name in both MOVE clauses.
      {0,
       {data},
       "restore database vorira from Disk='D:\\work\\TempLateTemp\\xy.temp' WITH  RECOVERY, MOVE "
       "'books_Data' TO 'D:\\work\\TempLateTemp\\vorira.mdf',MOVE 'books_Data' TO "
       "'D:\\work\\TempLateTemp\\vorira.ldf', REPLACE "},
      // Further rows are moved into the work folder too, by their 1-based row number and type.
      {3,
       {data, log, {"books_Idx", "F"}},
       "restore database vorira from Disk='D:\\work\\TempLateTemp\\xy.temp' WITH file=3, "
       "RECOVERY, MOVE 'books_Data' TO 'D:\\work\\TempLateTemp\\vorira.mdf',MOVE 'books_Log' TO "
       "'D:\\work\\TempLateTemp\\vorira.ldf',MOVE 'books_Idx' TO "
       "'D:\\work\\TempLateTemp\\vorira_3.ndf', REPLACE "},
      {0,
       {data, log, {"books_Fs", "S"}, {"books_Log2", "L "}},
       "restore database vorira from Disk='D:\\work\\TempLateTemp\\xy.temp' WITH  RECOVERY, MOVE "
       "'books_Data' TO 'D:\\work\\TempLateTemp\\vorira.mdf',MOVE 'books_Log' TO "
       "'D:\\work\\TempLateTemp\\vorira.ldf',MOVE 'books_Fs' TO "
       "'D:\\work\\TempLateTemp\\vorira_3.ndf',MOVE 'books_Log2' TO "
       "'D:\\work\\TempLateTemp\\vorira_4.ldf', REPLACE "},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RestoreStatement(staged, c.position, work, c.files), c.expected);
}

TEST(Statements, SingleQuotesAreDoubledWhereverAStatementQuotesThem) {
  const std::string work = "D:\\O'Brien\\TempLateTemp\\";
  const std::string staged = work + "xy.temp";
  EXPECT_EQ(HeaderOnlyStatement(staged),
            "RESTORE HEADERONLY From Disk='D:\\O''Brien\\TempLateTemp\\xy.temp'");
  EXPECT_EQ(FileListOnlyStatement(staged, 2),
            "Restore FileListOnly From Disk='D:\\O''Brien\\TempLateTemp\\xy.temp' WITH FILE=2");
  EXPECT_EQ(RestoreStatement(staged, 0, work, {{"O'Data", "D"}, {"O'Log", "L"}, {"x'", "L"}}),
            "restore database vorira from Disk='D:\\O''Brien\\TempLateTemp\\xy.temp' WITH  "
            "RECOVERY, MOVE 'O''Data' TO 'D:\\O''Brien\\TempLateTemp\\vorira.mdf',MOVE 'O''Log' "
            "TO 'D:\\O''Brien\\TempLateTemp\\vorira.ldf',MOVE 'x''' TO "
            "'D:\\O''Brien\\TempLateTemp\\vorira_3.ldf', REPLACE ");
}

TEST(Statements, ConnectionStrings) {
  EXPECT_STREQ(kLocalMasterConnectionString,
               "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
               "Info=true;Initial Catalog=Master;Data Source=(local)");
  EXPECT_STREQ(kLocalViewsConnectionString,
               "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
               "Info=true;Initial Catalog=vorira;Data Source=(local)");
  EXPECT_STREQ(kLocalResultConnectionString,
               "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
               "Info=true;Initial Catalog=VORIRA;Data Source=(local)");
}

TEST(Statements, TableSuffixRule) {
  const char* valid[] = {"", "_2023", "abc", "中文账套", "Société", "e\u0301", "٣", "a@#$_1"};
  const char* invalid[] = {" ",   "a b", "\t", "x\n", "\u3000", "\u00a0",   "a;drop",   "'",
                           "a-b", "a.b", "，", "[x]", "\xff",   "\xe4\xb8", "x\xc0\xaf"};
  for (const char* s : valid)
    EXPECT_TRUE(IsPlainNamePart(s)) << s;
  for (const char* s : invalid)
    EXPECT_FALSE(IsPlainNamePart(s)) << s;
}

}  // namespace
}  // namespace finprep
