// The emulator's network face: a TDS listener on 127.0.0.1, so that SQL Server clients written
// by others (ODBC drivers, command-line tools, libraries) talk to an emulator Server.
//
// One thread accepts connections and one thread serves each connection.  The Server is used by
// one thread at a time (a lock around every use); a statement that waits (WAITFOR DELAY) lets go
// of it while it waits, so other connections go on, and ends early when its client cancels it.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "emu/server.h"

namespace finprep::emu::tds {

struct ListenerOptions {
  int port = 0;  // 0: a free port chosen by the system (see Listener::port)
  // The one SQL login: the user name (compared without case) and its password.
  std::string user = "sa";
  std::string password;
  // Refused logins and broken connections are reported here, one line each, when set.
  std::ostream* log = nullptr;
};

class Listener {
 public:
  // The server must outlive the listener.  An empty password is refused by Start.
  Listener(Server& server, ListenerOptions options);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Binds 127.0.0.1 and starts accepting.  Throws std::runtime_error when it cannot.
  void Start();
  // The bound port (after Start).
  int port() const { return port_; }
  // Stops accepting, closes every connection (a waiting statement is cancelled), and returns
  // when every connection's thread has ended.  Also done by the destructor.
  void Stop();

 private:
  class Connection;
  struct Worker {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void AcceptLoop();
  void Serve(Worker& worker, std::uint16_t spid);
  void ReapFinished(bool all);
  void Log(const std::string& line);

  Server& server_;
  ListenerOptions options_;
  int listen_fd_ = -1;
  int wake_fds_[2] = {-1, -1};
  int port_ = 0;
  std::thread accept_thread_;
  std::atomic<bool> stopping_{false};
  std::mutex workers_mutex_;
  std::list<std::unique_ptr<Worker>> workers_;
  std::mutex engine_mutex_;
  std::mutex log_mutex_;
  std::uint16_t next_spid_ = 51;
};

}  // namespace finprep::emu::tds
