// A TDS listener in the test's own process, on a free port, over a fresh data folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "emu/server.h"
#include "tds/listener.h"
#include "temp_dir.h"

namespace finprep::emu::tds::test {

// Needs quoting in a connection string.  (FreeTDS takes no '}' in a braced value.)
inline constexpr const char* kPassword = "Pa55;word'";

using ::finprep::test_support::TempDir;

class LiveServer {
 public:
  LiveServer() : server_(dir_ / "data"), listener_(server_, Options()) { listener_.Start(); }

  int port() const { return listener_.port(); }
  Server& server() { return server_; }
  Listener& listener() { return listener_; }
  const TempDir& dir() const { return dir_; }

  // The OLE DB connection string a host would hand over for this server.
  std::string ConnectionString(const std::string& database = "master",
                               const std::string& password = kPassword) const {
    return "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=\"" + password +
           "\";Initial Catalog=" + database + ";Data Source=127.0.0.1," + std::to_string(port());
  }

 private:
  static ListenerOptions Options() {
    ListenerOptions options;
    options.password = kPassword;
    options.log = &std::cerr;
    return options;
  }

  TempDir dir_;
  Server server_;
  Listener listener_;
};

}  // namespace finprep::emu::tds::test
