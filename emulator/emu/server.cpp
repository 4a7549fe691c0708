#include "emu/server.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "emu/catalog.h"
#include "emu/messages.h"
#include "emu/parser.h"
#include "emu/paths.h"
#include "emu/sqlite.h"
#include "emu/translate.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace finprep::emu {

namespace {

constexpr std::int64_t kOffline = 512;
constexpr std::int64_t kPageSize = 8192;
constexpr std::int64_t kUnlimitedSize = 35184372080640;

std::string Now() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(ms.count()));
  return buf;
}

std::vector<Column> SysDatabasesColumns() {
  auto t = [](const char* name) { return *SqlType::Parse(name); };
  return {{"name", t("nvarchar(128)")}, {"dbid", t("smallint")},
          {"mode", t("smallint")},      {"status", t("int")},
          {"status2", t("int")},        {"crdate", t("datetime")},
          {"reserved", t("datetime")},  {"category", t("int")},
          {"cmptlevel", t("tinyint")},  {"filename", t("nvarchar(260)")},
          {"version", t("smallint")}};
}

std::vector<Column> SysAltFilesColumns() {
  auto t = [](const char* name) { return *SqlType::Parse(name); };
  return {
      {"fileid", t("smallint")}, {"groupid", t("smallint")},   {"size", t("int")},
      {"maxsize", t("int")},     {"growth", t("int")},         {"status", t("int")},
      {"dbid", t("smallint")},   {"name", t("nvarchar(128)")}, {"filename", t("nvarchar(260)")}};
}

void CreateTable(Db& db, Catalog& catalog, const std::string& name,
                 const std::vector<Column>& columns) {
  std::string sql = "CREATE TABLE " + QuoteId(name) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i)
    sql += (i ? ", " : "") + Translator::ColumnDecl(columns[i].name, columns[i].type, false);
  db.Exec(sql + ")");
  catalog.Record(name, columns);
}

// The statement runs whole or not at all.
class StatementTransaction {
 public:
  explicit StatementTransaction(Db& db) : db_(db) { db_.Exec("SAVEPOINT emu_statement"); }
  ~StatementTransaction() {
    if (done_) return;
    try {
      db_.Exec("ROLLBACK TO emu_statement");
      db_.Exec("RELEASE emu_statement");
    } catch (const ServerError&) {
    }
  }
  void Commit() {
    db_.Exec("RELEASE emu_statement");
    done_ = true;
  }

 private:
  Db& db_;
  bool done_ = false;
};

void Trace(const std::string& batch) {
  const char* path = std::getenv("FINPREP_TRACE");
  if (!path || !*path) return;
  std::string text = batch + "\nGO\n";
  int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

std::string Lexical(const std::string& path) {
  return fs::path(ToFileSystemPath(path)).lexically_normal().string();
}

// Writes a file through a temporary one beside it, so a failure leaves no half-written file.
void WriteFileAtomically(const std::string& path, const std::string& content) {
  std::string tmp = path + ".emu-tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) {
      std::error_code ec;
      fs::remove(tmp, ec);
      throw ServerError(msg::Error(3203, "Write on \"" + path + "\" failed."));
    }
  }
  std::error_code ec;
  fs::rename(tmp, path, ec);
  if (ec) {
    fs::remove(tmp, ec);
    throw ServerError(msg::Error(3203, "Write on \"" + path + "\" failed: " + ec.message()));
  }
}

std::string SecondaryFileContent(const std::string& database, const BackupFile& file) {
  return "finprep emulator: file '" + file.logical_name + "' (" + file.type + ") of database '" +
         database + "'\n";
}

const BackupFile* PrimaryFile(const std::vector<BackupFile>& files) {
  for (const BackupFile& f : files)
    if (f.type == 'D') return &f;
  return nullptr;
}

std::int64_t Pages(std::int64_t bytes) {
  return std::max<std::int64_t>(1, (bytes + kPageSize - 1) / kPageSize);
}

std::string FakeGuid(int position, int salt) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%08X-0000-0000-0000-%012X", 0x46500000 + salt, position);
  return buf;
}

}  // namespace

struct Server::DatabaseRecord {
  std::string name;
  std::int64_t dbid = 0;
  std::string filename;
  std::int64_t status = 0;
  std::vector<BackupFile> files;
};

// ---------------------------------------------------------------- Server

