#include "tds/protocol.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "emu/messages.h"

namespace finprep::emu::tds {

namespace {

// The product version announced: 8.0.2039.
constexpr std::uint8_t kMajor = 8, kMinor = 0;
constexpr std::uint16_t kBuild = 2039;

// Chinese_PRC_CI_AS: LCID 0x0804; case-, width- and kana-insensitive; a Windows collation.
constexpr char kCollation[5] = {0x04, 0x08, static_cast<char>(0xD0), 0x00, 0x00};

// The longest NVARCHAR that is not NVARCHAR(MAX), in characters.
constexpr std::size_t kNVarCharChars = 4000;

constexpr std::uint16_t kSelectCommand = 0xC1;

enum WireType : std::uint8_t {
  kIntN = 0x26,
  kBitN = 0x68,
  kDecimalN = 0x6A,
  kFltN = 0x6D,
  kMoneyN = 0x6E,
  kDateTimeN = 0x6F,
  kNText = 0x63,
  kNVarChar = 0xE7,
};

struct WireColumn {
  WireType type = kIntN;
  std::uint8_t size = 0;  // fixed-size types: the value's size in bytes
  std::uint8_t precision = 0, scale = 0;
  bool max = false;             // NVARCHAR(MAX): values in partial-length chunks
  std::uint16_t max_bytes = 0;  // NVARCHAR(n): 2n
};

std::string Unscramble(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out) {
    auto b = static_cast<unsigned char>(c) ^ 0xA5;
    c = static_cast<char>(((b << 4) & 0xF0) | ((b >> 4) & 0x0F));
  }
  return out;
}

[[noreturn]] void Overflow(const SqlType& type) {
  throw ServerError(msg::Error(
      8115, "Arithmetic overflow error converting expression to data type " + type.Name() + "."));
}

std::int64_t AsInteger(const Value& v, const SqlType& type) {
  if (auto* i = std::get_if<std::int64_t>(&v)) return *i;
  if (auto* d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d) || std::fabs(*d) >= 9.2e18) Overflow(type);
    return static_cast<std::int64_t>(std::trunc(*d));
  }
  const std::string& s = std::get<std::string>(v);
  auto parsed = ParseSqlInt(s);
  if (!parsed) throw ServerError(msg::ConvertToIntFailed("varchar", s, type.Name()));
  return *parsed;
}

double AsDouble(const Value& v, const SqlType& type) {
  if (auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  if (auto* d = std::get_if<double>(&v)) return *d;
  auto parsed = ParseSqlFloat(std::get<std::string>(v));
  if (!parsed) throw ServerError(msg::ConvertFailed("varchar", type.Name()));
  return *parsed;
}

// A number as its column shows it with `scale` decimals, as a sign and the digits of the value
// times 10^scale.  Overflow (8115) when it needs more than `max_digits` digits.
std::string ScaledDigits(const Value& v, const SqlType& type, int max_digits, bool* negative) {
  Value number = v;
  if (std::holds_alternative<std::string>(v)) number = AsDouble(v, type);
  if (auto* d = std::get_if<double>(&number); d && !std::isfinite(*d)) Overflow(type);
  if (auto* d = std::get_if<double>(&number); d && std::fabs(*d) >= 1e38) Overflow(type);
  std::string text = FormatValue(number, type).value_or("0");
  *negative = !text.empty() && text[0] == '-';
  std::string digits;
  for (char c : text)
    if (c >= '0' && c <= '9') digits += c;
  std::size_t first = digits.find_first_not_of('0');
  digits = first == std::string::npos ? "0" : digits.substr(first);
  if (static_cast<int>(digits.size()) > max_digits) Overflow(type);
  if (digits == "0") *negative = false;
  return digits;
}

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// datetime: days since 1900-01-01 and ticks of 1/300 s since midnight.
void DateTimeParts(const Value& v, std::int32_t* days, std::uint32_t* ticks) {
  constexpr std::uint32_t kTicksPerDay = 300u * 86400u;
  if (!std::holds_alternative<std::string>(v)) {
    // A number converts to that many days after 1900-01-01.
    const double value = AsDouble(v, SqlType::Of(TypeKind::kDateTime));
    if (!std::isfinite(value) || std::fabs(value) > 3e6)
      throw ServerError(msg::DateConvertFailed());
    const double whole = std::floor(value);
    *days = static_cast<std::int32_t>(whole);
    *ticks = static_cast<std::uint32_t>(std::llround((value - whole) * kTicksPerDay));
  } else {
    auto text = NormalizeDateTime(std::get<std::string>(v));
    if (!text || text->size() < 23) throw ServerError(msg::DateConvertFailed());
    auto num = [&](std::size_t at, std::size_t n) { return std::stoi(text->substr(at, n)); };
    const std::int64_t day = DaysFromCivil(num(0, 4), static_cast<unsigned>(num(5, 2)),
                                           static_cast<unsigned>(num(8, 2))) -
                             DaysFromCivil(1900, 1, 1);
    *days = static_cast<std::int32_t>(day);
    const std::int64_t seconds = num(11, 2) * 3600 + num(14, 2) * 60 + num(17, 2);
    *ticks = static_cast<std::uint32_t>(seconds * 300 + (num(20, 3) * 300 + 500) / 1000);
  }
  if (*ticks >= kTicksPerDay) {
    *ticks -= kTicksPerDay;
    ++*days;
  }
}

std::string TextOf(const Value& v, const SqlType& type) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  return FormatValue(v, type).value_or("");
}

