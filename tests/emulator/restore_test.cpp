// Backups, RESTORE and the catalog: HEADERONLY and FILELISTONLY, RESTORE DATABASE with FILE, MOVE
// and REPLACE and its failures, sysdatabases, OFFLINE and DROP DATABASE.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "emu/backup.h"
#include "emu/paths.h"
#include "emu_test_util.h"

namespace fs = std::filesystem;

namespace finprep::emu {
namespace {

using testing::ColumnNames;
using testing::ErrorNumbers;
using testing::Fails;
using testing::Ok;
using testing::Query;
using testing::Rows;
using testing::TempDir;

// Two sets: "alpha" (logical files A_Data, A_Log) and "beta" (B_Data, B_Log, and an extra data
// file B_More whose original path is `extra_path`), each with one row telling its name.
void MakeBackup(const std::string& path, const std::string& extra_path) {
  TempDir work;
  std::vector<BackupSet> sets;
  Server server(work.path());
  struct Source {
    const char* name;
    std::vector<BackupFile> files;
  } sources[] = {
      {"alpha", {{"A_Data", 'D', "", 0}, {"A_Log", 'L', "", 0}}},
      {"beta", {{"B_Data", 'D', "", 0}, {"B_Log", 'L', "", 0}, {"B_More", 'D', "", 0}}},
  };
  for (const Source& source : sources) {
    server.CreateDatabase(source.name, source.files);
    {
      auto s = server.Connect(source.name);
      Ok(*s, std::string("CREATE TABLE who (name varchar(10)) INSERT INTO who VALUES ('") +
                 source.name + "')");
    }
    BackupSet set = server.Snapshot(source.name);
    for (BackupFile& f : set.files)
      f.physical_name = f.logical_name == "B_More" ? extra_path : "D:\\Data\\" + f.logical_name;
    set.backup_name = std::string(source.name) + " backup";
    sets.push_back(set);
  }
  WriteBackup(path, sets);
}

class Restore : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "work");
    bak = dir / "work/xy.temp";
    MakeBackup(bak, dir / "work/beta_more.ndf");
    server = std::make_unique<Server>(dir / "data");
    master = server->Connect("master");
  }

  // The plug-in's restore statement.
  std::string RestoreSql(const std::string& with, const std::string& data = "A_Data",
                         const std::string& log = "A_Log", const std::string& folder = "") {
    std::string work = folder.empty() ? dir / "work/" : folder;
    return "restore database vorira from Disk='" + bak + "' WITH " + with + " RECOVERY, MOVE '" +
           data + "' TO '" + work + "vorira.mdf',MOVE '" + log + "' TO '" + work +
           "vorira.ldf', REPLACE ";
  }

  TempDir dir;
  std::string bak;
  std::unique_ptr<Server> server;
  std::unique_ptr<Session> master;
};

TEST_F(Restore, ListsSetsAndFiles) {
  BatchResult r = Ok(*master, "RESTORE HEADERONLY From Disk='" + bak + "'");
  const ResultSet* rs = r.FirstResultSet();
  ASSERT_NE(rs, nullptr);
  std::vector<std::string> names = ColumnNames(*rs);
  names.resize(19);
  EXPECT_EQ(names,
            (std::vector<std::string>{
                "BackupName", "BackupDescription", "BackupType", "ExpirationDate", "Compressed",
                "Position", "DeviceType", "UserName", "ServerName", "DatabaseName",
                "DatabaseVersion", "DatabaseCreationDate", "BackupSize", "FirstLSN", "LastLSN",
                "CheckpointLSN", "DatabaseBackupLSN", "BackupStartDate", "BackupFinishDate"}));
  Rows rows = testing::TextRows(*rs);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ((std::vector<std::string>{rows[0][0], rows[0][5], rows[0][9]}),
            (std::vector<std::string>{"alpha backup", "1", "alpha"}));
  EXPECT_EQ((std::vector<std::string>{rows[1][5], rows[1][9]}),
            (std::vector<std::string>{"2", "beta"}));

  r = Ok(*master, "Restore FileListOnly From Disk='" + bak + "'");
  rs = r.FirstResultSet();
  ASSERT_NE(rs, nullptr);
  names = ColumnNames(*rs);
  EXPECT_EQ(names, (std::vector<std::string>{"LogicalName", "PhysicalName", "Type", "FileGroupName",
                                             "Size", "MaxSize"}));
  rows = testing::TextRows(*rs);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ((std::vector<std::string>{rows[0][0], rows[0][2], rows[0][3], rows[1][0], rows[1][2],
                                      rows[1][3]}),
            (std::vector<std::string>{"A_Data", "D", "PRIMARY", "A_Log", "L", "NULL"}));
  EXPECT_EQ(Query(*master, "RESTORE FILELISTONLY FROM DISK='" + bak + "' WITH FILE=2").size(), 3u);
  EXPECT_EQ(
      ErrorNumbers(master->Execute("RESTORE FILELISTONLY FROM DISK='" + bak + "' WITH FILE=3")),
      (std::vector<int>{4038, 3013}));
}

