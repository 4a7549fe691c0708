#include "tds/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include "emu/messages.h"
#include "platform/text.h"
#include "tds/protocol.h"
#include "tds/wire.h"

namespace finprep::emu::tds {

namespace {

// A whole message of the client's can be this long at most (a SQL batch of some megabytes).
constexpr std::size_t kMaxMessage = 64u << 20;
constexpr std::uint32_t kDefaultPacketSize = 4096;

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

emu::Message LoginFailed(const std::string& user, const std::string& more = "") {
  return msg::Error(18456, "Login failed for user '" + user + "'." + more, 14);
}

}  // namespace

// One client connection: the handshake, the login, then batches until the client leaves.
class Listener::Connection {
 public:
  Connection(Listener& listener, int fd, std::uint16_t spid)
      : listener_(listener), fd_(fd), spid_(spid) {}

  ~Connection() {
    if (session_) {
      std::lock_guard<std::mutex> lock(listener_.engine_mutex_);
      session_.reset();
    }
  }

  void Run() {
    std::optional<Incoming> m = Read();
    if (!m) return;
    bool wants_encryption = false;
    if (m->type == kPreLogin) {
      wants_encryption = ParsePreLogin(m->payload).WantsEncryption();
      Send(PreLoginResponse());
      m = Read();
      if (!m) return;
    }
    if (m->type == kPreLogin) {
      // A TLS handshake after the answer "encryption not supported".
      listener_.Log(Who() +
                    "refused: the client starts encryption, which this server does not "
                    "offer");
      return;
    }
    if (m->type != kLogin7) {
      listener_.Log(Who() + "refused: expected a login record, got a message of type " +
                    std::to_string(m->type));
      return;
    }
    if (!Login(m->payload, wants_encryption)) return;
    for (;;) {
      m = Read();
      if (!m) return;
      if (m->ignored) {
        TokenWriter w(version_);
        w.Done(kDoneFinal);
        Send(w.Take());
        continue;
      }
      switch (m->type) {
        case kSqlBatch:
          if (!RunBatch(SqlBatchText(m->payload, version_))) return;
          break;
        case kAttention: {
          // The request it cancels has already been answered in full.
          TokenWriter w(version_);
          w.Done(kDoneAttention);
          Send(w.Take());
          break;
        }
        case kRpc:
        case kTransactionManager:
        case kBulkLoad: {
          TokenWriter w(version_);
          w.Message(msg::Unsupported(m->type == kRpc                  ? "remote procedure calls"
                                     : m->type == kTransactionManager ? "transaction requests"
                                                                      : "bulk loads"));
          w.Done(kDoneError);
          Send(w.Take());
          break;
        }
        default:
          throw ProtocolError("unexpected message of type " + std::to_string(m->type));
      }
    }
  }

  std::string Who() const { return "connection " + std::to_string(spid_) + ": "; }

 private:
  struct Incoming {
    std::uint8_t type = 0;
    std::string payload;
    bool ignored = false;
  };

  // Waits of WAITFOR DELAY: the server is free meanwhile, and an attention from the client (or
  // the connection's end) cancels the batch.
  class Control : public BatchControl {
   public:
    Control(Connection& connection, std::unique_lock<std::mutex>& lock)
        : connection_(connection), lock_(lock) {}