WireColumn PlanColumn(const Column& column, const ResultSet& rs, std::size_t index,
                      std::uint32_t version) {
  const SqlType& t = column.type;
  WireColumn w;
  switch (t.kind) {
    case TypeKind::kBit:
      return {kBitN, 1};
    case TypeKind::kTinyInt:
      return {kIntN, 1};
    case TypeKind::kSmallInt:
      return {kIntN, 2};
    case TypeKind::kNull:
    case TypeKind::kInt:
      return {kIntN, 4};
    case TypeKind::kBigInt:
      return {kIntN, 8};
    case TypeKind::kMoney:
      return {kMoneyN, 8};
    case TypeKind::kSmallMoney:
      return {kMoneyN, 4};
    case TypeKind::kReal:
      return {kFltN, 4};
    case TypeKind::kFloat:
      return {kFltN, 8};
    case TypeKind::kDateTime:
    case TypeKind::kSmallDateTime:  // sent as datetime, which holds every smalldatetime
      return {kDateTimeN, 8};
    case TypeKind::kDecimal: {
      const int p = std::max(1, std::min(38, t.precision));
      w.type = kDecimalN;
      w.precision = static_cast<std::uint8_t>(p);
      w.scale = static_cast<std::uint8_t>(std::max(0, std::min(p, t.scale)));
      w.size = static_cast<std::uint8_t>(1 + (p <= 9 ? 4 : p <= 19 ? 8 : p <= 28 ? 12 : 16));
      return w;
    }
    default:
      break;
  }
  // Text: NVARCHAR as long as the declared length or the longest value, whichever is more.
  std::size_t chars = t.kind == TypeKind::kText || t.kind == TypeKind::kNText
                          ? kNVarCharChars + 1
                          : static_cast<std::size_t>(std::max(1, t.length));
  for (const auto& row : rs.rows) {
    if (chars > kNVarCharChars) break;
    if (std::holds_alternative<std::monostate>(row[index])) continue;
    chars = std::max(chars, Utf16Units(TextOf(row[index], t)));
  }
  if (chars > kNVarCharChars) {
    w.type = version >= kTds72 ? kNVarChar : kNText;
    w.max = true;
    return w;
  }
  w.type = kNVarChar;
  w.max_bytes = static_cast<std::uint16_t>(chars * 2);
  return w;
}

void WriteTypeInfo(Writer& out, const WireColumn& w) {
  out.U8(w.type);
  switch (w.type) {
    case kDecimalN:
      out.U8(w.size);
      out.U8(w.precision);
      out.U8(w.scale);
      return;
    case kNVarChar:
      out.U16(w.max ? 0xFFFF : w.max_bytes);
      out.Raw(std::string_view(kCollation, sizeof kCollation));
      return;
    case kNText:
      out.U32(0x7FFFFFFF);
      out.Raw(std::string_view(kCollation, sizeof kCollation));
      out.U16(0);  // no table name
      return;
    default:
      out.U8(w.size);
      return;
  }
}

