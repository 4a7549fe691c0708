// The messages of the tabular data stream that the listener reads and writes: the pre-login
// handshake, the login record, SQL batches, and the token stream of a response (login
// acknowledgement, environment changes, messages, result sets, completion).
//
// TDS 7.1 to 7.4 are spoken.  Every text column goes out as NVARCHAR (UTF-16), so a client needs
// no code page; the collation announced is Chinese_PRC_CI_AS.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "emu/types.h"
#include "tds/wire.h"

namespace finprep::emu::tds {

// TDS versions as the login record and the login acknowledgement carry them.
constexpr std::uint32_t kTds71 = 0x71000001;
constexpr std::uint32_t kTds72 = 0x72090002;
constexpr std::uint32_t kTds73A = 0x730A0003;
constexpr std::uint32_t kTds73B = 0x730B0003;
constexpr std::uint32_t kTds74 = 0x74000004;

// The version both sides speak: the client's, capped at 7.4; nullopt for a client older than 7.1.
std::optional<std::uint32_t> NegotiateVersion(std::uint32_t client_version);

// ---- Pre-login ----

enum Encryption : std::uint8_t {
  kEncryptOff = 0,     // available, off (only the login would be encrypted)
  kEncryptOn = 1,      // the client wants the connection encrypted
  kEncryptNotSup = 2,  // not available
  kEncryptReq = 3,     // required
};

struct PreLoginRequest {
  std::optional<std::uint8_t> encryption;  // absent when the client sent none
  // The client asks for its connection to be encrypted (ON or REQ).
  bool WantsEncryption() const {
    return encryption && (*encryption == kEncryptOn || *encryption == kEncryptReq);
  }
};

// Throws ProtocolError for a malformed option table.
PreLoginRequest ParsePreLogin(std::string_view payload);
// The server's answer: version, encryption not supported, no instance, no MARS.
std::string PreLoginResponse();

// ---- Login ----

struct Login7 {
  std::uint32_t tds_version = 0;
  std::uint32_t packet_size = 0;
  bool integrated_security = false;  // a Windows (SSPI) login
  bool feature_extension = false;    // the record carries a feature extension block
  std::string host, user, password, app, server, library, language, database;
};

// Throws ProtocolError when the record is cut short or a field lies outside it.
Login7 ParseLogin7(std::string_view payload);

// The scrambling of passwords in the login record (reversible; kept for the tests' clients).
std::string ScramblePassword(std::string_view utf16);

// ---- Requests ----

// The text of a SQL batch message, after the headers that TDS 7.2 and later put in front.
std::string SqlBatchText(std::string_view payload, std::uint32_t tds_version);

// ---- Responses ----

enum Token : std::uint8_t {
  kTokenColMetadata = 0x81,
  kTokenError = 0xAA,
  kTokenInfo = 0xAB,
  kTokenLoginAck = 0xAD,
  kTokenFeatureExtAck = 0xAE,
  kTokenRow = 0xD1,
  kTokenEnvChange = 0xE3,
  kTokenDone = 0xFD,
  kTokenDoneProc = 0xFE,
  kTokenDoneInProc = 0xFF,
};

enum DoneStatus : std::uint16_t {
  kDoneFinal = 0x0000,
  kDoneMore = 0x0001,
  kDoneError = 0x0002,
  kDoneCount = 0x0010,
  kDoneAttention = 0x0020,
};

enum EnvChangeType : std::uint8_t {
  kEnvDatabase = 1,
  kEnvLanguage = 2,
  kEnvPacketSize = 4,
  kEnvCollation = 7,
};

// The server's name in messages.
constexpr const char* kServerName = "FINPREP-EMU";

// A token stream for one connection's TDS version.
class TokenWriter {
 public:
  explicit TokenWriter(std::uint32_t tds_version) : version_(tds_version) {}

  void EnvChange(EnvChangeType type, std::string_view new_value, std::string_view old_value);
  void CollationChange();
  // INFO for a message of severity 10 or less, ERROR above.
  void Message(const emu::Message& message);
  void LoginAck();
  // Acknowledges a feature extension block with no feature taken up.
  void FeatureExtAck();
  void Done(std::uint16_t status, std::uint64_t row_count = 0, std::uint16_t command = 0,
            Token token = kTokenDone);
  // COLMETADATA and one ROW per row.  Throws ServerError when a value cannot be represented in
  // its column's type (as SQL Server's conversion errors); the rows before it stay written.
  void Rows(const ResultSet& result_set);

  std::size_t size() const { return out_.size(); }
  std::string Take() { return out_.Take(); }

 private:
  std::uint32_t version_;
  Writer out_;
};

// The whole response to a batch: its result sets, row counts and messages, each statement
// closed by DONE (DONE_MORE while more follows), the last with DONE_ERROR when the batch failed.
std::string EncodeBatchResult(const BatchResult& result, std::uint32_t tds_version);

// The 5 bytes of the collation Chinese_PRC_CI_AS.
std::string_view CollationBytes();

}  // namespace finprep::emu::tds
