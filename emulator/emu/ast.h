// The tree of a parsed T-SQL batch.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "emu/types.h"

namespace finprep::emu {

// A possibly qualified name as written: {"master", "", "sysdatabases"} for master..sysdatabases.
using Name = std::vector<std::string>;

// The name as written, parts joined with dots.
std::string JoinName(const Name& name);

struct Select;

enum class ExprKind {
  kColumn,  // names: qualifier parts and the column
  kNull,
  kInteger,  // text: the digits
  kNumber,   // text: a number with a point or an exponent
  kString,   // text: the value; national for N'...'
  kStar,     // the * of COUNT(*)
  kNegate,   // args[0]
  kBinary,   // text: + - * / %; args[0], args[1]
  kCompare,  // text: = <> < > <= >=; args[0], args[1]
  kAnd,
  kOr,
  kNot,
  kIsNull,    // negated: IS NOT NULL
  kCase,      // case_operand (simple CASE), args: when, then pairs; case_else
  kFunction,  // text: the name in upper case; args; distinct for COUNT(DISTINCT x)
  kIn,        // args[0] IN (args[1..]); negated: NOT IN
  kBetween,   // args[0] BETWEEN args[1] AND args[2]
  kLike,      // args[0] LIKE args[1]
  kCast,      // CAST(args[0] AS cast_type), CONVERT(cast_type, args[0])
};

struct Expr {
  ExprKind kind = ExprKind::kNull;
  Name names;
  std::string text;
  bool national = false;
  bool negated = false;
  bool distinct = false;
  std::vector<std::unique_ptr<Expr>> args;
  std::unique_ptr<Expr> case_operand;
  std::unique_ptr<Expr> case_else;
  SqlType cast_type;
};
using ExprPtr = std::unique_ptr<Expr>;

struct SelectItem {
  ExprPtr expr;                // null for a star
  bool star = false;           // * or qualifier.*
  std::string star_qualifier;  // empty for a bare *
  std::string alias;           // empty when none was given
};

struct TableRef {
  enum class Kind { kNamed, kDerived, kJoin } kind = Kind::kNamed;
  Name name;                        // kNamed
  std::string alias;                // kNamed, kDerived
  std::unique_ptr<Select> derived;  // kDerived
  std::string join_type;            // kJoin: INNER, LEFT, RIGHT, FULL, CROSS
  std::unique_ptr<TableRef> left, right;
  ExprPtr on;
};
using TableRefPtr = std::unique_ptr<TableRef>;

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct Select {
  bool distinct = false;
  std::optional<std::int64_t> top;
  std::vector<SelectItem> items;
  Name into;  // SELECT ... INTO
  std::vector<TableRefPtr> from;
  ExprPtr where;
  std::vector<ExprPtr> group_by;
  ExprPtr having;
  std::vector<OrderItem> order_by;
};

struct ColumnDef {
  std::string name;
  SqlType type;
  bool not_null = false;
  bool primary_key = false;
  ExprPtr default_value;
};

struct Statement {
  enum class Kind {
    kSelect,
    kCreateView,
    kCreateTable,
    kInsert,
    kUpdate,
    kDelete,
    kAlterTableAdd,
    kDropTable,
    kDropView,
    kCreateDatabase,
    kDropDatabase,
    kAlterDatabase,
    kRestoreHeaderOnly,
    kRestoreFileListOnly,
    kRestoreDatabase,
    kSetOption,  // a session option that changes nothing here (SET ANSI_NULLS ON, ...)
    kWaitFor,    // WAITFOR DELAY 'hh:mm[:ss[.mmm]]'
  } kind = Kind::kSelect;

  std::unique_ptr<Select> select;  // SELECT, CREATE VIEW, INSERT ... SELECT
  Name name;                       // the table, view or database
  std::vector<ColumnDef> columns;  // CREATE TABLE, ALTER TABLE ADD
  std::vector<std::string> primary_key;
  std::vector<std::string> column_list;               // INSERT (columns)
  std::vector<std::vector<ExprPtr>> rows;             // INSERT VALUES
  std::vector<std::pair<Name, ExprPtr>> assignments;  // UPDATE SET
  std::vector<TableRefPtr> from;                      // UPDATE/DELETE ... FROM
  ExprPtr where;

  // ALTER DATABASE x SET OFFLINE|ONLINE [WITH ROLLBACK IMMEDIATE]
  bool set_offline = false;
  bool rollback_immediate = false;

  // RESTORE ... FROM DISK = '...' WITH ...
  std::string disk;
  std::optional<std::int64_t> file;
  bool replace = false;
  bool norecovery = false;
  std::vector<std::pair<std::string, std::string>> moves;  // logical name, new path

  // WAITFOR DELAY
  std::int64_t delay_ms = 0;
};

}  // namespace finprep::emu
