#include "DealWithBackup/Statements.h"

#include "platform/text.h"

namespace finprep {

bool IsPlainNamePart(const std::string& text) {
  const std::optional<std::u32string> decoded = DecodeUtf8(text);
  if (!decoded) return false;
  for (char32_t c : *decoded) {
    const bool allowed = IsUnicodeLetterOrMark(c) || IsUnicodeDecimalDigit(c) || c == U'_' ||
                         c == U'@' || c == U'#' || c == U'$';
    if (!allowed) return false;
  }
  return true;
}

std::string KmViewStatement(const std::string& suffix) {
  return "create View km as SELECT account.accName,account.AccCode FROM  t_Account" + suffix +
         " Account";
}

std::string BalViewStatement(const std::string& suffix) {
  return "create View BAL as SELECT ye.DebMoney, ye.CreMoney,account.AccCode FROM t_Balance" +
         suffix + " ye INNER JOIN  t_Account" + suffix +
         " Account  ON ye.AccID = Account.AccID where ye.period=0";
}

std::string PzViewStatement(Edition edition, const std::string& suffix) {
  std::string sql =
      "create View  pz as SELECT t_Account.AccName, t_Account.AccCode,t_Voucher.UnitID, "
      "t_Voucher.VouNumID,t_VouNum.VouNumName, t_VouNum.VouFormat,t_Voucher.Period, "
      "t_Voucher.FillDate, t_Voucher.accNO,t_Voucher.AcceNum, t_Voucher.FillerID,"
      "t_Voucher.CheckerID, t_Voucher.AccDate,t_Voucher.AccerID, t_VouDetail.Abstract, CASE WHEN "
      "t_Item.ItemCode IS NULL THEN t_VouDetail.DebMoney ELSE t_VouItemDetail.DebMoney END "
      "DebitMoney,CASE WHEN t_Item.ItemCode IS NULL  THEN t_VouDetail.CreMoney ELSE "
      "t_VouItemDetail.CreMoney END CreditMoney,ltrim(str(t_ItemType.ItemTypeID))+'-'+"
      "ltrim(str(t_Item.ItemCode)) as xmdm ,t_ItemType.ItemTypeName+'-'+t_Item.ItemName as xmmc ";
  if (edition == Edition::HostInstance) sql += ",t_VouDetail.VouDetailID  ";
  sql += "FROM t_Item";
  sql += suffix;
  sql += " t_Item INNER JOIN ";
  sql += "t_VouItemDetail";
  sql += suffix;
  sql += " t_VouItemDetail ON ";
  sql += "t_Item.ItemID = t_VouItemDetail.ItemID INNER JOIN ";
  sql += "t_ItemType";
  sql += suffix;
  sql += " t_ItemType ON ";
  sql += "t_Item.ItemTypeID = t_ItemType.ItemTypeID RIGHT OUTER JOIN ";
  sql += "t_Account";
  sql += suffix;
  sql += " t_Account INNER JOIN ";
  sql += " t_VouDetail";
  sql += suffix;
  sql += "  t_VouDetail ON ";
  sql += "t_Account.AccID = t_VouDetail.AccID INNER JOIN  ";
  sql += "t_Voucher";
  sql += suffix;
  sql += " t_Voucher  ON t_VouDetail.VouID = t_Voucher.VouID INNER JOIN ";
  sql += "t_VouNum";
  sql += suffix;
  sql += " t_VouNum ON  t_Voucher.VouNumID = t_VouNum.VouNumID ON  ";
  sql += "t_VouItemDetail.VouDetailID = t_VouDetail.VouDetailID where t_Voucher.Isdel=0";
  return sql;
}

std::string ItemTypeQuery(const std::string& suffix) {
  return "select * from  t_ItemType" + suffix + " where ItemTypeID<>'' and ItemTypeID is not null";
}

std::string AidInfoStatement(const std::string& suffix) {
  return "SELECT itemtype.ItemTypeName AS AidType,LTRIM(RTRIM( item.ItemCode)) AS AidCode,"
         "item.ItemName AS Aidname,  '' AS AidDec, 'AidType'+LTRIM(RTRIM( item.ItemTypeID)) AS "
         "AidVouSourceFiledName,  'AidType'+LTRIM(RTRIM( item.ItemTypeID)) AS "
         "AidBalSourceFiledName,item.ItemID,itemtype.ItemTypeID into aidInfo FROM   t_Item" +
         suffix + " as item LEFT OUTER JOIN t_ItemType" + suffix +
         " itemtype ON  item.ItemTypeID =  itemtype.ItemTypeID";
}

std::string AidColumnName(const std::string& type_id) { return "AidType" + type_id; }

namespace {

const char* AidTableName(AidTable table) {
  return table == AidTable::ItemBalance ? "t_ItemBalance" : "t_VouItemDetail";
}

}  // namespace

std::string AddAidColumnStatement(AidTable table, const std::string& suffix,
                                  const std::string& column) {
  return std::string("ALTER TABLE ") + AidTableName(table) + suffix + " ADD " + column +
         " varchar(254)";
}

std::string UpdateAidColumnStatement(AidTable table, const std::string& suffix,
                                     const std::string& column, const std::string& type_id) {
  const std::string name = AidTableName(table);
  return "update " + name + suffix + " set " + name + suffix + "." + column + "=aidInfo.AidCode" +
         " from " + name + suffix + ",aidInfo where aidInfo.ItemTypeID=" + type_id + " and " +
         name + suffix + ".ItemID=aidInfo.ItemID";
}

std::string AidFilterText(const std::vector<std::string>& type_ids) {
  std::string filter;
  for (std::size_t i = 0; i < type_ids.size(); ++i) {
    filter += " ";
    filter += AidColumnName(type_ids[i]);
    filter += i + 1 == type_ids.size() ? " <>''" : " <>'' or ";
  }
  return filter;
}

std::string AidBalStatement(const std::string& suffix, const std::string& filter) {
  return "select * into aidBal from  (SELECT Account.AccCode,  ItemBalance.*  FROM  t_ItemBalance" +
         suffix + " as ItemBalance LEFT OUTER JOIN t_Account" + suffix +
         " as Account ON  ItemBalance.AccID =  Account.AccID " +
         " WHERE  ItemBalance.Period = 0 and (" + filter + "))  as  temp";
}

std::string AidVourStatement(const std::string& suffix, const std::string& filter) {
  return "select * into aidVour from  (SELECT DISTINCT  VouItemDetail.*,pz.AccCode  FROM "
         "t_VouItemDetail" +
         suffix + " AS VouItemDetail LEFT OUTER JOIN  " +
         " pz ON VouItemDetail.VouDetailID =  pz.VouDetailID " + " where (" + filter + ")) as temp";
}

std::string HeaderOnlyStatement(const std::string& backup_path) {
  return "RESTORE HEADERONLY From Disk='" + DoubleQuotes(backup_path) + "'";
}

std::string FileListOnlyStatement(const std::string& backup_path, std::int32_t position) {
  std::string sql = "Restore FileListOnly From Disk='" + DoubleQuotes(backup_path) + "'";
  if (position != 0) sql += " WITH FILE=" + std::to_string(position);
  return sql;
}

const char* const kVoriraLookupStatement = "select * from sysdatabases WHERE name='VORIRA'";
const char* const kVoriraOfflineStatement =
    " ALTER DATABASE VORIRA SET OFFLINE WITH ROLLBACK IMMEDIATE";
const char* const kVoriraDropStatement = "drop DATABASE VORIRA";

namespace {

std::string MoveClause(const std::string& logical_name, const std::string& target) {
  return "'" + DoubleQuotes(logical_name) + "'" + " TO " + "'" + DoubleQuotes(target) + "'";
}

}  // namespace

std::string RestoreStatement(const std::string& backup_path, std::int32_t position,
                             const std::string& work_dir, const std::vector<BackupFileRow>& files) {
  // A listing of one row names that row for both files; an empty one gives empty names, which the
  // server rejects.
  const std::string data_name = files.empty() ? std::string() : files[0].logical_name;
  const std::string log_name = files.size() < 2 ? data_name : files[1].logical_name;

  std::string sql = "restore database vorira from Disk='" + DoubleQuotes(backup_path) + "'";
  sql += " WITH ";
  if (position != 0) sql += "file=" + std::to_string(position) + ",";
  sql += " RECOVERY,";
  sql += " MOVE ";
  sql += MoveClause(data_name, work_dir + "vorira.mdf");
  sql += ",MOVE ";
  sql += MoveClause(log_name, work_dir + "vorira.ldf");
  // Further files must not land on the paths they had on the source server.
  for (std::size_t i = 2; i < files.size(); ++i) {
    const bool log = AsciiLower(Trim(files[i].type)) == "l";
    const std::string target =
        work_dir + "vorira_" + std::to_string(i + 1) + (log ? ".ldf" : ".ndf");
    sql += ",MOVE ";
    sql += MoveClause(files[i].logical_name, target);
  }
  sql += ", REPLACE ";
  return sql;
}

const char* const kLocalMasterConnectionString =
    "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=true;Initial "
    "Catalog=Master;Data Source=(local)";
const char* const kLocalViewsConnectionString =
    "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=true;Initial "
    "Catalog=vorira;Data Source=(local)";
const char* const kLocalResultConnectionString =
    "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=true;Initial "
    "Catalog=VORIRA;Data Source=(local)";

std::string VoriraConnectionString(const std::string& server_connection_string) {
  return ReplaceFirstIgnoreCase(server_connection_string, "master", "vorira");
}

}  // namespace finprep
