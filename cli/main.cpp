// finprep: one whole run of the plug-in from a terminal, on the portable platform, against the
// embedded emulator or (host-instance edition) a real server through ODBC.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "emu/driver.h"
#include "emu/server.h"
#include "entry/doit.h"
#include "platform/platform.h"
#include "platform/portable/clocks.h"
#include "platform/portable/headless_ui.h"
#include "platform/portable/in_process_libraries.h"
#include "platform/portable/posix_files.h"
#include "platform/portable/simulated_services.h"
#include "terminal.h"
#if FINPREP_HAVE_ODBC
#include "platform/odbc/odbc_driver.h"
#endif

namespace fs = std::filesystem;

namespace finprep::cli {
namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSetup = 3;

// The server-level string that the stand-in dbfinder hands over for the embedded emulator.
constexpr const char* kEmulatorConnectionString =
    "Provider=SQLOLEDB.1;Data Source=(local);Initial Catalog=master";

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0  the run succeeded: stdout holds the connection string for VORIRA\n"
    "  1  the run failed: stdout holds 0; the plug-in's reports are on stderr\n"
    "  2  usage error: nothing was run\n"
    "  3  the runner could not set the run up (work folder, server): stdout holds 0";

struct Options {
  std::string backup;
  std::string base;
  std::string suffix;
  std::string edition = "host";
  std::optional<int> set;
  std::string emulator;
  std::string server;
};

std::string Absolute(const std::string& path) {
  return fs::absolute(fs::path(path)).lexically_normal().string();
}

// The folder of this program, with its trailing separator: where a host would keep auxsys/.
std::string ExeFolder() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error || !exe.has_parent_path()) return "/";
  std::string folder = exe.parent_path().string();
  if (folder.back() != '/') folder += '/';
  return folder;
}

int SetupFailed(const std::string& message) {
  std::cerr << "finprep: " << message << '\n';
  std::cout << "0\n";
  return kExitSetup;
}

int Run(const Options& options) {
  const Edition edition = options.edition == "local" ? Edition::LocalServer : Edition::HostInstance;
  const bool use_server = !options.server.empty();
  if (use_server && edition == Edition::LocalServer) {
    std::cerr << "finprep: --server works with --edition host only: the local-server edition "
                 "always restores on the local default instance, Data Source=(local), which is "
                 "the embedded emulator here\n";
    return kExitUsage;
  }

  // The host hands over the base folder with its trailing separator and provides the work folder
  // in it; the plug-in creates neither.
  std::string base = Absolute(options.base);
  if (base.back() != '/') base += '/';
  const std::string work = base + "TempLateTemp/";
  std::error_code error;
  fs::create_directory(work, error);
  if (error) return SetupFailed("cannot create the work folder " + work + ": " + error.message());
  const std::string backup = Absolute(options.backup);

  std::unique_ptr<emu::Server> emulator;
  std::unique_ptr<DatabaseDriver> driver;
  std::string server_string = kEmulatorConnectionString;
  std::string server_text;
  if (use_server) {
#if FINPREP_HAVE_ODBC
    driver = std::make_unique<odbc::OdbcDriver>();
    server_string = options.server;
    server_text = "ODBC, with the connection string of --server";  // it may hold a password
#else
    return SetupFailed(
        "--server needs the ODBC driver, and this build has none (unixODBC was "
        "not found when it was configured)");
#endif
  } else {
    const std::string data =
        Absolute(options.emulator.empty() ? base + ".finprep-emulator" : options.emulator);
    try {
      emulator = std::make_unique<emu::Server>(data);
    } catch (const std::exception& e) {
      return SetupFailed("cannot open the emulator's data folder " + data + ": " + e.what());
    }
    driver = std::make_unique<emu::EmulatorDriver>(*emulator);
    server_text = "embedded emulator, data folder " + data;
  }

  Terminal terminal(std::cerr, isatty(STDERR_FILENO) == 1);
  TerminalDesktop desktop(terminal, std::cin, isatty(STDIN_FILENO) != 1, options.set);
  portable::SystemClock clock;
  portable::HeadlessApplication application(desktop, clock);
  portable::PosixFileSystem files;
  // Local-server edition: the emulator is always up.
  portable::SimulatedServiceManager services;
  portable::SimulatedService running;
  running.state = kServiceRunning;
  services.AddService("MSSQLServer", running);
  // Host-instance edition: the runner stands in for dbfinder.
  portable::InProcessLibraryLoader libraries(ExeFolder());
  libraries.Register(
      libraries.ExeFolder() + "auxsys/app/dbfinder.dll",
      {{"GetSqlHinstance", portable::InProcessLibraryLoader::Returning(server_string)}});
  TerminalHostLog host_log(terminal);
  Platform platform{application, files, *driver, services, libraries, clock, host_log};

  terminal.Line(std::string("finprep: ") +
                (edition == Edition::HostInstance ? "host-instance" : "local-server") +
                " edition; server: " + server_text);
  terminal.Line("finprep: backup " + backup + ", work folder " + work +
                (options.suffix.empty() ? "" : ", table suffix " + options.suffix));

  const std::string result =
      DoItRun(platform, edition, 0, base.c_str(), backup.c_str(), options.suffix.c_str());

  if (options.set && !desktop.chooser_shown()) {
    terminal.Line("finprep: --set " + std::to_string(*options.set) +
                  " was not used: no chooser was shown (a backup with one set needs none)");
  }
  terminal.EndBar();
  std::cout << result << '\n' << std::flush;
  return result == "0" ? kExitFailed : 0;
}

}  // namespace
}  // namespace finprep::cli