Server::Server(std::string data_dir) : data_dir_(std::move(data_dir)) {
  std::error_code ec;
  fs::create_directories(data_dir_, ec);
  if (!fs::is_directory(data_dir_))
    throw ServerError(msg::Error(5123,
                                 "CREATE FILE encountered operating system error while "
                                 "attempting to open or create the data folder '" +
                                     data_dir_ + "'."));
  if (fs::exists(MasterPath())) return;
  std::string tmp = MasterPath() + ".emu-tmp";
  fs::remove(tmp, ec);
  {
    Db db(tmp, true);
    Catalog::Initialise(db);
    Catalog catalog(db, "master", false);
    CreateTable(db, catalog, "sysdatabases", SysDatabasesColumns());
    CreateTable(db, catalog, "sysaltfiles", SysAltFilesColumns());
    db.Rows(
        "INSERT INTO sysdatabases (name, dbid, mode, status, status2, crdate, reserved, category, "
        "cmptlevel, filename, version) VALUES ('master', 1, 0, 8, 1090520064, ?1, "
        "'1900-01-01 00:00:00.000', 0, 80, ?2, 539)",
        {Now(), MasterPath()});
    db.Rows(
        "INSERT INTO sysaltfiles (fileid, groupid, size, maxsize, growth, status, dbid, name, "
        "filename) VALUES (1, 1, 1, -1, 10, 0, 1, 'master', ?1), "
        "(2, 0, 1, -1, 10, 0, 1, 'mastlog', ?2)",
        {MasterPath(), (fs::path(data_dir_) / "master.ldf").string()});
  }
  std::ofstream((fs::path(data_dir_) / "master.ldf").string())
      << "finprep emulator: log of master\n";
  fs::rename(tmp, MasterPath(), ec);
  if (ec && !fs::exists(MasterPath()))
    throw ServerError(msg::Error(5123, "Cannot create the catalog in '" + data_dir_ + "'."));
}

Server::~Server() = default;

std::string Server::MasterPath() const { return (fs::path(data_dir_) / "master.mdf").string(); }

std::vector<Server::DatabaseRecord> Server::AllDatabases() {
  Db master(MasterPath(), false);
  std::vector<DatabaseRecord> out;
  for (auto& row :
       master.Rows("SELECT name, dbid, filename, status FROM sysdatabases ORDER BY dbid")) {
    DatabaseRecord rec;
    rec.name = std::get<std::string>(row[0]);
    rec.dbid = std::get<std::int64_t>(row[1]);
    rec.filename = std::get<std::string>(row[2]);
    rec.status = std::get<std::int64_t>(row[3]);
    for (
        auto& f : master.Rows(
            "SELECT name, groupid, filename, size FROM sysaltfiles WHERE dbid = ?1 ORDER BY fileid",
            {rec.dbid})) {
      BackupFile file;
      file.logical_name = std::get<std::string>(f[0]);
      file.type = std::get<std::int64_t>(f[1]) == 0 ? 'L' : 'D';
      file.physical_name = std::get<std::string>(f[2]);
      file.size = std::get<std::int64_t>(f[3]) * kPageSize;
      rec.files.push_back(file);
    }
    out.push_back(std::move(rec));
  }
  return out;
}

std::optional<Server::DatabaseRecord> Server::FindDatabase(const std::string& name) {
  for (DatabaseRecord& rec : AllDatabases())
    if (EqualsIgnoreCase(rec.name, name)) return rec;
  return std::nullopt;
}

void Server::RegisterDatabase(const std::string& name, const std::vector<BackupFile>& files) {
  Db master(MasterPath(), false);
  master.Exec("BEGIN IMMEDIATE");
  try {
    auto next = master.Rows("SELECT coalesce(max(dbid), 4) + 1 FROM sysdatabases");
    std::int64_t dbid = std::max<std::int64_t>(5, std::get<std::int64_t>(next[0][0]));
    const BackupFile* primary = PrimaryFile(files);
    master.Rows(
        "INSERT INTO sysdatabases (name, dbid, mode, status, status2, crdate, reserved, category, "
        "cmptlevel, filename, version) VALUES (?1, ?2, 0, 0, 1090519040, ?3, "
        "'1900-01-01 00:00:00.000', 0, 80, ?4, 539)",
        {name, dbid, Now(), primary ? primary->physical_name : std::string()});
    std::int64_t fileid = 1;
    for (const BackupFile& f : files)
      master.Rows(
          "INSERT INTO sysaltfiles (fileid, groupid, size, maxsize, growth, status, dbid, name, "
          "filename) VALUES (?1, ?2, ?3, -1, 10, 2, ?4, ?5, ?6)",
          {fileid++, static_cast<std::int64_t>(f.type == 'L' ? 0 : 1), Pages(f.size), dbid,
           f.logical_name, f.physical_name});
    master.Exec("COMMIT");
  } catch (...) {
    master.Exec("ROLLBACK");
    throw;
  }
}

int Server::SessionsOn(const std::string& database, const Session* except) const {
  int n = 0;
  for (const Session* s : sessions_)
    if (s != except && !s->killed_ && EqualsIgnoreCase(s->database_, database)) ++n;
  return n;
}

std::unique_ptr<Session> Server::Connect(const std::string& database) {
  auto rec = FindDatabase(database);
  if (!rec) throw ServerError(msg::CannotOpenDatabase(database));
  if (rec->status & kOffline) throw ServerError(msg::DatabaseOffline(rec->name));
  std::string file =
      EqualsIgnoreCase(rec->name, "master") ? MasterPath() : ToFileSystemPath(rec->filename);
  return std::unique_ptr<Session>(new Session(*this, rec->name, file));
}

