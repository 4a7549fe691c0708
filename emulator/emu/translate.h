// Binds T-SQL trees against the catalog and prints them as SQLite SQL.
//
// Binding finds every table and column (208, 207, 209, 4104 as SQL Server raises them) and gives
// each expression its SQL Server type.  Printing applies SQL Server's meaning where SQLite's
// differs: '+' on texts concatenates, a text meeting a number is converted to the number (a
// literal '' compared with an integer column is 0), texts compare without case and without
// trailing blanks, STR and LTRIM/RTRIM convert their operand as SQL Server does.
#pragma once

#include <string>
#include <vector>

#include "emu/ast.h"
#include "emu/catalog.h"

namespace finprep::emu {

struct TranslatedSelect {
  std::string sql;
  std::vector<Column> columns;       // names as SQL Server gives them ("" for an unnamed one)
  std::vector<std::string> aliases;  // the names the printed SQL gives the columns
};

struct TranslatedStatements {
  std::vector<std::string> sql;  // run in order
};

class Translator {
 public:
  explicit Translator(Catalog& catalog) : catalog_(catalog) {}

  TranslatedSelect TranslateSelect(const Select& select);
  // UPDATE ... SET ... [FROM ...] [WHERE ...]
  std::string TranslateUpdate(const Statement& st);
  std::string TranslateDelete(const Statement& st);
  // One INSERT per row of VALUES, or one INSERT ... SELECT.
  std::vector<std::string> TranslateInsert(const Statement& st);
  // The SQLite declaration of a column.
  static std::string ColumnDecl(const std::string& name, const SqlType& type, bool not_null);

 private:
  Catalog& catalog_;
  int derived_counter_ = 0;
};

}  // namespace finprep::emu
