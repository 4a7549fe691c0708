// The TDS listener in this process, spoken to on the byte level: what a client that breaks the
// protocol, or asks for what this server does not offer, gets; and that nothing it sends can take
// the listener down for the other clients.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tds/listener.h"
#include "tds/protocol.h"
#include "tds/wire.h"
#include "tds_test_util.h"

namespace finprep::emu::tds {
namespace {

using test::kPassword;
using test::LiveServer;

// A client socket that sends whole messages in packets of a chosen size and reads answers.
class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      ADD_FAILURE() << "cannot connect";
  }
  ~RawClient() { ::close(fd_); }

  void SendBytes(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  void Send(std::uint8_t type, const std::string& payload, std::size_t chunk = 4000,
            std::uint8_t last_status = kEndOfMessage) {
    std::size_t at = 0;
    do {
      const std::size_t n = std::min(chunk, payload.size() - at);
      Writer packet;
      packet.U8(type);
      packet.U8(at + n == payload.size() ? last_status : 0);
      packet.U16BE(static_cast<std::uint16_t>(n + kHeaderSize));
      packet.U32(0);
      packet.Raw(payload.substr(at, n));
      SendBytes(packet.bytes());
      at += n;
    } while (at < payload.size());
  }
  // The next whole message; empty when the server closed the connection (or said nothing in
  // five seconds).
  std::string Receive() {
    std::string message;
    for (;;) {
      std::string header = ReadBytes(kHeaderSize);
      if (header.size() < kHeaderSize) return "";
      Reader r(header);
      r.U8();
      const std::uint8_t status = r.U8();
      message += ReadBytes(r.U16BE() - kHeaderSize);
      if (status & kEndOfMessage) return message;
    }
  }
  bool Closed() { return ReadBytes(1).empty(); }

  // Pre-login (encryption as given) and a login; returns the answer to the login.
  std::string Login(const std::string& password, std::uint8_t encryption = kEncryptOff,
                    const std::string& database = "master") {
    Send(kPreLogin, PreLogin(encryption));
    EXPECT_FALSE(Receive().empty());
    Send(kLogin7, Login7Record("sa", password, database, kTds74));
    return Receive();
  }

  static std::string PreLogin(std::uint8_t encryption) {
    Writer w;
    w.U8(0x01);  // ENCRYPTION at offset 6, 1 byte
    w.U16BE(6);
    w.U16BE(1);
    w.U8(0xFF);
    w.U8(encryption);
    return w.Take();
  }

  static std::string Login7Record(const std::string& user, const std::string& password,
                                  const std::string& database, std::uint32_t version) {
    const std::string fields[] = {
        ToUtf16("host"), ToUtf16(user),        ScramblePassword(ToUtf16(password)),
        ToUtf16("raw"),  ToUtf16("127.0.0.1"), ToUtf16(""),
        ToUtf16("raw"),  ToUtf16(""),          ToUtf16(database)};
    constexpr std::uint16_t kFixed = 94;
    Writer w;
    w.U32(0);  // length, patched below
    w.U32(version);
    w.U32(4096);
    w.U32(7);
    w.U32(1234);
    w.U32(0);
    w.U8(0xE0);
    w.U8(0x03);
    w.U8(0);
    w.U8(0);
    w.U32(0);
    w.U32(0x0409);
    std::uint16_t offset = kFixed;
    std::string data;
    for (std::size_t i = 0; i < 9; ++i) {
      w.U16(offset);
      w.U16(static_cast<std::uint16_t>(i == 5 ? 0 : fields[i].size() / 2));
      data += fields[i];
      offset = static_cast<std::uint16_t>(offset + fields[i].size());
    }
    w.Raw(std::string(6, '\0'));   // client id
    for (int i = 0; i < 3; ++i) {  // SSPI, attach file, change password
      w.U16(offset);
      w.U16(0);
    }
    w.U32(0);  // long SSPI length
    w.Raw(data);
    std::string record = w.Take();
    const std::uint32_t length = static_cast<std::uint32_t>(record.size());
    for (int i = 0; i < 4; ++i)
      record[i] = static_cast<char>(length >> (8 * i));
    return record;
  }

  static std::string Batch(const std::string& sql) {
    Writer w;
    w.U32(22);  // ALL_HEADERS: total length, then one transaction descriptor header
    w.U32(18);
    w.U16(2);
    w.U64(0);
    w.U32(1);
    w.Raw(ToUtf16(sql));
    return w.Take();
  }

 private:
  std::string ReadBytes(std::size_t n) {
    std::string out;
    while (out.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) break;
      char buffer[4096];
      const ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, n - out.size()), 0);
      if (got <= 0) break;
      out.append(buffer, static_cast<std::size_t>(got));
    }
    return out.size() == n ? out : std::string();
  }

  int fd_ = -1;
};

bool HasText(const std::string& message, const std::string& text) {
  return message.find(ToUtf16(text)) != std::string::npos;
}

TEST(Listener, LogsInAndAnswersABatchSentInSeveralPackets) {
  LiveServer live;
  RawClient client(live.port());
  const std::string answer = client.Login(kPassword);
  ASSERT_TRUE(HasText(answer, "Microsoft SQL Server")) << "no login acknowledgement";
  client.Send(kSqlBatch, RawClient::Batch("SELECT N'中文' + 'abc' AS t"), 7);
  const std::string rows = client.Receive();
  EXPECT_TRUE(HasText(rows, "中文abc"));
  EXPECT_EQ(static_cast<std::uint8_t>(rows[0]), kTokenColMetadata);
}