    bool Wait(std::int64_t ms) override {
      lock_.unlock();
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
      bool cancelled = false;
      for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd p{connection_.fd_, POLLIN, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left, 1000)));
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) continue;
        cancelled = true;
        try {
          std::optional<Incoming> m = connection_.Read();
          if (!m || m->type != kAttention) lost = true;
        } catch (const std::exception&) {
          lost = true;
        }
        break;
      }
      lock_.lock();
      return !cancelled;
    }

    bool lost = false;  // the connection ended, or broke the protocol, during a wait

   private:
    Connection& connection_;
    std::unique_lock<std::mutex>& lock_;
  };

  bool Login(const std::string& payload, bool wants_encryption) {
    const Login7 login = ParseLogin7(payload);
    const std::optional<std::uint32_t> version = NegotiateVersion(login.tds_version);
    if (!version) {
      listener_.Log(Who() + "refused: TDS " + std::to_string(login.tds_version >> 28) + "." +
                    std::to_string((login.tds_version >> 24) & 0xF) + " is older than 7.1");
      return false;
    }
    version_ = *version;
    TokenWriter w(version_);
    auto refuse = [&](const std::vector<emu::Message>& messages, const std::string& why) {
      for (const emu::Message& m : messages)
        w.Message(m);
      w.Done(kDoneError);
      Send(w.Take());
      listener_.Log(Who() + "login of '" + login.user + "' refused: " + why);
      return false;
    };
    if (wants_encryption)
      return refuse({LoginFailed(login.user,
                                 " The client asks for encryption, which this server does not "
                                 "offer: connect without encryption.")},
                    "the client asks for encryption");
    if (login.integrated_security)
      return refuse({msg::Error(18452,
                                "Login failed. The login is from an untrusted domain and cannot "
                                "be used with Integrated authentication.",
                                14)},
                    "Windows authentication");
    const ListenerOptions& options = listener_.options_;
    if (!EqualsIgnoreCase(login.user, options.user) || login.password != options.password)
      return refuse({LoginFailed(login.user)}, "wrong user name or password");
    const std::string database = login.database.empty() ? "master" : login.database;
    try {
      std::lock_guard<std::mutex> lock(listener_.engine_mutex_);
      session_ = listener_.server_.Connect(database);
    } catch (const ServerError& e) {
      std::vector<emu::Message> messages = e.messages();
      messages.push_back(LoginFailed(login.user));
      return refuse(messages, e.what());
    }
    packet_size_ =
        login.packet_size == 0
            ? kDefaultPacketSize
            : std::max<std::uint32_t>(512, std::min<std::uint32_t>(32767, login.packet_size));
    const std::string& name = session_->database();
    w.EnvChange(kEnvDatabase, name, "master");
    w.Message(msg::Info(5701, "Changed database context to '" + name + "'."));
    w.CollationChange();
    w.EnvChange(kEnvLanguage, "us_english", "");
    w.Message(msg::Info(5703, "Changed language setting to us_english."));
    w.LoginAck();
    if (login.feature_extension && version_ >= kTds74) w.FeatureExtAck();
    const std::string size = std::to_string(packet_size_);
    w.EnvChange(kEnvPacketSize, size, size);
    w.Done(kDoneFinal);
    Send(w.Take());
    return true;
  }

  // Runs a batch and answers it; false when the connection is gone.
  bool RunBatch(const std::string& text) {
    BatchResult result;
    std::unique_lock<std::mutex> lock(listener_.engine_mutex_);
    Control control(*this, lock);
    result = session_->Execute(text, &control);
    lock.unlock();
    if (control.lost) return false;
    // A cancelled batch still gets its response (what ran before the cancel), and then the
    // attention is acknowledged in a message of its own, as clients that count messages expect.
    Send(EncodeBatchResult(result, version_));
    if (result.cancelled) {
      TokenWriter w(version_);
      w.Done(kDoneAttention);
      Send(w.Take());
    }
    return true;
  }

  // The next whole message; nullopt when the client closed the connection between messages.
  std::optional<Incoming> Read() {
    Incoming m;
    bool first = true;
    for (;;) {
      char header[kHeaderSize];
      if (!ReadExactly(header, sizeof header, first)) return std::nullopt;
      Reader h(std::string_view(header, sizeof header));
      const std::uint8_t type = h.U8();
      const std::uint8_t status = h.U8();
      const std::uint16_t length = h.U16BE();
      if (length < kHeaderSize) throw ProtocolError("packet shorter than its header");
      if (first) {
        m.type = type;
      } else if (type != m.type) {
        throw ProtocolError("packet of another type inside a message");
      }
      const std::size_t body = length - kHeaderSize;
      if (m.payload.size() + body > kMaxMessage) throw ProtocolError("message too long");
      const std::size_t at = m.payload.size();
      m.payload.resize(at + body);
      if (body > 0 && !ReadExactly(m.payload.data() + at, body, false))
        throw ProtocolError("connection closed inside a packet");
      first = false;
      if (status & kEndOfMessage) {
        m.ignored = (status & kIgnoreMessage) != 0;
        return m;
      }
    }
  }

  // False when the connection ended before the first byte and `eof_ok`; a ProtocolError when
  // it ended later.
  bool ReadExactly(char* out, std::size_t n, bool eof_ok) {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t got = ::recv(fd_, out + done, n - done, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        if (done == 0 && eof_ok) return false;
        throw ProtocolError(got == 0 ? "connection closed" : SystemError("recv"));
      }
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

  // A whole response, in packets of the agreed size.
  void Send(const std::string& payload) {
    const std::size_t room = packet_size_ - kHeaderSize;
    std::size_t at = 0;
    do {
      const std::size_t n = std::min(room, payload.size() - at);
      const bool last = at + n == payload.size();
      Writer packet;
      packet.U8(kTabularResult);
      packet.U8(last ? kEndOfMessage : 0);
      packet.U16BE(static_cast<std::uint16_t>(n + kHeaderSize));
      packet.U16BE(spid_);
      packet.U8(packet_number_++);
      packet.U8(0);
      packet.Raw(std::string_view(payload).substr(at, n));
      WriteAll(packet.bytes());
      at += n;
    } while (at < payload.size());
  }

  void WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw ProtocolError(SystemError("send"));
      done += static_cast<std::size_t>(n);
    }
  }

  Listener& listener_;
  int fd_;
  std::uint16_t spid_;
  std::uint32_t version_ = kTds71;
  std::uint32_t packet_size_ = kDefaultPacketSize;
  std::uint8_t packet_number_ = 1;
  std::unique_ptr<Session> session_;
};

