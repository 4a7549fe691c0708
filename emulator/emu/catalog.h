// The objects of one database: SQLite holds the tables, views and rows; the table _emu_columns
// beside them keeps each object's columns with their SQL Server types, in order.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "emu/ast.h"
#include "emu/sqlite.h"
#include "emu/types.h"

namespace finprep::emu {

struct ObjectInfo {
  std::string schema;  // "main", or "master" for the catalog's tables seen from a database
  std::string name;    // as created
  bool is_view = false;
  std::vector<Column> columns;
};

class Catalog {
 public:
  // `database` is the name of the database open on `db`; `master_attached` tells whether the
  // catalog database is attached as schema "master" (every database but master itself).
  Catalog(Db& db, std::string database, bool master_attached);

  // Creates the metadata table in a new database.
  static void Initialise(Db& db);

  // Resolves a name as written: obj, dbo.obj, db.dbo.obj, db..obj.  Names compare without case.
  std::optional<ObjectInfo> Find(const Name& name);
  // Like Find, but raises 208 for a missing object.
  ObjectInfo Require(const Name& name);
  // The name of an object in this database (one part, or this database's own prefix); raises
  // an error for another database's object.
  std::string LocalName(const Name& name);
  // True when a table or view of that name exists in this database.
  bool Exists(const std::string& name);

  void Record(const std::string& object, const std::vector<Column>& columns);
  void Forget(const std::string& object);

  Db& db() { return db_; }
  const std::string& database() const { return database_; }

 private:
  std::optional<ObjectInfo> Lookup(const std::string& schema, const std::string& name);

  Db& db_;
  std::string database_;
  bool master_attached_;
};

}  // namespace finprep::emu