TEST(Listener, RefusesLoginsItCannotHonour) {
  LiveServer live;
  struct Case {
    const char* what;
    std::string password;
    std::uint8_t encryption;
    std::string database;
    std::vector<std::string> texts;
  } cases[] = {
      {"wrong password", "nope", kEncryptOff, "master", {"Login failed for user 'sa'."}},
      {"missing database",
       kPassword,
       kEncryptOff,
       "nodb",
       {"Cannot open database \"nodb\" requested by the login.", "Login failed for user 'sa'."}},
      {"encryption asked for",
       kPassword,
       kEncryptOn,
       "master",
       {"The client asks for encryption, which this server does not offer"}},
      {"encryption required", kPassword, kEncryptReq, "master", {"does not offer"}},
  };
  for (const Case& c : cases) {
    RawClient client(live.port());
    const std::string answer = client.Login(c.password, c.encryption, c.database);
    EXPECT_EQ(static_cast<std::uint8_t>(answer[0]), kTokenError) << c.what;
    EXPECT_FALSE(HasText(answer, "Microsoft SQL Server")) << c.what << ": logged in";
    for (const std::string& text : c.texts)
      EXPECT_TRUE(HasText(answer, text)) << c.what << ": " << text;
    EXPECT_TRUE(client.Closed()) << c.what;
  }
}

TEST(Listener, AClientThatBreaksTheProtocolLosesOnlyItsOwnConnection) {
  LiveServer live;
  RawClient bystander(live.port());
  ASSERT_TRUE(HasText(bystander.Login(kPassword), "Microsoft SQL Server"));

  std::string login = RawClient::Login7Record("sa", kPassword, "master", kTds74);
  std::string past_end = login;
  past_end[41] = 0x7F;  // the user name's offset, far beyond the record
  std::string long_length = login;
  long_length[1] = 0x7F;  // the record claims more bytes than were sent
  struct Case {
    const char* what;
    std::uint8_t type;
    std::string payload;
  } cases[] = {
      {"field outside the login record", kLogin7, past_end},
      {"login record longer than its message", kLogin7, long_length},
      {"login record cut short", kLogin7, login.substr(0, 50)},
      {"TDS older than 7.1", kLogin7,
       RawClient::Login7Record("sa", kPassword, "master", 0x70000000)},
      {"a batch before the login", kSqlBatch, RawClient::Batch("SELECT 1")},
      {"pre-login option outside the message", kPreLogin,
       std::string("\x01\x00\x40\x00\x01\xFF", 6)},
  };
  for (const Case& c : cases) {
    RawClient client(live.port());
    client.Send(c.type, c.payload);
    const std::string answer = client.Receive();
    EXPECT_FALSE(HasText(answer, "Microsoft SQL Server")) << c.what;
    EXPECT_TRUE(client.Closed()) << c.what;
  }
  {
    RawClient client(live.port());
    client.SendBytes(std::string("\x12\x01\x00\x04\x00\x00\x00\x00", 8));  // shorter than a header
    EXPECT_TRUE(client.Closed()) << "packet shorter than its header";
  }

  bystander.Send(kSqlBatch, RawClient::Batch("SELECT 42 AS answer"));
  EXPECT_TRUE(HasText(bystander.Receive(), "answer"));
}

TEST(Listener, CancelledAndWithdrawnRequests) {
  LiveServer live;
  RawClient client(live.port());
  ASSERT_TRUE(HasText(client.Login(kPassword), "Microsoft SQL Server"));
  auto done_attention = [](const std::string& answer) {
    return answer.size() >= 3 && static_cast<std::uint8_t>(answer[0]) == kTokenDone &&
           (static_cast<std::uint8_t>(answer[1]) & kDoneAttention) != 0;
  };

  // The batch's response (what ran before the wait) ends, then the acknowledgement follows in a
  // message of its own.
  const auto start = std::chrono::steady_clock::now();
  client.Send(kSqlBatch, RawClient::Batch("SELECT 1 AS before WAITFOR DELAY '00:00:30' SELECT 2"));
  ::usleep(200 * 1000);
  client.Send(kAttention, "");
  const std::string response = client.Receive();
  EXPECT_TRUE(HasText(response, "before"));
  EXPECT_FALSE(done_attention(response.substr(response.size() - 13)));
  EXPECT_TRUE(done_attention(client.Receive()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));

  client.Send(kAttention, "");  // nothing runs: answered at once
  EXPECT_TRUE(done_attention(client.Receive()));

  // A message the client withdrew (its last packet marked "ignore") is answered, not run.
  client.Send(kSqlBatch, RawClient::Batch("CREATE TABLE withdrawn (a int)"), 10,
              kEndOfMessage | kIgnoreMessage);
  const std::string done = client.Receive();
  EXPECT_EQ(static_cast<std::uint8_t>(done[0]), kTokenDone);
  client.Send(kSqlBatch, RawClient::Batch("SELECT COUNT(*) AS n FROM withdrawn"));
  EXPECT_TRUE(HasText(client.Receive(), "Invalid object name 'withdrawn'."));
}

}  // namespace
}  // namespace finprep::emu::tds