Listener::Listener(Server& server, ListenerOptions options)
    : server_(server), options_(std::move(options)) {}

Listener::~Listener() { Stop(); }

void Listener::Start() {
  if (options_.password.empty()) throw std::runtime_error("the listener needs a password");
  if (options_.port < 0 || options_.port > 65535) throw std::runtime_error("port out of range");
  if (::pipe2(wake_fds_, O_CLOEXEC) != 0) throw std::runtime_error(SystemError("pipe"));
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error(SystemError("socket"));
  const int on = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(options_.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error(
        SystemError(("cannot listen on 127.0.0.1:" + std::to_string(options_.port)).c_str()));
  if (::listen(listen_fd_, 16) != 0) throw std::runtime_error(SystemError("listen"));
  socklen_t length = sizeof address;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

void Listener::Stop() {
  if (stopping_.exchange(true)) return;
  if (accept_thread_.joinable()) {
    const char byte = 0;
    while (::write(wake_fds_[1], &byte, 1) < 0 && errno == EINTR) {
    }
    accept_thread_.join();
  }
  {
    std::lock_guard<std::mutex> lock(workers_mutex_);
    for (auto& w : workers_)
      ::shutdown(w->fd, SHUT_RDWR);
  }
  ReapFinished(true);
  for (int* fd : {&listen_fd_, &wake_fds_[0], &wake_fds_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void Listener::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fds_[0], POLLIN, 0}};
    const int n = ::poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || stopping_ || (fds[1].revents & POLLIN)) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ReapFinished(false);
    std::lock_guard<std::mutex> lock(workers_mutex_);
    auto worker = std::make_unique<Worker>();
    worker->fd = fd;
    const std::uint16_t spid = next_spid_++;
    if (next_spid_ > 32000) next_spid_ = 51;
    Worker& w = *worker;
    workers_.push_back(std::move(worker));
    w.thread = std::thread([this, &w, spid] { Serve(w, spid); });
  }
}

void Listener::Serve(Worker& worker, std::uint16_t spid) {
  {
    Connection connection(*this, worker.fd, spid);
    try {
      connection.Run();
    } catch (const std::exception& e) {
      if (!stopping_) Log(connection.Who() + "closed: " + e.what());
    }
  }
  // The client sees the end at once; the descriptor itself is closed when the worker is reaped.
  ::shutdown(worker.fd, SHUT_RDWR);
  worker.finished = true;
}

void Listener::ReapFinished(bool all) {
  std::list<std::unique_ptr<Worker>> done;
  {
    std::lock_guard<std::mutex> lock(workers_mutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (all || (*it)->finished) {
        done.push_back(std::move(*it));
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& w : done) {
    if (w->thread.joinable()) w->thread.join();
    ::close(w->fd);
  }
}

void Listener::Log(const std::string& line) {
  if (!options_.log) return;
  std::lock_guard<std::mutex> lock(log_mutex_);
  *options_.log << line << std::endl;
}

}  // namespace finprep::emu::tds