void Server::CreateDatabase(const std::string& name, std::vector<BackupFile> files) {
  if (FindDatabase(name)) throw ServerError(msg::DatabaseExists(name));
  if (files.empty()) files = {{name + "_Data", 'D', "", 0}, {name + "_Log", 'L', "", 0}};
  if (!PrimaryFile(files))
    throw ServerError(msg::Error(1803, "A database needs a data file ('" + name + "')."));
  for (BackupFile& f : files) {
    if (f.physical_name.empty()) {
      const char* ext = f.type == 'L' ? ".ldf" : &f == PrimaryFile(files) ? ".mdf" : ".ndf";
      std::string base = &f == PrimaryFile(files) ? name : f.logical_name;
      f.physical_name = (fs::path(data_dir_) / (base + ext)).string();
    }
    if (fs::exists(ToFileSystemPath(f.physical_name)))
      throw ServerError(msg::Error(5170, "Cannot create file '" + f.physical_name +
                                             "' because it already exists. Change the file path "
                                             "or the file name, and retry the operation."));
  }
  const BackupFile* primary = PrimaryFile(files);
  {
    Db db(ToFileSystemPath(primary->physical_name), true);
    Catalog::Initialise(db);
  }
  for (BackupFile& f : files) {
    if (&f == primary) continue;
    std::ofstream(ToFileSystemPath(f.physical_name)) << SecondaryFileContent(name, f);
  }
  for (BackupFile& f : files)
    f.size = static_cast<std::int64_t>(fs::file_size(ToFileSystemPath(f.physical_name)));
  RegisterDatabase(name, files);
}

