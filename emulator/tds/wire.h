// Bytes on the wire of the tabular data stream: packets, little- and big-endian numbers, and
// UTF-16LE text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace finprep::emu::tds {

// Packet types (the first byte of a packet header).
enum PacketType : std::uint8_t {
  kSqlBatch = 0x01,
  kOldLogin = 0x02,
  kRpc = 0x03,
  kTabularResult = 0x04,
  kAttention = 0x06,
  kBulkLoad = 0x07,
  kTransactionManager = 0x0E,
  kLogin7 = 0x10,
  kSspi = 0x11,
  kPreLogin = 0x12,
};

// Packet header: type, status, length (big-endian, header included), process id (big-endian),
// packet number, window.
constexpr std::size_t kHeaderSize = 8;
constexpr std::uint8_t kEndOfMessage = 0x01;
// On a message's last packet: the client withdrew the message; it is answered, not carried out.
constexpr std::uint8_t kIgnoreMessage = 0x02;

// A peer that breaks the protocol: the connection cannot go on.
class ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// UTF-8 to UTF-16LE bytes; a malformed sequence becomes U+FFFD.
std::string ToUtf16(std::string_view utf8);
// UTF-16LE bytes to UTF-8; an unpaired surrogate becomes U+FFFD, an odd last byte is dropped.
std::string FromUtf16(std::string_view utf16);
// Length in UTF-16 code units.
std::size_t Utf16Units(std::string_view utf8);

class Writer {
 public:
  void U8(std::uint8_t v) { bytes_ += static_cast<char>(v); }
  void U16(std::uint16_t v);
  void U16BE(std::uint16_t v);
  void U32(std::uint32_t v);
  void U32BE(std::uint32_t v);
  void U64(std::uint64_t v);
  void Raw(std::string_view bytes) { bytes_.append(bytes.data(), bytes.size()); }
  // Text with a one-byte length in characters (cut to 255 characters).
  void BVarChar(std::string_view utf8);
  // Text with a two-byte length in characters (cut to 65535 characters).
  void UsVarChar(std::string_view utf8);
  // Overwrites a little-endian 16-bit value written earlier at `offset`.
  void PatchU16(std::size_t offset, std::uint16_t v);

  std::size_t size() const { return bytes_.size(); }
  const std::string& bytes() const { return bytes_; }
  std::string Take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

// Bounds-checked reading; reading past the end is a ProtocolError.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  std::uint8_t U8();
  std::uint16_t U16();
  std::uint16_t U16BE();
  std::uint32_t U32();
  std::uint32_t U32BE();
  std::string_view Raw(std::size_t n);
  void Skip(std::size_t n) { Raw(n); }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return bytes_.size() - pos_; }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

}  // namespace finprep::emu::tds
