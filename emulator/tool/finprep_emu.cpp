// finprep-emu: builds backup files from scripts, lists them, runs a statement on a data folder,
// and serves a data folder over TDS.
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "emu/backup.h"
#include "emu/parser.h"
#include "emu/paths.h"
#include "emu/server.h"
#include "platform/text.h"
#include "tds/listener.h"

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

struct SetRequest {
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

BackupSet BuildSet(const SetRequest& request) {
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
  std::string script = ReadFile(request.script);
  BackupSet set;
  {
    Server server(dir);
    server.CreateDatabase(request.database, request.files);
    {
      auto session = server.Connect(request.database);
      std::vector<std::string> batches = SplitBatches(script);
      for (std::size_t i = 0; i < batches.size(); ++i) {
        BatchResult r = session->Execute(batches[i]);
        if (const Message* e = r.FirstError()) {
          std::ostringstream what;
          what << request.script << ": batch " << (i + 1) << ": Msg " << e->number << ": "
               << e->text;
          throw std::runtime_error(what.str());
        }
      }
    }
    set = server.Snapshot(request.database);
  }
  set.backup_name = request.database + " backup";
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
  std::vector<SetRequest> requests;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--set") {
      if (i + 2 >= args.size()) throw std::runtime_error("--set needs DBNAME and SCRIPT");
      SetRequest request;
      request.database = args[i + 1];
      request.script = args[i + 2];
      request.files = {{request.database + "_Data", 'D', "", 0},
                       {request.database + "_Log", 'L', "", 0}};
      requests.push_back(request);
      i += 2;
    } else if (args[i] == "--files") {
      if (requests.empty()) throw std::runtime_error("--files must follow a --set");
      if (i + 1 >= args.size()) throw std::runtime_error("--files needs a list");
      requests.back().files = ParseFiles(args[++i]);
    } else {
      throw std::runtime_error("unexpected argument '" + args[i] + "'");
    }
  }
  if (requests.empty()) throw std::runtime_error("at least one --set DBNAME SCRIPT is needed");
  std::vector<BackupSet> sets;
  for (const SetRequest& request : requests)
    sets.push_back(BuildSet(request));
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

std::string GeneratedPassword() {
  static const char kChars[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
  std::random_device random;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
  std::string password;
  for (int i = 0; i < 16; ++i)
    password += kChars[pick(random)];
  return password;
}

struct ServeOptions {
  std::string data_dir;
  int port = 1433;
  std::string user = "sa";
  std::string password;
  std::vector<std::string> drives;
  bool exit_with_parent = false;
};

// "C=/srv/c": drive C: stands for the folder /srv/c.
void MapDrives(const std::vector<std::string>& drives) {
  for (const std::string& d : drives) {
    const bool letter =
        d.size() >= 3 && std::isalpha(static_cast<unsigned char>(d[0])) && d[1] == '=';
    if (!letter) throw std::runtime_error("--drive: expected LETTER=FOLDER, got '" + d + "'");
    MapDrive(d[0], d.substr(2));
  }
}

int Serve(const ServeOptions& options) {
  MapDrives(options.drives);
  // Signals are taken by sigwait below, not by whichever thread happens to run.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  if (options.exit_with_parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1) return 0;  // the parent is already gone
  }

  Server server(options.data_dir);
  tds::ListenerOptions listener_options;
  listener_options.port = options.port;
  listener_options.user = options.user;
  listener_options.password = options.password.empty() ? GeneratedPassword() : options.password;
  listener_options.log = &std::cerr;
  tds::Listener listener(server, listener_options);
  listener.Start();
  std::cout << "finprep-emu: serving " << options.data_dir << " on 127.0.0.1:" << listener.port()
            << ", login " << options.user << "\n";
  if (options.password.empty())
    std::cout << "finprep-emu: password " << listener_options.password << "\n";
  std::cout.flush();

  int signal = 0;
  sigwait(&signals, &signal);
  listener.Stop();
  std::cout << "finprep-emu: stopped\n";
  return 0;
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

  ServeOptions serve_options;
  CLI::App* serve = app.add_subcommand(
      "serve",
      "Serve a data folder to SQL Server clients over TDS 7.1-7.4 on 127.0.0.1 until SIGINT or "
      "SIGTERM; one SQL login (default sa) with the password given, or a generated one that is "
      "printed; no encryption");
  serve->add_option("DATADIR", serve_options.data_dir, "the emulator's data folder")->required();
  serve->add_option("--port", serve_options.port, "the TCP port; 0 picks a free one (printed)")
      ->required()
      ->check(CLI::Range(0, 65535));
  serve->add_option("--user", serve_options.user, "the login's name (default sa)");
  serve->add_option("--password", serve_options.password,
                    "the login's password (default: generated and printed)");
  serve->add_option("--drive", serve_options.drives,
                    "LETTER=FOLDER: Windows paths on that drive stand for files under FOLDER "
                    "(Z: is / unless mapped otherwise); repeatable");
  serve->add_flag("--exit-with-parent", serve_options.exit_with_parent,
                  "stop when the process that started this one ends");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;  // help, or a usage error
  }
  try {
    if (*backup) return Backup(backup_out, backup->remaining());
    if (*list) return List(list_file);
    if (*query) return Query(data_dir, database, sql);
    if (*serve) return Serve(serve_options);
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
