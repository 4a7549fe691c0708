-- A small accounting data set: accounts, opening balances, vouchers with their lines and item
-- lines, item types, items and item balances.  The table names here carry no suffix; the build
-- makes a copy with a suffix for suffixed runs.
CREATE TABLE t_Account (
  AccID int NOT NULL PRIMARY KEY,
  AccCode varchar(40) NOT NULL,
  AccName varchar(100) NOT NULL,
  AccLevel int NULL
)
CREATE TABLE t_Balance (
  AccID int NOT NULL,
  Period int NOT NULL,
  DebMoney money NULL,
  CreMoney money NULL
)
CREATE TABLE t_VouNum (
  VouNumID int NOT NULL PRIMARY KEY,
  VouNumName varchar(20) NULL,
  VouFormat varchar(40) NULL
)
CREATE TABLE t_Voucher (
  VouID int NOT NULL PRIMARY KEY,
  UnitID int NULL,
  VouNumID int NULL,
  Period int NULL,
  FillDate datetime NULL,
  accNO int NULL,
  AcceNum int NULL,
  FillerID int NULL,
  CheckerID int NULL,
  AccDate datetime NULL,
  AccerID int NULL,
  Isdel int NULL
)
CREATE TABLE t_VouDetail (
  VouDetailID int NOT NULL PRIMARY KEY,
  VouID int NOT NULL,
  AccID int NOT NULL,
  Abstract varchar(200) NULL,
  DebMoney money NULL,
  CreMoney money NULL
)
CREATE TABLE t_VouItemDetail (
  VouDetailID int NOT NULL,
  ItemID int NOT NULL,
  DebMoney money NULL,
  CreMoney money NULL
)
CREATE TABLE t_ItemType (
  ItemTypeID int NOT NULL,
  ItemTypeName varchar(50) NULL
)
CREATE TABLE t_Item (
  ItemID int NOT NULL PRIMARY KEY,
  ItemTypeID int NULL,
  ItemCode varchar(30) NULL,
  ItemName varchar(100) NULL
)
CREATE TABLE t_ItemBalance (
  ItemID int NOT NULL,
  AccID int NOT NULL,
  Period int NOT NULL,
  DebMoney money NULL,
  CreMoney money NULL
)
GO

INSERT INTO t_Account (AccID, AccCode, AccName, AccLevel) VALUES
  (1, '1001', '库存现金', 1),
  (2, '1002', '银行存款', 1),
  (3, '1122', '应收账款', 1),
  (4, '2202', '应付账款', 1),
  (5, '6001', '主营业务收入', 1),
  (6, '6602', '管理费用', 1)

-- Opening balances (period 0), one of another period, one whose account does not exist.
INSERT INTO t_Balance (AccID, Period, DebMoney, CreMoney) VALUES
  (1, 0, 5000.00, 0),
  (2, 0, 120000.50, 0),
  (3, 0, 8000.00, 0),
  (4, 0, 0, 3000.00),
  (2, 1, 99.00, 0),
  (99, 0, 777.00, 0)

INSERT INTO t_VouNum (VouNumID, VouNumName, VouFormat) VALUES
  (1, '记', '记账凭证'),
  (2, '收', '收款凭证')

-- Voucher 3 is deleted (Isdel 1), voucher 4 has a null Isdel.
INSERT INTO t_Voucher (VouID, UnitID, VouNumID, Period, FillDate, accNO, AcceNum, FillerID,
                       CheckerID, AccDate, AccerID, Isdel) VALUES
  (1, 1, 1, 1, '2023-01-05', 1, 2, 11, 12, '2023-01-31', 13, 0),
  (2, 1, 2, 1, '2023-01-10', 2, 1, 11, 12, '2023-01-31', 13, 0),
  (3, 1, 1, 1, '2023-01-12', 3, 2, 11, NULL, NULL, NULL, 1),
  (4, 1, 1, 1, '2023-01-15', 4, 2, 11, NULL, NULL, NULL, NULL),
  (5, 1, 1, 2, '2023-02-03', 1, 3, 11, 12, '2023-02-28', 13, 0)

INSERT INTO t_VouDetail (VouDetailID, VouID, AccID, Abstract, DebMoney, CreMoney) VALUES
  (101, 1, 6, '报销差旅费', 300.00, 0),
  (102, 1, 1, '报销差旅费', 0, 300.00),
  (201, 2, 2, '收到货款', 5000.00, 0),
  (202, 2, 3, '收到货款', 0, 5000.00),
  (301, 3, 3, '作废凭证', 100.00, 0),
  (302, 3, 5, '作废凭证', 0, 100.00),
  (401, 4, 2, '未审核凭证', 50.00, 0),
  (402, 4, 5, '未审核凭证', 0, 50.00),
  (501, 5, 6, '项目支出', 200.00, 0),
  (502, 5, 2, '项目支出', 0, 200.00)

-- Type ids out of order; type 0 does not pass the plug-in's filter (0 equals ''), type 5 has
-- no item, and no row exists for type 4.
INSERT INTO t_ItemType (ItemTypeID, ItemTypeName) VALUES
  (3, '部门'),
  (0, '其他'),
  (1, '客户'),
  (2, '职员'),
  (5, '项目')

-- Codes are numeric text: the view pz turns them into numbers.  Item 6 has no type row, item 7
-- an empty code, item 8 a code with blanks around it.
INSERT INTO t_Item (ItemID, ItemTypeID, ItemCode, ItemName) VALUES
  (1, 3, '01', '财务部'),
  (2, 3, '02', '销售部'),
  (3, 3, '03', '行政部'),
  (4, 1, '1001', '华星公司'),
  (5, 2, '2001', '张三'),
  (6, 4, '4001', '无类型项目'),
  (7, 1, '', '空编码客户'),
  (8, 2, ' 2002 ', '李四')

-- Line 101 has three item lines, 202 one, 102 and 201 none; 301 belongs to the deleted voucher,
-- 401 to the voucher with a null Isdel; 501's item has no type row, 502's item an empty code.
INSERT INTO t_VouItemDetail (VouDetailID, ItemID, DebMoney, CreMoney) VALUES
  (101, 1, 100.00, 0),
  (101, 2, 120.00, 0),
  (101, 3, 80.00, 0),
  (202, 4, 0, 5000.00),
  (301, 4, 100.00, 0),
  (401, 5, 50.00, 0),
  (501, 6, 200.00, 0),
  (502, 7, 0, 200.00)

-- Item balances: period 0 with codes, one of period 1, one whose account does not exist, one
-- whose item has no type row, one whose item has an empty code.
INSERT INTO t_ItemBalance (ItemID, AccID, Period, DebMoney, CreMoney) VALUES
  (4, 3, 0, 8000.00, 0),
  (8, 3, 0, 200.00, 0),
  (1, 6, 1, 50.00, 0),
  (2, 99, 0, 70.00, 0),
  (6, 6, 0, 30.00, 0),
  (7, 3, 0, 10.00, 0)
GO
