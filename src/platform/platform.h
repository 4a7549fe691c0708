// Everything a run needs from the outside world, chosen once by the platform.
#pragma once

#include "platform/database.h"
#include "platform/system.h"
#include "platform/ui.h"

namespace finprep {

struct Platform {
  Application& application;
  FileSystem& files;
  DatabaseDriver& database;
  ServiceManager& services;
  LibraryLoader& libraries;
  Clock& clock;
  HostLog& host_log;
};

}  // namespace finprep
