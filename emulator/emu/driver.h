// The in-process database driver: the component layer's connections talk to an emulator Server.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "emu/server.h"
#include "platform/database.h"

namespace finprep::emu {

// Keys and values of an OLE DB connection string ("Provider=...;Initial Catalog=x;..."), keys
// in lower case.  Values may be quoted with " or '.
std::map<std::string, std::string> ParseConnectionString(const std::string& text);

// The error text a client sees for a failed batch: the first error's text.
std::string ErrorText(const BatchResult& result);

class EmulatorDriver : public finprep::DatabaseDriver {
 public:
  // The server must outlive the driver and its sessions.
  explicit EmulatorDriver(Server& server) : server_(server) {}

  // The database is the string's Initial Catalog (or Database); master when it names none.  Any
  // Data Source, provider and credentials are accepted.  Throws ProviderError with the server's
  // text (4060 for a database that does not exist).
  std::unique_ptr<finprep::Session> Connect(const std::string& connection_string,
                                            int timeout_seconds) override;

 private:
  Server& server_;
};

}  // namespace finprep::emu