// One value in its wire form.  Throws ServerError when it does not convert.
void WriteValue(Writer& out, const WireColumn& w, const Value& v, const SqlType& type) {
  const bool null = std::holds_alternative<std::monostate>(v);
  switch (w.type) {
    case kIntN: {
      if (null) return out.U8(0);
      const std::int64_t i = AsInteger(v, type);
      out.U8(w.size);
      if (w.size == 1) {
        if (i < 0 || i > 255) Overflow(type);
        return out.U8(static_cast<std::uint8_t>(i));
      }
      if (w.size == 2) {
        if (i < INT16_MIN || i > INT16_MAX) Overflow(type);
        return out.U16(static_cast<std::uint16_t>(i));
      }
      if (w.size == 4) {
        if (i < INT32_MIN || i > INT32_MAX) Overflow(type);
        return out.U32(static_cast<std::uint32_t>(i));
      }
      return out.U64(static_cast<std::uint64_t>(i));
    }
    case kBitN:
      if (null) return out.U8(0);
      out.U8(1);
      return out.U8(AsInteger(v, type) != 0 ? 1 : 0);
    case kFltN: {
      if (null) return out.U8(0);
      const double d = AsDouble(v, type);
      out.U8(w.size);
      if (w.size == 4) {
        const float f = static_cast<float>(d);
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        return out.U32(bits);
      }
      std::uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      return out.U64(bits);
    }
    case kMoneyN: {
      if (null) return out.U8(0);
      bool negative = false;
      const std::string digits = ScaledDigits(v, type, 19, &negative);
      // money: 8 bytes, the value times 10^4, high half first; smallmoney: 4 bytes.
      const unsigned long long magnitude = std::stoull(digits);
      if (magnitude > static_cast<unsigned long long>(INT64_MAX)) Overflow(type);
      const std::int64_t scaled =
          negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
      out.U8(w.size);
      if (w.size == 4) {
        if (scaled < INT32_MIN || scaled > INT32_MAX) Overflow(type);
        return out.U32(static_cast<std::uint32_t>(scaled));
      }
      out.U32(static_cast<std::uint32_t>(static_cast<std::uint64_t>(scaled) >> 32));
      return out.U32(static_cast<std::uint32_t>(scaled));
    }
    case kDecimalN: {
      if (null) return out.U8(0);
      bool negative = false;
      const std::string digits = ScaledDigits(v, type, w.precision, &negative);
      // The magnitude as a little-endian integer of 4 32-bit words.
      std::uint32_t words[4] = {0, 0, 0, 0};
      for (char c : digits) {
        std::uint64_t carry = static_cast<std::uint64_t>(c - '0');
        for (std::uint32_t& word : words) {
          const std::uint64_t x = static_cast<std::uint64_t>(word) * 10 + carry;
          word = static_cast<std::uint32_t>(x);
          carry = x >> 32;
        }
      }
      out.U8(w.size);
      out.U8(negative ? 0 : 1);
      for (int i = 0; i < (w.size - 1) / 4; ++i)
        out.U32(words[i]);
      return;
    }
    case kDateTimeN: {
      if (null) return out.U8(0);
      std::int32_t days = 0;
      std::uint32_t ticks = 0;
      DateTimeParts(v, &days, &ticks);
      out.U8(8);
      out.U32(static_cast<std::uint32_t>(days));
      return out.U32(ticks);
    }
    case kNVarChar: {
      if (w.max) {
        if (null) return out.U64(~std::uint64_t{0});
        const std::string units = ToUtf16(TextOf(v, type));
        out.U64(units.size());
        if (!units.empty()) {
          out.U32(static_cast<std::uint32_t>(units.size()));
          out.Raw(units);
        }
        return out.U32(0);
      }
      if (null) return out.U16(0xFFFF);
      const std::string units = ToUtf16(TextOf(v, type));
      out.U16(static_cast<std::uint16_t>(units.size()));
      return out.Raw(units);
    }
    case kNText: {
      if (null) return out.U8(0);
      const std::string units = ToUtf16(TextOf(v, type));
      out.U8(16);
      out.Raw(std::string(16, '\x01'));  // text pointer
      out.Raw(std::string(8, '\0'));     // timestamp
      out.U32(static_cast<std::uint32_t>(units.size()));
      return out.Raw(units);
    }
  }
}

}  // namespace

std::string_view CollationBytes() { return std::string_view(kCollation, sizeof kCollation); }

std::optional<std::uint32_t> NegotiateVersion(std::uint32_t client_version) {
  if (client_version >= kTds74) return kTds74;
  switch (client_version >> 24) {
    case 0x73:
      return client_version >= kTds73B ? kTds73B : kTds73A;
    case 0x72:
      return kTds72;
    case 0x71:
      return kTds71;
    default:
      return std::nullopt;
  }
}

