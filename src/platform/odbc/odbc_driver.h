// The database driver on the wide ODBC API: odbc32 on Windows, unixODBC on Linux.
//
// Connection strings arrive in the OLE DB form the host knows and are translated by a fixed
// table into an ODBC connection string for the "SQL Server" driver (or the driver or data source
// the string names).  Every error the driver manager, the driver or the server reports is a
// ProviderError carrying the diagnostic texts.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/database.h"

namespace finprep::odbc {

// The ODBC form of an OLE DB connection string.
struct OdbcConnectionString {
  std::string text;
  // Set when the string names its own login time-out (Connect Timeout).
  std::optional<int> login_timeout_seconds;
};

// Translates key by key: Provider and Persist Security Info are dropped; Data Source -> Server,
// Initial Catalog -> Database, User ID -> UID, Password -> PWD, Integrated Security=SSPI ->
// Trusted_Connection=Yes, and a few more with plain equivalents.  The driver is "SQL Server"
// unless the string names a Driver or a DSN.  An unknown key, a malformed string or an empty one
// is a ProviderError.
OdbcConnectionString TranslateConnectionString(const std::string& ole_db);

// A diagnostic text without the bracketed component tags that driver managers and drivers put in
// front of it ("[unixODBC][Driver Manager]Data source ..." -> "Data source ...").
std::string StripComponentTags(const std::string& message);

class OdbcDriver : public DatabaseDriver {
 public:
  std::unique_ptr<Session> Connect(const std::string& connection_string,
                                   int timeout_seconds) override;
};

}  // namespace finprep::odbc