int main(int argc, char** argv) {
  using finprep::cli::Options;
  CLI::App app{"finprep: the plug-in's whole run from a terminal"};
  app.require_subcommand(1);
  app.footer(finprep::cli::kExitCodes);

  Options options;
  int set = 0;
  CLI::App* run = app.add_subcommand(
      "run",
      "Run the plug-in once, as the host's DoIt call does: copy BACKUP into the work folder "
      "<base>/TempLateTemp/, restore it as the database VORIRA, create the views km, BAL and pz "
      "(and, in the host-instance edition, the item tables aidInfo, aidBal and aidVour), and print "
      "the connection string for VORIRA on stdout, or 0 when the run failed.\n"
      "stderr shows the dialog's status lines and progress bar, the backup-set chooser and the "
      "plug-in's reports: the host log's lines ([log 3] ...) in the host-instance edition, the "
      "message boxes ([caption] text) in the local-server edition.\n"
      "The plug-in itself creates no folder; the runner creates <base>/TempLateTemp when it is "
      "missing, as the host would provide it.");
  run->footer(finprep::cli::kExitCodes);
  run->add_option("BACKUP", options.backup, "the accounting package's backup file")->required();
  run->add_option("--base", options.base,
                  "the host's base folder (a trailing separator is added when it lacks one)")
      ->required()
      ->check(CLI::ExistingDirectory);
  run->add_option("--suffix", options.suffix, "the table-name suffix of the package's tables");
  run->add_option("--edition", options.edition,
                  "host: server from the stand-in dbfinder, reports to the host log; local: the "
                  "local default instance, reports in message boxes")
      ->check(CLI::IsMember({"host", "local"}))
      ->capture_default_str();
  CLI::Option* set_option = run->add_option(
      "--set", set,
      "answer the backup-set chooser (shown when the backup holds several sets): tick the row "
      "of position N and press OK; 0 presses OK with nothing ticked, so the server restores the "
      "first set. A position the chooser does not list ends the run with 0, reported like any "
      "exception of the plug-in, naming the listed positions. Without --set the chooser asks on "
      "stderr and reads stdin: a number ticks that row, an empty line presses OK, and at the end "
      "of input OK is pressed with what is ticked");
  set_option->check(CLI::NonNegativeNumber);
  CLI::Option* emulator_option =
      run->add_option("--emulator", options.emulator,
                      "the embedded emulator's data folder (default <base>/.finprep-emulator); "
                      "read the results with: finprep-emu query DATADIR VORIRA \"SQL\"");
  CLI::Option* server_option = run->add_option(
      "--server", options.server,
      "use a real server through ODBC instead of the emulator: the OLE DB connection string the "
      "stand-in dbfinder hands over, opening the server's master database (host edition only)");
  emulator_option->excludes(server_option);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : finprep::cli::kExitUsage;  // help, or a usage error
  }
  if (*set_option) options.set = set;
  try {
    return finprep::cli::Run(options);
  } catch (const std::exception& e) {
    return finprep::cli::SetupFailed(e.what());
  }
}