PreLoginRequest ParsePreLogin(std::string_view payload) {
  PreLoginRequest request;
  Reader r(payload);
  for (;;) {
    const std::uint8_t option = r.U8();
    if (option == 0xFF) break;
    const std::uint16_t offset = r.U16BE();
    const std::uint16_t length = r.U16BE();
    if (static_cast<std::size_t>(offset) + length > payload.size())
      throw ProtocolError("pre-login option outside the message");
    if (option == 0x01 && length >= 1)
      request.encryption = static_cast<std::uint8_t>(payload[offset]);
  }
  return request;
}

std::string PreLoginResponse() {
  struct Option {
    std::uint8_t token;
    std::string data;
  };
  const Option options[] = {
      {0x00,
       {static_cast<char>(kMajor), static_cast<char>(kMinor), static_cast<char>(kBuild >> 8),
        static_cast<char>(kBuild & 0xFF), 0, 0}},
      {0x01, {static_cast<char>(kEncryptNotSup)}},
      {0x02, std::string(1, '\0')},  // no instance name
      {0x03, {}},                    // thread id: none
      {0x04, std::string(1, '\0')},  // no MARS
  };
  Writer out;
  std::uint16_t offset = static_cast<std::uint16_t>(std::size(options) * 5 + 1);
  for (const Option& o : options) {
    out.U8(o.token);
    out.U16BE(offset);
    out.U16BE(static_cast<std::uint16_t>(o.data.size()));
    offset = static_cast<std::uint16_t>(offset + o.data.size());
  }
  out.U8(0xFF);
  for (const Option& o : options)
    out.Raw(o.data);
  return out.Take();
}

std::string ScramblePassword(std::string_view utf16) {
  std::string out(utf16);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    c = static_cast<char>((((b << 4) & 0xF0) | ((b >> 4) & 0x0F)) ^ 0xA5);
  }
  return out;
}

Login7 ParseLogin7(std::string_view payload) {
  Reader r(payload);
  const std::uint32_t length = r.U32();
  if (length > payload.size() || length < 86) throw ProtocolError("login record of a bad length");
  const std::string_view record = payload.substr(0, length);
  Login7 login;
  login.tds_version = r.U32();
  login.packet_size = r.U32();
  r.Skip(12);  // client program version, process id, connection id
  r.U8();      // option flags 1
  const std::uint8_t flags2 = r.U8();
  r.U8();  // type flags
  const std::uint8_t flags3 = r.U8();
  r.Skip(8);  // time zone, locale
  login.integrated_security = (flags2 & 0x80) != 0;
  login.feature_extension = (flags3 & 0x10) != 0;

  // An offset and a length in characters, then the field's UTF-16 bytes.
  auto field = [&]() {
    const std::uint16_t offset = r.U16();
    const std::uint16_t chars = r.U16();
    if (static_cast<std::size_t>(offset) + 2u * chars > record.size())
      throw ProtocolError("login field outside the record");
    return record.substr(offset, 2u * chars);
  };
  login.host = FromUtf16(field());
  login.user = FromUtf16(field());
  login.password = FromUtf16(Unscramble(field()));
  login.app = FromUtf16(field());
  login.server = FromUtf16(field());
  r.Skip(4);  // where the feature extension block is (or nothing)
  login.library = FromUtf16(field());
  login.language = FromUtf16(field());
  login.database = FromUtf16(field());
  return login;
}

std::string SqlBatchText(std::string_view payload, std::uint32_t tds_version) {
  if (tds_version >= kTds72) {
    Reader r(payload);
    const std::uint32_t headers = r.U32();
    if (headers < 4 || headers > payload.size())
      throw ProtocolError("batch headers of a bad length");
    payload.remove_prefix(headers);
  }
  return FromUtf16(payload);
}

// ---- TokenWriter ----

void TokenWriter::EnvChange(EnvChangeType type, std::string_view new_value,
                            std::string_view old_value) {
  Writer body;
  body.U8(type);
  body.BVarChar(new_value);
  body.BVarChar(old_value);
  out_.U8(kTokenEnvChange);
  out_.U16(static_cast<std::uint16_t>(body.size()));
  out_.Raw(body.bytes());
}

void TokenWriter::CollationChange() {
  out_.U8(kTokenEnvChange);
  out_.U16(1 + 1 + sizeof kCollation + 1);
  out_.U8(kEnvCollation);
  out_.U8(sizeof kCollation);
  out_.Raw(CollationBytes());
  out_.U8(0);
}

