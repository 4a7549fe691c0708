// The T-SQL front end on a live database: each statement family, SQL Server's conversions, and
// the errors the plug-in's behaviour depends on.
#include <gtest/gtest.h>

#include "emu/parser.h"
#include "emu_test_util.h"

namespace finprep::emu {
namespace {

using testing::ColumnNames;
using testing::ErrorNumbers;
using testing::Fails;
using testing::Ok;
using testing::Query;
using testing::Rows;
using testing::TempDir;

class FrontEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<Server>(dir.path());
    server->CreateDatabase("shop", {});
    s = server->Connect("shop");
    Ok(*s,
       "CREATE TABLE t_Item (ItemID int NOT NULL PRIMARY KEY, ItemTypeID int NULL, "
       "ItemCode varchar(30) NULL, ItemName varchar(100) NULL, Price money NULL)\n"
       "INSERT INTO t_Item VALUES (1, 3, '01', 'a', 1.5), (2, 0, '', 'B', NULL), "
       "(3, NULL, 'x1', NULL, 2)\n"
       "CREATE TABLE t_Type (ItemTypeID int, ItemTypeName varchar(20))\n"
       "INSERT INTO t_Type VALUES (3, '部门'), (0, '其他')");
  }

  // The value of one expression over the item with id 1.
  std::string Eval(const std::string& expr) {
    Rows rows = Query(*s, "SELECT " + expr + " AS v FROM t_Item WHERE ItemID = 1");
    return rows.size() == 1 ? rows[0][0] : "<no row>";
  }

  TempDir dir;
  std::unique_ptr<Server> server;
  std::unique_ptr<Session> s;
};

TEST_F(FrontEnd, SelectListsStarsDistinctAndOrder) {
  BatchResult r = Ok(*s,
                     "select [ITEMID], t.itemname, i.* from T_ITEM t, t_Type i "
                     "where t.ItemTypeID = i.itemtypeid order by t.ItemID desc");
  const ResultSet* rs = r.FirstResultSet();
  ASSERT_NE(rs, nullptr);
  // Column names as the query writes them; a star gives the catalog's names.
  EXPECT_EQ(ColumnNames(*rs),
            (std::vector<std::string>{"ITEMID", "itemname", "ItemTypeID", "ItemTypeName"}));
  EXPECT_EQ(testing::TextRows(*rs), (Rows{{"2", "B", "0", "其他"}, {"1", "a", "3", "部门"}}));

  // Texts compare without case and without trailing blanks, in DISTINCT too.
  Ok(*s, "INSERT INTO t_Item VALUES (4, 3, '01', 'A  ', NULL)");
  EXPECT_EQ(Query(*s, "SELECT DISTINCT ItemCode FROM t_Item WHERE ItemName = 'a' ORDER BY 1"),
            (Rows{{"01"}}));
  EXPECT_EQ(Query(*s, "SELECT COUNT(*) AS n FROM t_Item WHERE ItemName IS NULL OR ItemTypeID = 0"),
            (Rows{{"2"}}));
  EXPECT_EQ(Query(*s, "SELECT TOP 1 ItemID FROM t_Item ORDER BY ItemID DESC"), (Rows{{"4"}}));
}