TEST_F(Restore, RestoresTheChosenSetWithItsFilesMoved) {
  BatchResult r = Ok(*master, RestoreSql("file=2,", "B_Data", "B_Log"));
  std::vector<int> infos;
  for (const Output& o : r.outputs)
    if (auto* m = std::get_if<Message>(&o)) infos.push_back(m->number);
  EXPECT_EQ(infos, (std::vector<int>{4035, 4035, 4035, 3014}));
  EXPECT_TRUE(fs::exists(dir / "work/vorira.mdf"));
  EXPECT_TRUE(fs::exists(dir / "work/vorira.ldf"));
  // A file the statement does not move goes where it was.
  EXPECT_TRUE(fs::exists(dir / "work/beta_more.ndf"));
  EXPECT_EQ(Query(*master, "select name, filename, status from sysdatabases WHERE name='VORIRA'"),
            (Rows{{"vorira", dir / "work/vorira.mdf", "0"}}));
  auto vorira = server->Connect("VORIRA");
  EXPECT_EQ(Query(*vorira, "SELECT name FROM who"), (Rows{{"beta"}}));
}

TEST_F(Restore, WindowsDrivePathsStandForFilesUnderTheirDrive) {
  // As under Wine: Z: is the root folder; another letter is mapped to a folder of its own.
  auto windows = [](std::string path) {
    for (char& c : path)
      if (c == '/') c = '\\';
    return path;
  };
  MapDrive('q', dir / "work");
  struct Unmap {
    ~Unmap() { MapDrive('Q', ""); }
  } unmap;
  const std::string z_bak = "Z:" + windows(bak);
  const std::string statement = "restore database vorira from Disk='" + z_bak +
                                "' WITH RECOVERY, MOVE 'A_Data' TO 'Q:\\vorira.mdf', "
                                "MOVE 'A_Log' TO 'q:/vorira.ldf', REPLACE";
  Ok(*master, statement);
  EXPECT_TRUE(fs::exists(dir / "work/vorira.mdf"));
  EXPECT_TRUE(fs::exists(dir / "work/vorira.ldf"));
  // The catalog shows the path as the statement wrote it.
  EXPECT_EQ(Query(*master, "select filename from sysdatabases WHERE name='VORIRA'"),
            (Rows{{"Q:\\vorira.mdf"}}));
  EXPECT_EQ(Query(*server->Connect("vorira"), "SELECT name FROM who"), (Rows{{"alpha"}}));
  // A drive that is not mapped names no file here.
  EXPECT_EQ(ErrorNumbers(master->Execute("RESTORE HEADERONLY FROM DISK='Y:" + windows(bak) + "'")),
            (std::vector<int>{3201, 3013}));
  EXPECT_EQ(ToFileSystemPath("Z:\\tmp\\run\\TempLateTemp\\xy.temp"),
            "/tmp/run/TempLateTemp/xy.temp");
  EXPECT_EQ(ToFileSystemPath("relative\\x.bak"), "relative\\x.bak");
}