BackupSet Server::Snapshot(const std::string& name) {
  auto rec = FindDatabase(name);
  if (!rec) throw ServerError(msg::CannotOpenDatabase(name));
  if (SessionsOn(rec->name, nullptr) > 0) throw ServerError(msg::DatabaseInUse(rec->name));
  BackupSet set;
  set.database_name = rec->name;
  set.creation_date = Now();
  const BackupFile* primary = PrimaryFile(rec->files);
  std::ifstream in(ToFileSystemPath(primary->physical_name), std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  set.data = data.str();
  for (BackupFile f : rec->files) {
    std::error_code ec;
    f.size = f.physical_name == primary->physical_name
                 ? static_cast<std::int64_t>(set.data.size())
                 : static_cast<std::int64_t>(fs::file_size(ToFileSystemPath(f.physical_name), ec));
    set.files.push_back(f);
  }
  return set;
}

std::vector<BackupSet> Server::LoadBackup(const std::string& disk, bool with_data,
                                          const std::string& what) {
  try {
    return ReadBackup(ToFileSystemPath(disk), with_data);
  } catch (const BackupOpenError& e) {
    throw ServerError({msg::CannotOpenDevice(disk, e.what()), msg::Terminating(what)});
  } catch (const BackupFormatError&) {
    throw ServerError({msg::MediaIncorrectlyFormed(disk), msg::Terminating(what)});
  }
}

ResultSet Server::HeaderOnly(const std::string& disk) {
  std::vector<BackupSet> sets = LoadBackup(disk, false, "RESTORE HEADERONLY");
  auto t = [](const char* name) { return *SqlType::Parse(name); };
  ResultSet rs;
  rs.columns = {{"BackupName", t("nvarchar(128)")},
                {"BackupDescription", t("nvarchar(255)")},
                {"BackupType", t("smallint")},
                {"ExpirationDate", t("datetime")},
                {"Compressed", t("tinyint")},
                {"Position", t("smallint")},
                {"DeviceType", t("tinyint")},
                {"UserName", t("nvarchar(128)")},
                {"ServerName", t("nvarchar(128)")},
                {"DatabaseName", t("nvarchar(128)")},
                {"DatabaseVersion", t("int")},
                {"DatabaseCreationDate", t("datetime")},
                {"BackupSize", t("numeric(20,0)")},
                {"FirstLSN", t("numeric(25,0)")},
                {"LastLSN", t("numeric(25,0)")},
                {"CheckpointLSN", t("numeric(25,0)")},
                {"DatabaseBackupLSN", t("numeric(25,0)")},
                {"BackupStartDate", t("datetime")},
                {"BackupFinishDate", t("datetime")},
                {"SortOrder", t("smallint")},
                {"CodePage", t("smallint")},
                {"UnicodeLocaleId", t("int")},
                {"UnicodeComparisonStyle", t("int")},
                {"CompatibilityLevel", t("tinyint")},
                {"SoftwareVendorId", t("int")},
                {"SoftwareVersionMajor", t("int")},
                {"SoftwareVersionMinor", t("int")},
                {"SoftwareVersionBuild", t("int")},
                {"MachineName", t("nvarchar(128)")},
                {"Flags", t("int")},
                {"BindingID", t("nvarchar(36)")},
                {"RecoveryForkID", t("nvarchar(36)")},
                {"Collation", t("nvarchar(128)")}};
  auto text = [](const std::string& s) -> Value {
    if (s.empty()) return std::monostate{};
    return s;
  };
  for (const BackupSet& set : sets) {
    std::int64_t size = kPageSize;
    for (const BackupFile& f : set.files)
      size += Pages(f.size) * kPageSize;
    std::int64_t lsn = static_cast<std::int64_t>(set.position) * 1000000000LL;
    rs.rows.push_back({text(set.backup_name),
                       text(set.description),
                       std::int64_t{1},
                       std::monostate{},
                       std::int64_t{0},
                       std::int64_t{set.position},
                       std::int64_t{2},
                       text(set.user_name),
                       text(set.server_name),
                       set.database_name,
                       std::int64_t{539},
                       text(set.creation_date),
                       size,
                       lsn + 100000001,
                       lsn + 200000001,
                       lsn + 100000001,
                       std::int64_t{0},
                       text(set.start_date),
                       text(set.finish_date),
                       std::int64_t{0},
                       std::int64_t{936},
                       std::int64_t{2052},
                       std::int64_t{196609},
                       std::int64_t{80},
                       std::int64_t{4608},
                       std::int64_t{8},
                       std::int64_t{0},
                       std::int64_t{2039},
                       text(set.server_name),
                       std::int64_t{0},
                       FakeGuid(set.position, 1),
                       FakeGuid(set.position, 2),
                       std::string("Chinese_PRC_CI_AS")});
  }
  return rs;
}

ResultSet Server::FileListOnly(const std::string& disk, std::optional<std::int64_t> file) {
  const std::string what = "RESTORE FILELIST";
  std::vector<BackupSet> sets = LoadBackup(disk, false, what);
  std::int64_t position = file.value_or(1);
  if (position < 1 || position > static_cast<std::int64_t>(sets.size()))
    throw ServerError(
        {msg::FileIdNotFound(static_cast<int>(position), disk), msg::Terminating(what)});
  auto t = [](const char* name) { return *SqlType::Parse(name); };
  ResultSet rs;
  rs.columns = {{"LogicalName", t("nvarchar(128)")},
                {"PhysicalName", t("nvarchar(260)")},
                {"Type", t("char(1)")},
                {"FileGroupName", t("nvarchar(128)")},
                {"Size", t("numeric(20,0)")},
                {"MaxSize", t("numeric(20,0)")}};
  for (const BackupFile& f : sets[position - 1].files)
    rs.rows.push_back({f.logical_name, f.physical_name, std::string(1, f.type),
                       f.type == 'D' ? Value(std::string("PRIMARY")) : Value(std::monostate{}),
                       Pages(f.size) * kPageSize, kUnlimitedSize});
  return rs;
}

void Server::Restore(const Statement& st, Session* caller, std::vector<Output>& out) {
  const std::string what = "RESTORE DATABASE";
  auto fail = [&](std::vector<Message> messages) {
    messages.push_back(msg::Terminating(what));
    throw ServerError(std::move(messages));
  };
  if (st.norecovery) throw ServerError(msg::Unsupported("RESTORE WITH NORECOVERY"));
  const std::string& name = st.name[0];
  auto start = std::chrono::steady_clock::now();
  std::vector<BackupSet> sets = LoadBackup(st.disk, true, what);
  std::int64_t position = st.file.value_or(1);
  if (position < 1 || position > static_cast<std::int64_t>(sets.size()))
    fail({msg::FileIdNotFound(static_cast<int>(position), st.disk)});
  const BackupSet& set = sets[position - 1];

  // Where each file goes: MOVE, or where it was.
  std::vector<std::string> targets;
  for (const BackupFile& f : set.files)
    targets.push_back(f.physical_name);
  for (const auto& [logical, path] : st.moves) {
    bool found = false;
    for (std::size_t i = 0; i < set.files.size(); ++i) {
      if (EqualsIgnoreCase(set.files[i].logical_name, logical)) {
        targets[i] = path;
        found = true;
      }
    }
    if (!found) fail({msg::LogicalFileNotInDatabase(logical, name)});
  }

  auto existing = FindDatabase(name);
  if (existing) {
    if (!st.replace && !EqualsIgnoreCase(set.database_name, existing->name))
      fail({msg::BackupOfOtherDatabase(existing->name)});
    if (caller && EqualsIgnoreCase(caller->database_, existing->name))
      fail({msg::Error(3102, "RESTORE cannot process database '" + existing->name +
                                 "' because it is in use by this session. It is recommended "
                                 "that the master database be used when performing this "
                                 "operation.")});
    if (SessionsOn(existing->name, caller) > 0)
      fail({msg::Error(3101,
                       "Exclusive access could not be obtained because the database is "
                       "in use.")});
  }

  // Planning: every file needs a folder, a path of its own, and no other database's file.
  std::vector<Message> problems;
  std::vector<DatabaseRecord> others;
  for (DatabaseRecord& rec : AllDatabases())
    if (!existing || rec.dbid != existing->dbid) others.push_back(rec);
  for (std::size_t i = 0; i < set.files.size(); ++i) {
    const std::string& logical = set.files[i].logical_name;
    fs::path target(ToFileSystemPath(targets[i]));
    std::error_code ec;
    if (!target.has_parent_path() || !fs::is_directory(target.parent_path(), ec) ||
        fs::is_directory(target, ec)) {
      problems.push_back(msg::DirectoryLookupFailed(targets[i]));
      problems.push_back(msg::CannotRestoreFileTo(logical, targets[i]));
      continue;
    }
    for (std::size_t j = 0; j < i; ++j)
      if (Lexical(targets[j]) == Lexical(targets[i]))
        problems.push_back(msg::FileClaimedTwice(targets[i], set.files[j].logical_name, logical));
    bool owned_by_other = false;
    for (const DatabaseRecord& rec : others) {
      for (const BackupFile& f : rec.files) {
        if (Lexical(f.physical_name) != Lexical(targets[i])) continue;
        problems.push_back(msg::FileInUse(targets[i], rec.name));
        problems.push_back(msg::CannotRestoreFileTo(logical, targets[i]));
        owned_by_other = true;
      }
    }
    bool owned_by_target = false;
    if (existing)
      for (const BackupFile& f : existing->files)
        owned_by_target |= Lexical(f.physical_name) == Lexical(targets[i]);
    if (!owned_by_other && !owned_by_target && !st.replace && fs::exists(target, ec))
      problems.push_back(msg::FileExistsNoReplace(targets[i]));
  }
  if (!problems.empty()) {
    problems.push_back(msg::RestorePlanProblems());
    fail(problems);
  }

  // Carry it out: the old database goes, the files are written, the catalog learns the new one.
  if (existing) {
    for (Session* s : sessions_)
      if (s != caller && EqualsIgnoreCase(s->database_, existing->name)) {
        s->killed_ = true;
        s->catalog_.reset();
        s->db_.reset();
      }
    Db master(MasterPath(), false);
    master.Exec("BEGIN IMMEDIATE");
    master.Rows("DELETE FROM sysaltfiles WHERE dbid = ?1", {existing->dbid});
    master.Rows("DELETE FROM sysdatabases WHERE dbid = ?1", {existing->dbid});
    master.Exec("COMMIT");
    for (const BackupFile& f : existing->files) {
      bool reused = false;
      for (const std::string& t : targets)
        reused |= Lexical(t) == Lexical(f.physical_name);
      std::error_code ec;
      if (!reused) fs::remove(ToFileSystemPath(f.physical_name), ec);
    }
  }
  std::vector<BackupFile> restored;
  const BackupFile* primary = PrimaryFile(set.files);
  std::int64_t total_pages = 0;
  std::vector<Message> processed;
  for (std::size_t i = 0; i < set.files.size(); ++i) {
    const BackupFile& f = set.files[i];
    std::string content = &f == primary ? set.data : SecondaryFileContent(name, f);
    WriteFileAtomically(ToFileSystemPath(targets[i]), content);
    BackupFile r = f;
    r.physical_name = targets[i];
    r.size = static_cast<std::int64_t>(content.size());
    restored.push_back(r);
    std::int64_t pages = &f == primary ? Pages(f.size) : 1;
    total_pages += pages;
    processed.push_back(
        msg::ProcessedPages(pages, name, f.logical_name, static_cast<int>(position)));
  }
  try {
    Db check(ToFileSystemPath(targets[primary - set.files.data()]), false);
    Catalog::Initialise(check);
  } catch (const ServerError&) {
    for (const std::string& t : targets) {
      std::error_code ec;
      fs::remove(ToFileSystemPath(t), ec);
    }
    fail({msg::MediaIncorrectlyFormed(st.disk)});
  }
  RegisterDatabase(name, restored);
  for (Message& m : processed)
    out.push_back(std::move(m));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int ms = std::max(1, static_cast<int>(seconds * 1000));
  double mb_per_sec = static_cast<double>(total_pages * kPageSize) / 1048576.0 / (ms / 1000.0);
  char buf[200];
  std::snprintf(buf, sizeof buf,
                "RESTORE DATABASE successfully processed %lld pages in %d.%03d seconds "
                "(%.3f MB/sec).",
                static_cast<long long>(total_pages), ms / 1000, ms % 1000, mb_per_sec);
  out.push_back(msg::Info(3014, buf));
}

void Server::DropDatabase(const std::string& name, Session* caller) {
  auto rec = FindDatabase(name);
  if (!rec) throw ServerError(msg::CannotDropDatabase(name));
  if (EqualsIgnoreCase(rec->name, "master") || EqualsIgnoreCase(rec->name, "tempdb") ||
      EqualsIgnoreCase(rec->name, "model") || EqualsIgnoreCase(rec->name, "msdb"))
    throw ServerError(msg::Error(
        3708, "Cannot drop the database '" + rec->name + "' because it is a system database."));
  if ((caller && EqualsIgnoreCase(caller->database_, rec->name)) ||
      SessionsOn(rec->name, caller) > 0)
    throw ServerError(msg::DatabaseInUse(rec->name));
  Db master(MasterPath(), false);
  master.Exec("BEGIN IMMEDIATE");
  master.Rows("DELETE FROM sysaltfiles WHERE dbid = ?1", {rec->dbid});
  master.Rows("DELETE FROM sysdatabases WHERE dbid = ?1", {rec->dbid});
  master.Exec("COMMIT");
  // As the real server does, the files of an offline database stay on disk.
  if (rec->status & kOffline) return;
  for (const BackupFile& f : rec->files) {
    std::error_code ec;
    fs::remove(ToFileSystemPath(f.physical_name), ec);
  }
}

void Server::AlterDatabase(const Statement& st, Session* caller) {
  const std::string& name = st.name[0];
  auto rec = FindDatabase(name);
  if (!rec) throw ServerError({msg::AlterDatabaseNoAccess(name), msg::AlterDatabaseFailed()});
  if (EqualsIgnoreCase(rec->name, "master"))
    throw ServerError({msg::Error(5058, "Option 'OFFLINE' cannot be set in database 'master'."),
                       msg::AlterDatabaseFailed()});
  bool offline = (rec->status & kOffline) != 0;
  if (st.set_offline == offline) return;
  if (st.set_offline) {
    if (caller && EqualsIgnoreCase(caller->database_, rec->name))
      throw ServerError(
          {msg::Error(5064, "Changes to the state or options of database '" + rec->name +
                                "' cannot be made at this time. The database is in "
                                "single-user mode, and a user is currently "
                                "connected to it."),
           msg::AlterDatabaseFailed()});
    if (SessionsOn(rec->name, caller) > 0) {
      if (!st.rollback_immediate)
        throw ServerError({msg::Error(5061,
                                      "ALTER DATABASE failed because a lock could not be "
                                      "placed on database '" +
                                          rec->name + "'. Try again later."),
                           msg::AlterDatabaseFailed()});
      // ROLLBACK IMMEDIATE: the other sessions lose their connection at once.
      for (Session* s : sessions_)
        if (s != caller && EqualsIgnoreCase(s->database_, rec->name)) {
          s->killed_ = true;
          s->catalog_.reset();
          s->db_.reset();
        }
    }
  }
  Db master(MasterPath(), false);
  master.Rows("UPDATE sysdatabases SET status = ?1 WHERE dbid = ?2",
              {st.set_offline ? (rec->status | kOffline) : (rec->status & ~kOffline), rec->dbid});
}

// ---------------------------------------------------------------- Session

Session::Session(Server& server, std::string database, const std::string& file)
    : server_(server), database_(std::move(database)) {
  db_ = std::make_unique<Db>(file, false);
  bool is_master = EqualsIgnoreCase(database_, "master");
  if (!is_master) db_->Rows("ATTACH DATABASE ?1 AS master", {server_.MasterPath()});
  Catalog::Initialise(*db_);
  catalog_ = std::make_unique<Catalog>(*db_, database_, !is_master);
  server_.sessions_.push_back(this);
}

Session::~Session() {
  auto& list = server_.sessions_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

BatchResult Session::Execute(const std::string& batch, BatchControl* control) {
  Trace(batch);
  BatchResult result;
  if (killed_) {
    result.outputs.push_back(msg::SessionKilled());
    return result;
  }
  try {
    std::vector<Statement> statements = ParseBatch(batch);
    for (const Statement& st : statements) {
      if (killed_) throw ServerError(msg::SessionKilled());
      if (st.kind == Statement::Kind::kWaitFor) {
        if (!control) {
          std::this_thread::sleep_for(std::chrono::milliseconds(st.delay_ms));
        } else if (!control->Wait(st.delay_ms)) {
          result.cancelled = true;
          return result;
        }
        continue;
      }
      Run(st, result.outputs);
    }
  } catch (const ServerError& e) {
    for (const Message& m : e.messages())
      result.outputs.push_back(m);
  } catch (const std::exception& e) {
    result.outputs.push_back(msg::Error(50000, std::string("Internal error: ") + e.what()));
  }
  return result;
}

void Session::SelectInto(const Statement& st, std::vector<Output>& out) {
  std::string name = catalog_->LocalName(st.select->into);
  if (catalog_->Exists(name)) throw ServerError(msg::ObjectExists(name));
  Translator translator(*catalog_);
  TranslatedSelect sel = translator.TranslateSelect(*st.select);
  std::vector<Column> columns = sel.columns;
  std::string decls;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name.empty())
      throw ServerError(
          msg::Error(1038,
                     "An object or column name is missing or empty. For SELECT INTO statements, "
                     "verify each column has a name. For other statements, look for empty alias "
                     "names. Aliases defined as \"\" or [] are not allowed. Change the alias to a "
                     "valid name.",
                     15));
    for (std::size_t j = 0; j < i; ++j)
      if (EqualsIgnoreCase(columns[j].name, columns[i].name))
        throw ServerError(msg::DuplicateColumn(columns[i].name, name));
    if (columns[i].type.IsNull()) columns[i].type = SqlType::Of(TypeKind::kInt);
    decls += (i ? ", " : "") + Translator::ColumnDecl(columns[i].name, columns[i].type, false);
  }
  StatementTransaction tx(*db_);
  db_->Exec("CREATE TABLE " + QuoteId(name) + " (" + decls + ")");
  db_->Exec("INSERT INTO " + QuoteId(name) + " SELECT * FROM (" + sel.sql + ")");
  std::int64_t count = db_->Changes();
  catalog_->Record(name, columns);
  tx.Commit();
  out.push_back(RowCount{count});
}

