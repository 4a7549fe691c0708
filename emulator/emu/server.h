// The engine: a server over a data folder, sessions on its databases, and batch execution.
//
// The data folder holds the catalog database master.mdf (tables sysdatabases and sysaltfiles)
// with a small master.ldf.  Every other database is one SQLite file at the path of its primary
// data file, plus small files for its other files.  Several Server objects, in one process or
// several, may use one data folder one at a time.
//
// Transport-agnostic: Session::Execute takes a batch of T-SQL and returns everything it produced
// in order (result sets with column names and types, row counts, informational messages, the
// error that ended it with SQL Server's number, severity, state and text).  A Server and its
// sessions are used from one thread at a time, and the Server must outlive its sessions.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emu/ast.h"
#include "emu/backup.h"
#include "emu/types.h"

namespace finprep::emu {

class Db;
class Catalog;
class Server;

// How a batch spends the time a WAITFOR DELAY asks for.  Without one the thread sleeps; a
// transport whose client can cancel a batch waits on its own terms (and may let other sessions
// use the server meanwhile: a batch is between two statements while it waits).
class BatchControl {
 public:
  virtual ~BatchControl() = default;
  // Waits `ms` milliseconds.  Returns false when the batch is to stop at once (its client
  // cancelled it).
  virtual bool Wait(std::int64_t ms) = 0;
};

class Session {
 public:
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Runs a batch.  When the environment variable FINPREP_TRACE names a file, the batch is first
  // appended to it, followed by a line holding only GO.  `control`, when given, carries out the
  // waits of WAITFOR DELAY; a batch it cancels stops there with `cancelled` set.
  BatchResult Execute(const std::string& batch, BatchControl* control = nullptr);
  // The current database's name as the catalog holds it.
  const std::string& database() const { return database_; }

 private:
  friend class Server;
  Session(Server& server, std::string database, const std::string& file);
  void Run(const Statement& st, std::vector<Output>& out);
  void SelectInto(const Statement& st, std::vector<Output>& out);

  Server& server_;
  std::string database_;
  std::unique_ptr<Db> db_;
  std::unique_ptr<Catalog> catalog_;
  bool killed_ = false;
};

class Server {
 public:
  // Opens a data folder, creating it and its catalog when missing.  Throws ServerError.
  explicit Server(std::string data_dir);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  const std::string& data_dir() const { return data_dir_; }

  // A session on a database (name compared without case).  Throws ServerError: 4060 for a
  // database that does not exist, 942 for one that is offline.
  std::unique_ptr<Session> Connect(const std::string& database);

  // Creates an empty database; files without a physical name go to the data folder.
  void CreateDatabase(const std::string& name, std::vector<BackupFile> files);
  // A database as a backup set would hold it: its files and the image of its data file.
  BackupSet Snapshot(const std::string& name);

  // The answers of RESTORE HEADERONLY and RESTORE FILELISTONLY for a backup device.
  // Throw ServerError as those statements fail.
  static ResultSet HeaderOnly(const std::string& disk);
  static ResultSet FileListOnly(const std::string& disk, std::optional<std::int64_t> file);

 private:
  friend class Session;
  struct DatabaseRecord;
  std::string MasterPath() const;
  std::optional<DatabaseRecord> FindDatabase(const std::string& name);
  std::vector<DatabaseRecord> AllDatabases();
  void RegisterDatabase(const std::string& name, const std::vector<BackupFile>& files);
  void Restore(const Statement& st, Session* caller, std::vector<Output>& out);
  void DropDatabase(const std::string& name, Session* caller);
  void AlterDatabase(const Statement& st, Session* caller);
  static std::vector<BackupSet> LoadBackup(const std::string& disk, bool with_data,
                                           const std::string& what);
  int SessionsOn(const std::string& database, const Session* except) const;

  std::string data_dir_;
  std::vector<Session*> sessions_;
};

}  // namespace finprep::emu
