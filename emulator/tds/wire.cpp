#include "tds/wire.h"

#include "platform/text.h"

namespace finprep::emu::tds {

namespace {

void PutUnit(std::string& out, char32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>((unit >> 8) & 0xFF);
}

}  // namespace

std::string ToUtf16(std::string_view utf8) {
  std::string out;
  const std::u16string units = Utf8ToUtf16(utf8);
  out.reserve(units.size() * 2);
  for (char16_t unit : units)
    PutUnit(out, unit);
  return out;
}

std::string FromUtf16(std::string_view utf16) {
  std::u16string units(utf16.size() / 2, u'\0');
  for (std::size_t k = 0; k < units.size(); ++k) {
    units[k] = static_cast<char16_t>(static_cast<unsigned char>(utf16[2 * k]) |
                                     (static_cast<unsigned char>(utf16[2 * k + 1]) << 8));
  }
  return Utf16ToUtf8(units);
}

std::size_t Utf16Units(std::string_view utf8) { return ToUtf16(utf8).size() / 2; }

void Writer::U16(std::uint16_t v) {
  U8(static_cast<std::uint8_t>(v));
  U8(static_cast<std::uint8_t>(v >> 8));
}
void Writer::U16BE(std::uint16_t v) {
  U8(static_cast<std::uint8_t>(v >> 8));
  U8(static_cast<std::uint8_t>(v));
}
void Writer::U32(std::uint32_t v) {
  U16(static_cast<std::uint16_t>(v));
  U16(static_cast<std::uint16_t>(v >> 16));
}
void Writer::U32BE(std::uint32_t v) {
  U16BE(static_cast<std::uint16_t>(v >> 16));
  U16BE(static_cast<std::uint16_t>(v));
}
void Writer::U64(std::uint64_t v) {
  U32(static_cast<std::uint32_t>(v));
  U32(static_cast<std::uint32_t>(v >> 32));
}

void Writer::BVarChar(std::string_view utf8) {
  std::string units = ToUtf16(utf8);
  if (units.size() > 2 * 255) units.resize(2 * 255);
  U8(static_cast<std::uint8_t>(units.size() / 2));
  Raw(units);
}

void Writer::UsVarChar(std::string_view utf8) {
  std::string units = ToUtf16(utf8);
  if (units.size() > 2 * 65535) units.resize(2 * 65535);
  U16(static_cast<std::uint16_t>(units.size() / 2));
  Raw(units);
}

void Writer::PatchU16(std::size_t offset, std::uint16_t v) {
  bytes_.at(offset) = static_cast<char>(v & 0xFF);
  bytes_.at(offset + 1) = static_cast<char>(v >> 8);
}

std::string_view Reader::Raw(std::size_t n) {
  if (n > remaining()) throw ProtocolError("message cut short");
  std::string_view out = bytes_.substr(pos_, n);
  pos_ += n;
  return out;
}

std::uint8_t Reader::U8() { return static_cast<std::uint8_t>(Raw(1)[0]); }

std::uint16_t Reader::U16() {
  std::string_view b = Raw(2);
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[0]) |
                                    (static_cast<unsigned char>(b[1]) << 8));
}

std::uint16_t Reader::U16BE() {
  std::string_view b = Raw(2);
  return static_cast<std::uint16_t>((static_cast<unsigned char>(b[0]) << 8) |
                                    static_cast<unsigned char>(b[1]));
}

std::uint32_t Reader::U32() {
  std::uint32_t low = U16();
  return low | (static_cast<std::uint32_t>(U16()) << 16);
}

std::uint32_t Reader::U32BE() {
  std::uint32_t high = U16BE();
  return (high << 16) | U16BE();
}

}  // namespace finprep::emu::tds
