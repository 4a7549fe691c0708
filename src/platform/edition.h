#pragma once

namespace finprep {

// The two editions built from the same sources.
enum class Edition {
  // Server from the host's dbfinder.dll, failures to the host's log.
  HostInstance,
  // Local default instance, the MSSQLServer service started when stopped, failures in message
  // boxes.
  LocalServer,
};

}  // namespace finprep
