#include "emu/catalog.h"

#include "emu/messages.h"
#include "platform/text.h"

namespace finprep::emu {

namespace {

// The type of a column that was created without the metadata table (from its SQLite type).
SqlType TypeFromDecl(const std::string& decl) {
  if (auto type = SqlType::Parse(decl)) return *type;
  std::string d = AsciiLower(decl);
  if (d.find("int") != std::string::npos) return SqlType::Of(TypeKind::kInt);
  if (d.find("real") != std::string::npos || d.find("floa") != std::string::npos ||
      d.find("doub") != std::string::npos)
    return SqlType::Of(TypeKind::kFloat);
  return SqlType::VarChar(8000);
}

}  // namespace

Catalog::Catalog(Db& db, std::string database, bool master_attached)
    : db_(db), database_(std::move(database)), master_attached_(master_attached) {}

void Catalog::Initialise(Db& db) {
  db.Exec(
      "CREATE TABLE IF NOT EXISTS _emu_columns (object TEXT NOT NULL COLLATE NOCASE, "
      "ordinal INTEGER NOT NULL, name TEXT NOT NULL, type TEXT NOT NULL, "
      "PRIMARY KEY (object, ordinal))");
}

std::optional<ObjectInfo> Catalog::Lookup(const std::string& schema, const std::string& name) {
  if (name.empty() || EqualsIgnoreCase(name.substr(0, 7), "sqlite_") ||
      EqualsIgnoreCase(name.substr(0, 5), "_emu_"))
    return std::nullopt;
  auto rows = db_.Rows("SELECT name, type FROM " + QuoteId(schema) +
                           ".sqlite_schema WHERE type IN ('table','view') AND name = ?1 "
                           "COLLATE NOCASE",
                       {name});
  if (rows.empty()) return std::nullopt;
  ObjectInfo info;
  info.schema = schema;
  info.name = std::get<std::string>(rows[0][0]);
  info.is_view = std::get<std::string>(rows[0][1]) == "view";
  auto cols = db_.Rows("SELECT name, type FROM " + QuoteId(schema) +
                           "._emu_columns WHERE object = ?1 ORDER BY ordinal",
                       {info.name});
  for (auto& row : cols) {
    auto type = SqlType::Parse(std::get<std::string>(row[1]));
    info.columns.push_back(
        Column{std::get<std::string>(row[0]), type ? *type : SqlType::VarChar(8000)});
  }
  if (info.columns.empty()) {
    // An object made without the emulator: take the columns from SQLite.
    auto pragma = db_.Rows("SELECT name, type FROM pragma_table_info(?1, ?2)", {info.name, schema});
    for (auto& row : pragma)
      info.columns.push_back(
          Column{std::get<std::string>(row[0]),
                 TypeFromDecl(std::get_if<std::string>(&row[1]) ? std::get<std::string>(row[1])
                                                                : std::string())});
  }
  return info;
}

std::string Catalog::LocalName(const Name& name) {
  const std::string& object = name.back();
  if (name.size() >= 2) {
    const std::string& owner = name[name.size() - 2];
    if (!owner.empty() && !EqualsIgnoreCase(owner, "dbo"))
      throw ServerError(msg::InvalidObject(JoinName(name)));
  }
  if (name.size() == 3 && !EqualsIgnoreCase(name[0], database_))
    throw ServerError(msg::Unsupported("objects of another database ('" + JoinName(name) + "')"));
  if (name.size() > 3) throw ServerError(msg::Unsupported("linked servers"));
  return object;
}

std::optional<ObjectInfo> Catalog::Find(const Name& name) {
  const std::string& object = name.back();
  if (name.size() >= 2) {
    const std::string& owner = name[name.size() - 2];
    if (!owner.empty() && !EqualsIgnoreCase(owner, "dbo")) return std::nullopt;
  }
  if (name.size() > 3) return std::nullopt;
  if (name.size() == 3 && !EqualsIgnoreCase(name[0], database_)) {
    if (EqualsIgnoreCase(name[0], "master") && master_attached_) return Lookup("master", object);
    throw ServerError(msg::Unsupported("objects of another database ('" + JoinName(name) + "')"));
  }
  if (auto found = Lookup("main", object)) return found;
  // The catalog's tables can be read from every database, as the server's system views can.
  if (master_attached_ &&
      (EqualsIgnoreCase(object, "sysdatabases") || EqualsIgnoreCase(object, "sysaltfiles")))
    return Lookup("master", object);
  return std::nullopt;
}

ObjectInfo Catalog::Require(const Name& name) {
  auto found = Find(name);
  if (!found) throw ServerError(msg::InvalidObject(JoinName(name)));
  return *found;
}

bool Catalog::Exists(const std::string& name) {
  auto rows = db_.Rows(
      "SELECT 1 FROM main.sqlite_schema WHERE type IN ('table','view','index','trigger') AND "
      "name = ?1 COLLATE NOCASE",
      {name});
  return !rows.empty();
}

void Catalog::Record(const std::string& object, const std::vector<Column>& columns) {
  Forget(object);
  for (std::size_t i = 0; i < columns.size(); ++i)
    db_.Rows("INSERT INTO main._emu_columns (object, ordinal, name, type) VALUES (?1, ?2, ?3, ?4)",
             {object, static_cast<std::int64_t>(i + 1), columns[i].name, columns[i].type.Name()});
}

void Catalog::Forget(const std::string& object) {
  db_.Rows("DELETE FROM main._emu_columns WHERE object = ?1", {object});
}

}  // namespace finprep::emu