TEST_F(FrontEnd, ImplicitConversionsOfTheViewsExpressions) {
  struct Case {
    const char* expr;
    const char* value;
  } cases[] = {
      {"ItemCode + '-' + ItemName", "01-a"},  // + between texts concatenates
      {"ItemID + ItemTypeID", "4"},           // + between numbers adds
      {"ItemID + '2'", "3"},                  // a text meeting a number becomes a number
      {"ItemName + NULL", "NULL"},            // a NULL operand makes NULL
      {"ltrim(str(ItemCode))", "1"},          // STR converts text to a number first
      {"str(ItemTypeID)", "         3"},      // padded to 10 characters
      {"ltrim(str(ItemTypeID))+'-'+ltrim(str(ItemCode))", "3-1"},
      {"'AidType'+LTRIM(RTRIM( ItemTypeID))", "AidType3"},  // LTRIM of a number is its text
      {"LTRIM(Price)", "1.50"},
      {"str(Price, 10, 2)", "      1.50"},
      {"CASE WHEN ItemName IS NULL THEN 'n' ELSE 'y' END", "y"},
      {"CASE ItemTypeID WHEN 3 THEN Price ELSE 0 END", "1.5000"},
      {"ISNULL(NULL, 'z')", "z"},
      {"LEN('ab  ')", "2"},
      {"7 / 2", "3"},  // whole numbers divide as whole numbers
      {"Price / 2", "0.7500"},
      {"7 % ItemTypeID", "1"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Eval(c.expr), c.value) << c.expr;
  // STR of the empty code is 0.
  EXPECT_EQ(Query(*s, "SELECT ltrim(str(ItemCode)) FROM t_Item WHERE ItemID = 2"), (Rows{{"0"}}));
  // An integer column compared with '' compares with 0: the type 0 row drops out, so does NULL.
  EXPECT_EQ(
      Query(*s, "select ItemTypeID from t_Type where ItemTypeID<>'' and ItemTypeID is not null"),
      (Rows{{"3"}}));
  EXPECT_EQ(Query(*s, "SELECT ItemID FROM t_Item WHERE ItemTypeID = ''"), (Rows{{"2"}}));
  // STR of a text that is not a number fails when a row reaches it.
  Message m = Fails(*s, "SELECT ltrim(str(ItemCode)) FROM t_Item");
  EXPECT_EQ(m.number, 8114);
  EXPECT_EQ(m.text, "Error converting data type varchar to float.");
  EXPECT_EQ(Fails(*s, "SELECT ItemID FROM t_Item WHERE ItemCode = 5").number, 245);
  // Division by zero is an error, not NULL.
  EXPECT_EQ(Fails(*s, "SELECT ItemID / ItemTypeID FROM t_Item").number, 8134);
}

TEST_F(FrontEnd, SelectIntoAlterTableAndViewsRecordTypes) {
  Ok(*s, "SELECT ItemID, ItemCode + '' AS Code, Price, '' AS Empty INTO t2 FROM t_Item");
  // The new table's columns keep their types: text concatenates, money keeps 4 decimals.
  EXPECT_EQ(Query(*s, "SELECT Code + '!', Price, Empty FROM t2 WHERE ItemID = 1"),
            (Rows{{"01!", "1.5000", ""}}));
  Ok(*s, "ALTER TABLE t2 ADD n int, Label varchar(254)");
  Ok(*s, "UPDATE t2 SET n = '7', Label = 12");
  EXPECT_EQ(Query(*s, "SELECT n + 1, Label + 'x' FROM t2 WHERE ItemID = 1"), (Rows{{"8", "12x"}}));

  Ok(*s, "CREATE VIEW v AS SELECT ItemID, Price, Code FROM t2");
  EXPECT_EQ(Query(*s, "SELECT ItemID + '1', Code + '1' FROM v WHERE ItemID = 1"),
            (Rows{{"2", "011"}}));

  struct Case {
    const char* sql;
    int number;
    const char* text;
  } errors[] = {
      {"CREATE VIEW v AS SELECT ItemID FROM t_Item", 2714,
       "There is already an object named 'v' in the database."},
      {"SELECT ItemID INTO t2 FROM t_Item", 2714,
       "There is already an object named 't2' in the database."},
      {"ALTER TABLE t2 ADD n varchar(254)", 2705,
       "Column names in each table must be unique. Column name 'n' in table 't2' is specified "
       "more than once."},
      {"SELECT ItemID, ItemID INTO t3 FROM t_Item", 2705, nullptr},
      {"SELECT ItemID + 1 INTO t3 FROM t_Item", 1038, nullptr},
      {"CREATE VIEW w AS SELECT a.ItemID, b.ItemID FROM t_Item a, t_Item b", 4506, nullptr},
      {"CREATE VIEW w AS SELECT ItemID + 1 FROM t_Item", 4511, nullptr},
  };
  for (const Case& c : errors) {
    Message m = Fails(*s, c.sql);
    EXPECT_EQ(m.number, c.number) << c.sql;
    if (c.text) {
      EXPECT_EQ(m.text, c.text);
    }
  }
}

TEST_F(FrontEnd, NestedJoinGivesItsLastOnToTheOuterJoin) {
  Ok(*s,
     "CREATE TABLE Line (LineID int, Amount money)\n"
     "CREATE TABLE ItemLine (LineID int, ItemID int, Amount money)\n"
     "INSERT INTO Line VALUES (10, 5), (20, 7), (30, 9)\n"
     // line 10: two item lines; line 20: one whose item has no type row; line 30: none
     "INSERT INTO ItemLine VALUES (10, 1, 2), (10, 2, 3), (20, 3, 7)");
  Rows rows = Query(*s,
                    "SELECT Line.LineID, CASE WHEN t_Item.ItemCode IS NULL THEN Line.Amount ELSE "
                    "ItemLine.Amount END amt, t_Type.ItemTypeName FROM t_Item INNER JOIN ItemLine "
                    "ON t_Item.ItemID = ItemLine.ItemID INNER JOIN t_Type ON t_Item.ItemTypeID = "
                    "t_Type.ItemTypeID RIGHT OUTER JOIN Line INNER JOIN t_Type x ON x.ItemTypeID "
                    "= 3 ON ItemLine.LineID = Line.LineID ORDER BY 1, 2");
  EXPECT_EQ(rows, (Rows{{"10", "2.0000", "部门"},
                        {"10", "3.0000", "其他"},
                        {"20", "7.0000", "NULL"},
                        {"30", "9.0000", "NULL"}}));
}

TEST_F(FrontEnd, UpdateFromJoinsTheTargetRowsWithTheOtherTables) {
  Ok(*s, "SELECT ItemID, ItemTypeID, ItemCode AS AidCode INTO info FROM t_Item");
  Ok(*s, "ALTER TABLE t_Item ADD AidType3 varchar(254)");
  BatchResult r = Ok(*s,
                     "update t_Item set t_Item.AidType3=info.AidCode from t_Item,info where "
                     "info.ItemTypeID=3 and t_Item.ItemID=info.ItemID");
  EXPECT_EQ(std::get<RowCount>(r.outputs.back()).count, 1);
  EXPECT_EQ(Query(*s, "SELECT ItemID, AidType3 FROM t_Item ORDER BY ItemID"),
            (Rows{{"1", "01"}, {"2", "NULL"}, {"3", "NULL"}}));
  // The target named by its alias, and inside an inner join.
  Ok(*s,
     "UPDATE x SET AidType3 = i.AidCode + '!' FROM t_Item x INNER JOIN info i ON "
     "x.ItemID = i.ItemID WHERE i.ItemID = 2");
  EXPECT_EQ(Query(*s, "SELECT AidType3 FROM t_Item WHERE ItemID = 2"), (Rows{{"!"}}));
  EXPECT_EQ(Fails(*s, "UPDATE t_Item SET Missing = 1").number, 207);
}

TEST_F(FrontEnd, InsertConvertsToTheColumnTypesAndIsAtomic) {
  Ok(*s, "CREATE TABLE d (k int PRIMARY KEY, at datetime, c char(3), v varchar(4) NULL)");
  Ok(*s, "INSERT INTO d (k, at, c) VALUES (1, '20230105', 'a')");
  EXPECT_EQ(Query(*s, "SELECT at, c + '|' FROM d"), (Rows{{"2023-01-05 00:00:00.000", "a  |"}}));
  struct Case {
    const char* sql;
    int number;
  } errors[] = {
      {"INSERT INTO d VALUES (2, 'x', 'a', NULL)", 241},
      {"INSERT INTO d VALUES ('two', NULL, 'a', NULL)", 245},
      {"INSERT INTO d VALUES (2, NULL, 'a', 'abcde')", 8152},
      {"INSERT INTO d VALUES (2, NULL)", 213},
      {"INSERT INTO d (k) VALUES (2, 3)", 110},
      {"INSERT INTO d VALUES (1, NULL, 'a', NULL)", 2627},
      // the second row fails, so the first is not kept either
      {"INSERT INTO d (k, v) VALUES (5, 'ok'), (6, 'too long')", 8152},
  };
  for (const Case& c : errors)
    EXPECT_EQ(Fails(*s, c.sql).number, c.number) << c.sql;
  EXPECT_EQ(Query(*s, "SELECT COUNT(*) FROM d"), (Rows{{"1"}}));
}

TEST_F(FrontEnd, ErrorsCarrySqlServersNumbersAndTexts) {
  struct Case {
    const char* sql;
    int number;
    const char* text;
  } cases[] = {
      {"select * from t_Item_2023", 208, "Invalid object name 't_Item_2023'."},
      {"select Nope from t_Item", 207, "Invalid column name 'Nope'."},
      {"select ItemTypeID from t_Item, t_Type", 209, "Ambiguous column name 'ItemTypeID'."},
      {"select x.ItemID from t_Item", 4104,
       "The multi-part identifier \"x.ItemID\" could not be bound."},
      {"select t_Item.ItemID from t_Item i", 4104, nullptr},
      {"select * from t_Item where", 102, "Incorrect syntax near 'where'."},
      {"select * from t_Item order", 102, nullptr},
      {"select from t_Item", 156, "Incorrect syntax near the keyword 'from'."},
      {"select nosuch(1)", 195, "'NOSUCH' is not a recognized built-in function name."},
      {"drop table nothing", 3701, nullptr},
      {"EXEC sp_who", 50000, nullptr},
      {"select 1 union select 2", 50000, nullptr},
      {"select 'open", 105, nullptr},
  };
  for (const Case& c : cases) {
    Message m = Fails(*s, c.sql);
    EXPECT_EQ(m.number, c.number) << c.sql;
    if (c.text) {
      EXPECT_EQ(m.text, c.text) << c.sql;
    }
  }
  // A batch stops at its first error; what ran before it stays done.
  BatchResult r = s->Execute(
      "INSERT INTO t_Type VALUES (9, 'n') SELECT * FROM nowhere "
      "INSERT INTO t_Type VALUES (10, 'm')");
  EXPECT_EQ(ErrorNumbers(r), (std::vector<int>{208}));
  EXPECT_EQ(Query(*s, "SELECT ItemTypeID FROM t_Type WHERE ItemTypeID > 5"), (Rows{{"9"}}));
}

TEST_F(FrontEnd, SessionOptionsAreTakenAndWaitsAreCancellable) {
  // What clients send when they connect changes nothing.
  BatchResult r = Ok(*s,
                     "set textsize 2147483647\nset quoted_identifier on\nset arithabort off\n"
                     "set ansi_nulls, ansi_padding on\nset language us_english\n"
                     "set dateformat mdy\nset datefirst 7\nSET LOCK_TIMEOUT -1\n"
                     "set transaction isolation level read committed\nSET NOCOUNT ON\n"
                     "SET ROWCOUNT 0 SET IMPLICIT_TRANSACTIONS OFF");
  EXPECT_TRUE(r.outputs.empty());
  // Options that would change results, or that are unknown, are refused, not ignored.
  for (const char* sql : {"SET ROWCOUNT 5", "SET IMPLICIT_TRANSACTIONS ON", "SET FMTONLY ON",
                          "SET SHOWPLAN_ALL ON", "SET @x = 1"})
    EXPECT_EQ(Fails(*s, sql).number, 50000) << sql;

  EXPECT_EQ(Query(*s, "WAITFOR DELAY '00:00:00.020' SELECT 1 AS x"), (Rows{{"1"}}));
  for (const char* bad : {"1", "00:60", "24:00:00", "00:00:00.", "0:0:0:0", "a:b"})
    EXPECT_EQ(Fails(*s, std::string("WAITFOR DELAY '") + bad + "'").number, 148) << bad;

  struct Cancelling : BatchControl {
    std::int64_t asked = 0;
    bool Wait(std::int64_t ms) override {
      asked = ms;
      return false;
    }
  } control;
  r = s->Execute(
      "INSERT INTO t_Type VALUES (7, 'w') WAITFOR DELAY '01:02:03.400' "
      "INSERT INTO t_Type VALUES (8, 'x')",
      &control);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(control.asked, 3723400);
  EXPECT_EQ(Query(*s, "SELECT ItemTypeID FROM t_Type WHERE ItemTypeID > 5"), (Rows{{"7"}}));
}

TEST(Parser, SplitsScriptsAtGoLines) {
  EXPECT_EQ(SplitBatches("a\nGO\n b \n  go  \n\nGO\nc\nGOX"),
            (std::vector<std::string>{"a\n", " b \n", "c\nGOX"}));
}

TEST(Parser, ReadsStringsAndIdentifiersAsWritten) {
  std::vector<Statement> st = ParseBatch(
      "restore database [my db] from Disk='D:\\O''Brien\\x.bak' WITH file=3, "
      "RECOVERY, MOVE 'a' TO 'b',MOVE N'c' TO 'd', REPLACE ");
  ASSERT_EQ(st.size(), 1u);
  EXPECT_EQ(st[0].name, (Name{"my db"}));
  EXPECT_EQ(st[0].disk, "D:\\O'Brien\\x.bak");
  EXPECT_EQ(st[0].file, 3);
  EXPECT_TRUE(st[0].replace);
  EXPECT_EQ(st[0].moves.size(), 2u);
  EXPECT_EQ(st[0].moves[1].first, "c");
}

}  // namespace
}  // namespace finprep::emu