TEST_F(Restore, FailsAsTheServerDoes) {
  std::ofstream(dir / "work/not.bak") << "just text, not a backup";
  std::string truncated = dir / "work/cut.bak";
  {
    std::ifstream in(bak, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(truncated, std::ios::binary) << all.substr(0, all.size() - 100);
  }
  std::string not_bak = dir / "work/not.bak";
  struct Case {
    std::string sql;
    std::vector<int> errors;
  } cases[] = {
      {"restore database vorira from Disk='" + not_bak + "' WITH RECOVERY", {3241, 3013}},
      {"RESTORE HEADERONLY From Disk='" + not_bak + "'", {3241, 3013}},
      {"restore database vorira from Disk='" + truncated + "'", {3241, 3013}},
      {"RESTORE HEADERONLY From Disk='" + dir / "work/missing.bak'", {3201, 3013}},
      {RestoreSql("file=3,"), {4038, 3013}},
      {RestoreSql("", "Nope_Data"), {3234, 3013}},
      {RestoreSql("", "A_Data", "A_Log", dir / "no/such/folder/"),
       {5133, 3156, 5133, 3156, 3119, 3013}},
      {"restore database vorira from Disk='" + bak + "'", {5133, 3156, 5133, 3156, 3119, 3013}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ErrorNumbers(master->Execute(c.sql)), c.errors) << c.sql;

  Message m = Fails(*master, "RESTORE HEADERONLY From Disk='" + not_bak + "'");
  EXPECT_EQ(m.text, "The media family on device '" + not_bak +
                        "' is incorrectly formed. SQL Server cannot process this media family.");
  m = Fails(*master, RestoreSql("", "Nope_Data"));
  EXPECT_EQ(m.text,
            "Logical file 'Nope_Data' is not part of database 'vorira'. Use RESTORE FILELISTONLY "
            "to list the logical file names.");
  EXPECT_TRUE(Query(*master, "select * from sysdatabases WHERE name='VORIRA'").empty());
}

TEST_F(Restore, ExistingDatabasesAndTheirFiles) {
  Ok(*master, RestoreSql(""));
  std::string work = dir / "work/";
  // Without REPLACE, a database of another name is not overwritten.
  EXPECT_EQ(ErrorNumbers(master->Execute("restore database vorira from Disk='" + bak +
                                         "' WITH file=2, MOVE 'B_Data' TO '" + work +
                                         "b.mdf', MOVE 'B_Log' TO '" + work + "b.ldf'")),
            (std::vector<int>{3154, 3013}));
  // Another database's files are not taken, REPLACE or not.
  EXPECT_EQ(ErrorNumbers(master->Execute(
                "restore database other from Disk='" + bak + "' WITH MOVE 'A_Data' TO '" + work +
                "vorira.mdf', MOVE 'A_Log' TO '" + work + "o.ldf', REPLACE")),
            (std::vector<int>{1834, 3156, 3119, 3013}));
  // A file that belongs to no database is overwritten only with REPLACE.
  std::ofstream(work + "stray.ldf") << "x";
  std::string stray = "restore database other from Disk='" + bak + "' WITH MOVE 'A_Data' TO '" +
                      work + "o.mdf', MOVE 'A_Log' TO '" + work + "stray.ldf'";
  EXPECT_EQ(ErrorNumbers(master->Execute(stray)), (std::vector<int>{3142, 3119, 3013}));
  Ok(*master, stray + ", REPLACE");
  // REPLACE over an existing database of another name.
  Ok(*master, RestoreSql("file=2,", "B_Data", "B_Log"));
  auto vorira = server->Connect("vorira");
  EXPECT_EQ(Query(*vorira, "SELECT name FROM who"), (Rows{{"beta"}}));
}

TEST_F(Restore, OfflineAndDrop) {
  Ok(*master, RestoreSql(""));
  auto user = server->Connect("vorira");
  EXPECT_EQ(Fails(*master, "drop DATABASE VORIRA").number, 3702);  // in use
  Ok(*master, " ALTER DATABASE VORIRA SET OFFLINE WITH ROLLBACK IMMEDIATE");
  // The other session was disconnected; new ones are refused.
  EXPECT_EQ(Fails(*user, "SELECT name FROM who").number, 596);
  try {
    server->Connect("vorira");
    ADD_FAILURE() << "connected to an offline database";
  } catch (const ServerError& e) {
    EXPECT_EQ(e.messages().front().number, 942);
  }
  EXPECT_EQ(Query(*master, "select status from sysdatabases WHERE name='vorira'"), (Rows{{"512"}}));
  Ok(*master, "drop DATABASE VORIRA");
  EXPECT_TRUE(Query(*master, "select * from sysdatabases WHERE name='VORIRA'").empty());
  // Dropping an offline database leaves its files on disk, as the server does ...
  EXPECT_TRUE(fs::exists(dir / "work/vorira.mdf"));
  // ... and a restore with REPLACE takes them over.
  Ok(*master, RestoreSql(""));
  Ok(*master, "drop DATABASE VORIRA");  // online: the files go
  EXPECT_FALSE(fs::exists(dir / "work/vorira.mdf"));
  EXPECT_FALSE(fs::exists(dir / "work/vorira.ldf"));

  Message m = Fails(*master, "drop DATABASE VORIRA");
  EXPECT_EQ(m.number, 3701);
  EXPECT_EQ(m.text,
            "Cannot drop the database 'VORIRA', because it does not exist or you do not have "
            "permission.");
  EXPECT_EQ(ErrorNumbers(master->Execute("ALTER DATABASE VORIRA SET OFFLINE")),
            (std::vector<int>{5011, 5069}));
  EXPECT_EQ(Fails(*master, "drop database master").number, 3708);
  try {
    server->Connect("vorira");
    ADD_FAILURE() << "connected to a dropped database";
  } catch (const ServerError& e) {
    EXPECT_EQ(e.messages().front().number, 4060);
    EXPECT_EQ(e.messages().front().text,
              "Cannot open database \"vorira\" requested by the login. The login failed.");
  }
}

TEST_F(Restore, ServersShareOneDataFolder) {
  Ok(*master, RestoreSql(""));
  master.reset();
  server.reset();
  Server again(dir / "data");
  auto s = again.Connect("Vorira");
  EXPECT_EQ(Query(*s, "SELECT name FROM who"), (Rows{{"alpha"}}));
  // The catalog is readable from every database.
  EXPECT_EQ(Query(*s, "select name from master..sysdatabases where dbid > 4"), (Rows{{"vorira"}}));
}

}  // namespace
}  // namespace finprep::emu