void TokenWriter::Message(const emu::Message& message) {
  Writer body;
  body.U32(static_cast<std::uint32_t>(message.number));
  body.U8(static_cast<std::uint8_t>(message.state));
  body.U8(static_cast<std::uint8_t>(message.severity));
  // The text, cut to what the token's 16-bit length can carry.
  std::string units = ToUtf16(message.text);
  if (units.size() > 2 * 30000) units.resize(2 * 30000);
  body.U16(static_cast<std::uint16_t>(units.size() / 2));
  body.Raw(units);
  body.BVarChar(kServerName);
  body.BVarChar("");
  if (version_ >= kTds72) {
    body.U32(1);
  } else {
    body.U16(1);
  }
  out_.U8(message.IsError() ? kTokenError : kTokenInfo);
  out_.U16(static_cast<std::uint16_t>(body.size()));
  out_.Raw(body.bytes());
}

void TokenWriter::LoginAck() {
  Writer body;
  body.U8(1);  // T-SQL
  body.U32BE(version_);
  body.BVarChar("Microsoft SQL Server");
  body.U8(kMajor);
  body.U8(kMinor);
  body.U8(static_cast<std::uint8_t>(kBuild >> 8));
  body.U8(static_cast<std::uint8_t>(kBuild & 0xFF));
  out_.U8(kTokenLoginAck);
  out_.U16(static_cast<std::uint16_t>(body.size()));
  out_.Raw(body.bytes());
}

void TokenWriter::FeatureExtAck() {
  out_.U8(kTokenFeatureExtAck);
  out_.U8(0xFF);
}

void TokenWriter::Done(std::uint16_t status, std::uint64_t row_count, std::uint16_t command,
                       Token token) {
  out_.U8(token);
  out_.U16(status);
  out_.U16(command);
  if (version_ >= kTds72) {
    out_.U64(row_count);
  } else {
    out_.U32(static_cast<std::uint32_t>(std::min<std::uint64_t>(row_count, UINT32_MAX)));
  }
}

void TokenWriter::Rows(const ResultSet& rs) {
  std::vector<WireColumn> wire;
  for (std::size_t i = 0; i < rs.columns.size(); ++i)
    wire.push_back(PlanColumn(rs.columns[i], rs, i, version_));
  out_.U8(kTokenColMetadata);
  out_.U16(static_cast<std::uint16_t>(rs.columns.size()));
  for (std::size_t i = 0; i < rs.columns.size(); ++i) {
    if (version_ >= kTds72) {
      out_.U32(0);  // user type
    } else {
      out_.U16(0);
    }
    out_.U16(0x0001);  // nullable
    WriteTypeInfo(out_, wire[i]);
    out_.BVarChar(rs.columns[i].name);
  }
  for (const auto& row : rs.rows) {
    Writer encoded;
    encoded.U8(kTokenRow);
    for (std::size_t i = 0; i < rs.columns.size(); ++i) {
      const Value& v = i < row.size() ? row[i] : Value{};
      WriteValue(encoded, wire[i], v, rs.columns[i].type);
    }
    out_.Raw(encoded.bytes());
  }
}

std::string EncodeBatchResult(const BatchResult& result, std::uint32_t tds_version) {
  TokenWriter w(tds_version);
  const std::vector<Output>& outputs = result.outputs;
  bool failed = false;
  bool ended = false;  // the last token is a DONE without DONE_MORE
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    ended = false;
    if (auto* rs = std::get_if<ResultSet>(&outputs[i])) {
      try {
        w.Rows(*rs);
      } catch (const ServerError& e) {
        for (const emu::Message& m : e.messages())
          w.Message(m);
        w.Done(kDoneError);
        return w.Take();
      }
      std::uint64_t count = rs->rows.size();
      if (i + 1 < outputs.size()) {
        if (auto* rc = std::get_if<RowCount>(&outputs[i + 1])) {
          count = static_cast<std::uint64_t>(rc->count);
          ++i;
        }
      }
      const bool last = i + 1 == outputs.size();
      w.Done(static_cast<std::uint16_t>(kDoneCount | (last ? 0 : kDoneMore)), count,
             kSelectCommand);
      ended = last;
    } else if (auto* rc = std::get_if<RowCount>(&outputs[i])) {
      const bool last = i + 1 == outputs.size();
      w.Done(static_cast<std::uint16_t>(kDoneCount | (last ? 0 : kDoneMore)),
             static_cast<std::uint64_t>(std::max<std::int64_t>(0, rc->count)));
      ended = last;
    } else {
      const emu::Message& m = std::get<emu::Message>(outputs[i]);
      w.Message(m);
      failed |= m.IsError();
    }
  }
  if (!ended) w.Done(failed ? kDoneError : kDoneFinal);
  return w.Take();
}

}  // namespace finprep::emu::tds
