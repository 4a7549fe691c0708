// finprep-emu: builds backup files from scripts, lists them, and runs a statement on a data
// folder.
#include <stdlib.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "emu/backup.h"
#include "emu/parser.h"
#include "emu/server.h"
#include "platform/text.h"

namespace fs = std::filesystem;
using namespace finprep::emu;

namespace {

void PrintMessage(const Message& m, std::ostream& out) {
  if (m.IsError())
    out << "Msg " << m.number << ", Level " << m.severity << ", State " << m.state << "\n";
  out << m.text << "\n";
}

void PrintResultSet(const ResultSet& rs, std::ostream& out) {
  for (std::size_t i = 0; i < rs.columns.size(); ++i)
    out << (i ? "\t" : "") << rs.columns[i].name;
  out << "\n";
  for (const auto& row : rs.rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      auto text = FormatValue(row[i], rs.columns[i].type);
      out << (i ? "\t" : "") << (text ? *text : "NULL");
    }
    out << "\n";
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Now() {
  auto t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[96];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S.000", &tm);
  return buf;
}

struct SetSpec {
  std::string database;
  std::string script;
  std::vector<BackupFile> files;
};

// "A_Data:D,A_Log:L"
std::vector<BackupFile> ParseFiles(const std::string& list) {
  std::vector<BackupFile> files;
  std::stringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) {
    std::size_t colon = item.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 2 != item.size() ||
        (item[colon + 1] != 'D' && item[colon + 1] != 'L'))
      throw std::runtime_error("--files: expected LOGICAL:D or LOGICAL:L, got '" + item + "'");
    files.push_back(BackupFile{item.substr(0, colon), item[colon + 1], "", 0});
  }
  if (files.empty()) throw std::runtime_error("--files: empty list");
  return files;
}

BackupSet BuildSet(const SetSpec& spec) {
  std::string pattern = (fs::temp_directory_path() / "finprep-emu-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
  const std::string dir = pattern;
  struct Cleanup {
    std::string dir;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
  } cleanup{dir};
  std::string script = ReadFile(spec.script);
  BackupSet set;
  {
    Server server(dir);
    server.CreateDatabase(spec.database, spec.files);
    {
      auto session = server.Connect(spec.database);
      std::vector<std::string> batches = SplitBatches(script);
      for (std::size_t i = 0; i < batches.size(); ++i) {
        BatchResult r = session->Execute(batches[i]);
        if (const Message* e = r.FirstError()) {
          std::ostringstream what;
          what << spec.script << ": batch " << (i + 1) << ": Msg " << e->number << ": " << e->text;
          throw std::runtime_error(what.str());
        }
      }
    }
    set = server.Snapshot(spec.database);
  }
  set.backup_name = spec.database + " backup";
  set.user_name = "sa";
  set.server_name = "FINPREP-EMU";
  set.start_date = set.finish_date = Now();
  bool primary_seen = false;
  for (BackupFile& f : set.files) {
    const char* ext = f.type == 'L' ? ".ldf" : primary_seen ? ".ndf" : ".mdf";
    if (f.type == 'D') primary_seen = true;
    f.physical_name = "D:\\Data\\" + f.logical_name + ext;
  }
  return set;
}

int Backup(const std::string& out, const std::vector<std::string>& args) {
  std::vector<SetSpec> specs;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--set") {
      if (i + 2 >= args.size()) throw std::runtime_error("--set needs DBNAME and SCRIPT");
      SetSpec spec;
      spec.database = args[i + 1];
      spec.script = args[i + 2];
      spec.files = {{spec.database + "_Data", 'D', "", 0}, {spec.database + "_Log", 'L', "", 0}};
      specs.push_back(spec);
      i += 2;
    } else if (args[i] == "--files") {
      if (specs.empty()) throw std::runtime_error("--files must follow a --set");
      if (i + 1 >= args.size()) throw std::runtime_error("--files needs a list");
      specs.back().files = ParseFiles(args[++i]);
    } else {
      throw std::runtime_error("unexpected argument '" + args[i] + "'");
    }
  }
  if (specs.empty()) throw std::runtime_error("at least one --set DBNAME SCRIPT is needed");
  std::vector<BackupSet> sets;
  for (const SetSpec& spec : specs)
    sets.push_back(BuildSet(spec));
  WriteBackup(out, sets);
  return 0;
}

int List(const std::string& backup) {
  ResultSet header = Server::HeaderOnly(backup);
  std::cout << "HEADERONLY\n";
  PrintResultSet(header, std::cout);
  for (std::size_t i = 0; i < header.rows.size(); ++i) {
    std::cout << "\nFILELISTONLY FILE=" << (i + 1) << "\n";
    PrintResultSet(Server::FileListOnly(backup, static_cast<std::int64_t>(i + 1)), std::cout);
  }
  return 0;
}

int Query(const std::string& data_dir, const std::string& database, const std::string& sql) {
  Server server(data_dir);
  auto session = server.Connect(database);
  BatchResult result = session->Execute(sql);
  bool first = true;
  int rc = 0;
  for (const Output& o : result.outputs) {
    if (auto* rs = std::get_if<ResultSet>(&o)) {
      if (!first) std::cout << "\n";
      first = false;
      PrintResultSet(*rs, std::cout);
    } else if (auto* m = std::get_if<Message>(&o)) {
      PrintMessage(*m, std::cerr);
      if (m->IsError()) rc = 1;
    }
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"finprep-emu: the SQL Server emulator's tool"};
  app.require_subcommand(1);

  std::string backup_out;
  CLI::App* backup = app.add_subcommand(
      "backup",
      "Build a backup file: one set per --set DBNAME SCRIPT.sql, in order (positions 1..n); the "
      "script (CREATE TABLE, INSERT; batches split at GO lines) gives the data; "
      "--files LOGICAL:TYPE,... after a --set gives its file list (default "
      "DBNAME_Data:D,DBNAME_Log:L)");
  backup->add_option("OUT", backup_out, "the backup file to write")->required();
  backup->allow_extras();
  backup->prefix_command();

  std::string list_file;
  CLI::App* list = app.add_subcommand("list", "Show a backup file's HEADERONLY and FILELISTONLY");
  list->add_option("BACKUP", list_file, "the backup file")->required();

  std::string data_dir, database, sql;
  CLI::App* query = app.add_subcommand(
      "query",
      "Run one batch on a database of a data folder; rows go to stdout tab-separated "
      "with a header line, NULL as NULL; messages and errors go to stderr");
  query->add_option("DATADIR", data_dir, "the emulator's data folder")->required();
  query->add_option("DATABASE", database, "the database")->required();
  query->add_option("SQL", sql, "the statement")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;  // help, or a usage error
  }
  try {
    if (*backup) return Backup(backup_out, backup->remaining());
    if (*list) return List(list_file);
    if (*query) return Query(data_dir, database, sql);
  } catch (const ServerError& e) {
    for (const Message& m : e.messages())
      PrintMessage(m, std::cerr);
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "finprep-emu: " << e.what() << "\n";
    return 1;
  }
  return 1;
}