void Session::Run(const Statement& st, std::vector<Output>& out) {
  using K = Statement::Kind;
  Translator translator(*catalog_);
  switch (st.kind) {
    case K::kSelect: {
      if (!st.select->into.empty()) return SelectInto(st, out);
      TranslatedSelect sel = translator.TranslateSelect(*st.select);
      ResultSet rs;
      rs.columns = sel.columns;
      for (Column& c : rs.columns)
        if (c.type.IsNull()) c.type = SqlType::Of(TypeKind::kInt);
      Stmt stmt(*db_, sel.sql);
      while (stmt.Step()) {
        std::vector<Value> row;
        for (int i = 0; i < stmt.ColumnCount(); ++i)
          row.push_back(stmt.ColumnValue(i));
        rs.rows.push_back(std::move(row));
      }
      std::int64_t count = static_cast<std::int64_t>(rs.rows.size());
      out.push_back(std::move(rs));
      out.push_back(RowCount{count});
      return;
    }
    case K::kCreateView: {
      std::string name = catalog_->LocalName(st.name);
      if (catalog_->Exists(name)) throw ServerError(msg::ObjectExists(name));
      if (!st.select->into.empty()) throw ServerError(msg::SyntaxNearKeyword("into"));
      if (!st.select->order_by.empty() && !st.select->top)
        throw ServerError(msg::Error(1033,
                                     "The ORDER BY clause is invalid in views, inline "
                                     "functions, derived tables, subqueries, and common "
                                     "table expressions, unless TOP or FOR XML is also "
                                     "specified.",
                                     15));
      TranslatedSelect sel = translator.TranslateSelect(*st.select);
      std::vector<Column> columns = sel.columns;
      for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].name.empty())
          throw ServerError(msg::Error(4511,
                                       "Create View or Function failed because no column "
                                       "name was specified for column " +
                                           std::to_string(i + 1) + "."));
        for (std::size_t j = 0; j < i; ++j)
          if (EqualsIgnoreCase(columns[j].name, columns[i].name))
            throw ServerError(msg::DuplicateViewColumn(columns[i].name, name));
        if (columns[i].type.IsNull()) columns[i].type = SqlType::Of(TypeKind::kInt);
      }
      StatementTransaction tx(*db_);
      db_->Exec("CREATE VIEW " + QuoteId(name) + " AS " + sel.sql);
      catalog_->Record(name, columns);
      tx.Commit();
      return;
    }
    case K::kCreateTable: {
      std::string name = catalog_->LocalName(st.name);
      if (catalog_->Exists(name)) throw ServerError(msg::ObjectExists(name));
      std::vector<Column> columns;
      std::string decls;
      for (const ColumnDef& def : st.columns) {
        for (const Column& c : columns)
          if (EqualsIgnoreCase(c.name, def.name))
            throw ServerError(msg::DuplicateColumn(def.name, name));
        columns.push_back(Column{def.name, def.type});
        std::string decl =
            Translator::ColumnDecl(def.name, def.type, def.not_null || def.primary_key);
        if (def.primary_key) decl += " PRIMARY KEY";
        if (def.default_value) {
          const Expr& d = *def.default_value;
          Value v;
          if (d.kind == ExprKind::kString) {
            v = d.text;
          } else if (d.kind == ExprKind::kInteger || d.kind == ExprKind::kNumber) {
            auto f = ParseSqlFloat(d.text);
            auto i = d.kind == ExprKind::kInteger ? ParseSqlInt(d.text) : std::nullopt;
            v = i ? Value(*i) : f ? Value(*f) : Value(std::monostate{});
          } else if (d.kind != ExprKind::kNull) {
            throw ServerError(msg::Unsupported("a DEFAULT that is not a constant"));
          }
          SqlType from = std::holds_alternative<std::string>(v) ? SqlType::VarChar(8000)
                                                                : SqlType::Of(TypeKind::kFloat);
          Value converted = ConvertValue(v, from, def.type, true);
          if (auto* s = std::get_if<std::string>(&converted)) {
            decl += " DEFAULT " + QuoteText(*s);
          } else if (auto* i = std::get_if<std::int64_t>(&converted)) {
            decl += " DEFAULT " + std::to_string(*i);
          } else if (auto* f = std::get_if<double>(&converted)) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.17g", *f);
            decl += std::string(" DEFAULT ") + buf;
          }
        }
        decls += (decls.empty() ? "" : ", ") + decl;
      }
      if (!st.primary_key.empty()) {
        std::string keys;
        for (const std::string& k : st.primary_key) {
          bool found = false;
          for (const Column& c : columns)
            found |= EqualsIgnoreCase(c.name, k);
          if (!found)
            throw ServerError(msg::Error(1911, "Column name '" + k +
                                                   "' does not exist in the target "
                                                   "table or view."));
          keys += (keys.empty() ? "" : ", ") + QuoteId(k);
        }
        decls += ", PRIMARY KEY (" + keys + ")";
      }
      StatementTransaction tx(*db_);
      db_->Exec("CREATE TABLE " + QuoteId(name) + " (" + decls + ")");
      catalog_->Record(name, columns);
      tx.Commit();
      return;
    }
    case K::kInsert: {
      std::vector<std::string> statements = translator.TranslateInsert(st);
      StatementTransaction tx(*db_);
      std::int64_t count = 0;
      for (const std::string& sql : statements) {
        db_->Exec(sql);
        count += db_->Changes();
      }
      tx.Commit();
      out.push_back(RowCount{count});
      return;
    }
    case K::kUpdate:
    case K::kDelete: {
      std::string sql =
          st.kind == K::kUpdate ? translator.TranslateUpdate(st) : translator.TranslateDelete(st);
      StatementTransaction tx(*db_);
      db_->Exec(sql);
      std::int64_t count = db_->Changes();
      tx.Commit();
      out.push_back(RowCount{count});
      return;
    }
    case K::kAlterTableAdd: {
      ObjectInfo info = catalog_->Require(st.name);
      if (info.is_view || info.schema != "main")
        throw ServerError(msg::Error(
            4929, "Cannot alter the table '" + JoinName(st.name) + "' because it is not a table."));
      std::vector<Column> columns = info.columns;
      StatementTransaction tx(*db_);
      for (const ColumnDef& def : st.columns) {
        for (const Column& c : columns)
          if (EqualsIgnoreCase(c.name, def.name))
            throw ServerError(msg::DuplicateColumn(def.name, info.name));
        if ((def.not_null || def.primary_key) && !def.default_value)
          throw ServerError(msg::Error(
              4901,
              "ALTER TABLE only allows columns to be added that can contain nulls, or have "
              "a DEFAULT definition specified. Column '" +
                  def.name + "' cannot be added to table '" + info.name + "'."));
        if (def.default_value) throw ServerError(msg::Unsupported("ALTER TABLE ADD with DEFAULT"));
        db_->Exec("ALTER TABLE " + QuoteId(info.name) + " ADD COLUMN " +
                  Translator::ColumnDecl(def.name, def.type, false));
        columns.push_back(Column{def.name, def.type});
      }
      catalog_->Record(info.name, columns);
      tx.Commit();
      return;
    }
    case K::kDropTable:
    case K::kDropView: {
      bool view = st.kind == K::kDropView;
      auto info = catalog_->Find(st.name);
      if (!info || info->is_view != view || info->schema != "main")
        throw ServerError(msg::CannotDropObject(view ? "view" : "table", JoinName(st.name)));
      StatementTransaction tx(*db_);
      db_->Exec(std::string(view ? "DROP VIEW " : "DROP TABLE ") + QuoteId(info->name));
      catalog_->Forget(info->name);
      tx.Commit();
      return;
    }
    case K::kCreateDatabase:
      server_.CreateDatabase(st.name[0], {});
      return;
    case K::kDropDatabase:
      server_.DropDatabase(st.name[0], this);
      return;
    case K::kAlterDatabase:
      server_.AlterDatabase(st, this);
      return;
    case K::kRestoreHeaderOnly: {
      ResultSet rs = server_.HeaderOnly(st.disk);
      std::int64_t count = static_cast<std::int64_t>(rs.rows.size());
      out.push_back(std::move(rs));
      out.push_back(RowCount{count});
      return;
    }
    case K::kRestoreFileListOnly: {
      ResultSet rs = server_.FileListOnly(st.disk, st.file);
      std::int64_t count = static_cast<std::int64_t>(rs.rows.size());
      out.push_back(std::move(rs));
      out.push_back(RowCount{count});
      return;
    }
    case K::kRestoreDatabase:
      server_.Restore(st, this, out);
      return;
    case K::kSetOption:
    case K::kWaitFor:  // Execute waits
      return;
  }
}

}  // namespace finprep::emu
