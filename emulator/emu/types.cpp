#include "emu/types.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "emu/messages.h"
#include "platform/text.h"

namespace finprep::emu {

namespace {

struct TypeName {
  const char* name;
  TypeKind kind;
};

constexpr TypeName kTypeNames[] = {
    {"bit", TypeKind::kBit},           {"tinyint", TypeKind::kTinyInt},
    {"smallint", TypeKind::kSmallInt}, {"int", TypeKind::kInt},
    {"integer", TypeKind::kInt},       {"bigint", TypeKind::kBigInt},
    {"decimal", TypeKind::kDecimal},   {"numeric", TypeKind::kDecimal},
    {"money", TypeKind::kMoney},       {"smallmoney", TypeKind::kSmallMoney},
    {"real", TypeKind::kReal},         {"float", TypeKind::kFloat},
    {"char", TypeKind::kChar},         {"varchar", TypeKind::kVarChar},
    {"text", TypeKind::kText},         {"nchar", TypeKind::kNChar},
    {"nvarchar", TypeKind::kNVarChar}, {"ntext", TypeKind::kNText},
    {"datetime", TypeKind::kDateTime}, {"smalldatetime", TypeKind::kSmallDateTime},
};

const char* BaseName(TypeKind kind) {
  if (kind == TypeKind::kNull) return "int";
  for (const TypeName& t : kTypeNames)
    if (t.kind == kind) return t.name;
  return "int";
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

// Length of a text as SQL Server counts it for a character type: bytes of the ANSI code page
// for char/varchar (one per ASCII character, two for others), characters for the national types.
int CharLength(std::string_view text, bool national) {
  int n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    n += (c < 0x80 || national) ? 1 : 2;
  }
  return n;
}

// The longest prefix of `text` whose length is at most `limit`, cut at a character boundary.
std::string CutToLength(std::string_view text, int limit, bool national) {
  std::size_t i = 0;
  int n = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int width = (c < 0x80 || national) ? 1 : 2;
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
    if (n + width > limit) break;
    n += width;
    i += len;
  }
  return std::string(text.substr(0, std::min(i, text.size())));
}

std::string FixedDecimals(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  std::string s = buf;
  if (s.size() > 1 && s[0] == '-' && s.find_first_not_of("0.", 1) == std::string::npos)
    s.erase(0, 1);  // no "-0.00"
  return s;
}

double RoundHalfAway(double value, int decimals) {
  double scale = std::pow(10.0, decimals);
  double scaled = value * scale;
  // Nudge by a relative epsilon so that 2.675 (stored as 2.67499999...) rounds like its text.
  double nudged = scaled + (scaled >= 0 ? 1 : -1) * std::abs(scaled) * 1e-14;
  return std::round(nudged) / scale;
}

std::string ShortestFloat(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  return buf;
}

bool IsNational(TypeKind kind) {
  return kind == TypeKind::kNChar || kind == TypeKind::kNVarChar || kind == TypeKind::kNText;
}

const char* SourceName(const SqlType& type) {
  if (type.IsText()) return IsNational(type.kind) ? "nvarchar" : "varchar";
  return BaseName(type.kind);
}

std::optional<double> ValueAsDouble(const Value& value) {
  if (auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
  if (auto* d = std::get_if<double>(&value)) return *d;
  return std::nullopt;
}

const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string SqlType::Name() const {
  std::string name = BaseName(kind);
  switch (kind) {
    case TypeKind::kChar:
    case TypeKind::kVarChar:
    case TypeKind::kNChar:
    case TypeKind::kNVarChar:
      return name + "(" + std::to_string(length) + ")";
    case TypeKind::kDecimal:
      return name + "(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
    default:
      return name;
  }
}

std::optional<SqlType> SqlType::Parse(std::string_view name) {
  std::string text = AsciiLower(Trim(name));
  std::string base = text;
  std::vector<int> args;
  std::size_t open = text.find('(');
  if (open != std::string::npos) {
    std::size_t close = text.find(')', open);
    if (close == std::string::npos || close + 1 != text.size()) return std::nullopt;
    base = Trim(text.substr(0, open));
    std::string inner = text.substr(open + 1, close - open - 1);
    std::size_t start = 0;
    while (start <= inner.size()) {
      std::size_t comma = inner.find(',', start);
      std::string part =
          Trim(inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      if (part == "max") {
        args.push_back(-1);
      } else {
        auto value = ParseInt32(part);
        if (!value || *value < 0) return std::nullopt;
        args.push_back(*value);
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  for (const TypeName& t : kTypeNames) {
    if (base != t.name) continue;
    SqlType type = Of(t.kind);
    switch (t.kind) {
      case TypeKind::kChar:
      case TypeKind::kVarChar:
      case TypeKind::kNChar:
      case TypeKind::kNVarChar:
        if (args.size() > 1) return std::nullopt;
        type.length = args.empty() ? 1 : args[0];
        if (type.length == -1) type.kind = IsNational(t.kind) ? TypeKind::kNText : TypeKind::kText;
        if (type.length == 0) return std::nullopt;
        return type;
      case TypeKind::kDecimal:
        if (args.size() > 2) return std::nullopt;
        type.precision = args.empty() ? 18 : args[0];
        type.scale = args.size() > 1 ? args[1] : 0;
        if (type.precision < 1 || type.precision > 38 || type.scale > type.precision)
          return std::nullopt;
        return type;
      case TypeKind::kFloat:
        if (args.size() > 1) return std::nullopt;
        if (!args.empty() && args[0] <= 24) type.kind = TypeKind::kReal;
        return type;
      default:
        if (!args.empty()) return std::nullopt;
        return type;
    }
  }
  return std::nullopt;
}

bool SqlType::IsInteger() const {
  return kind == TypeKind::kBit || kind == TypeKind::kTinyInt || kind == TypeKind::kSmallInt ||
         kind == TypeKind::kInt || kind == TypeKind::kBigInt;
}

bool SqlType::IsNumber() const {
  return IsInteger() || kind == TypeKind::kDecimal || kind == TypeKind::kMoney ||
         kind == TypeKind::kSmallMoney || kind == TypeKind::kReal || kind == TypeKind::kFloat;
}

bool SqlType::IsText() const {
  return kind == TypeKind::kChar || kind == TypeKind::kVarChar || kind == TypeKind::kText ||
         IsNational(kind);
}

int SqlType::Precedence() const {
  switch (kind) {
    case TypeKind::kDateTime:
      return 30;
    case TypeKind::kSmallDateTime:
      return 29;
    case TypeKind::kFloat:
      return 28;
    case TypeKind::kReal:
      return 27;
    case TypeKind::kDecimal:
      return 26;
    case TypeKind::kMoney:
      return 25;
    case TypeKind::kSmallMoney:
      return 24;
    case TypeKind::kBigInt:
      return 23;
    case TypeKind::kInt:
      return 22;
    case TypeKind::kSmallInt:
      return 21;
    case TypeKind::kTinyInt:
      return 20;
    case TypeKind::kBit:
      return 19;
    case TypeKind::kNText:
      return 18;
    case TypeKind::kText:
      return 17;
    case TypeKind::kNVarChar:
      return 15;
    case TypeKind::kNChar:
      return 14;
    case TypeKind::kVarChar:
      return 13;
    case TypeKind::kChar:
      return 12;
    case TypeKind::kNull:
      return 0;
  }
  return 0;
}

const char* SqlType::StorageDecl() const {
  if (IsInteger()) return "INTEGER";
  if (IsNumber()) return "REAL";
  return "TEXT";
}

SqlType HigherType(const SqlType& a, const SqlType& b) {
  if (a.IsNull()) return b;
  if (b.IsNull()) return a;
  if (a.kind == b.kind) {
    SqlType t = a;
    t.length = std::max(a.length, b.length);
    t.precision = std::max(a.precision, b.precision);
    t.scale = std::max(a.scale, b.scale);
    return t;
  }
  return a.Precedence() >= b.Precedence() ? a : b;
}

std::optional<std::string> FormatValue(const Value& value, const SqlType& type) {
  if (std::holds_alternative<std::monostate>(value)) return std::nullopt;
  if (auto* s = std::get_if<std::string>(&value)) return *s;
  double number = *ValueAsDouble(value);
  switch (type.kind) {
    case TypeKind::kMoney:
    case TypeKind::kSmallMoney:
      return FixedDecimals(RoundHalfAway(number, 4), 4);
    case TypeKind::kDecimal:
      return FixedDecimals(RoundHalfAway(number, type.scale), type.scale);
    case TypeKind::kReal:
    case TypeKind::kFloat:
      return ShortestFloat(number);
    default:
      if (auto* i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
      return ShortestFloat(number);
  }
}

const Message* BatchResult::FirstError() const {
  for (const Output& o : outputs)
    if (auto* m = std::get_if<Message>(&o); m && m->IsError()) return m;
  return nullptr;
}

const ResultSet* BatchResult::FirstResultSet() const {
  for (const Output& o : outputs)
    if (auto* r = std::get_if<ResultSet>(&o)) return r;
  return nullptr;
}

ServerError::ServerError(Message message) : ServerError(std::vector<Message>{std::move(message)}) {}

ServerError::ServerError(std::vector<Message> messages)
    : std::runtime_error(messages.empty() ? std::string() : messages.front().text),
      messages_(std::move(messages)) {}

std::optional<std::int64_t> ParseSqlInt(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty()) return 0;
  std::size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    if (value > (INT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

std::optional<double> ParseSqlFloat(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty()) return 0.0;
  // Only plain decimal notation: strtod alone would take "inf", "nan" and hexadecimal.
  std::size_t i = 0;
  if (text[i] == '+' || text[i] == '-') ++i;
  std::size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9')
    ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
      ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
      ++i, ++exp_digits;
    if (exp_digits == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  std::string copy(text);
  double value = std::strtod(copy.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

std::string FormatStr(double value, int length, int decimals) {
  if (length <= 0 || length > 8000) return std::string();
  if (decimals < 0) decimals = 0;
  if (decimals > 16) decimals = 16;
  std::string text = FixedDecimals(RoundHalfAway(value, decimals), decimals);
  if (static_cast<int>(text.size()) > length) {
    // Fewer decimals when the whole part fits; stars when it does not.
    std::string whole = FixedDecimals(RoundHalfAway(value, 0), 0);
    if (static_cast<int>(whole.size()) > length) return std::string(length, '*');
    int room = length - static_cast<int>(whole.size()) - 1;
    text = room > 0 ? FixedDecimals(RoundHalfAway(value, room), room) : whole;
    if (static_cast<int>(text.size()) > length) text = whole;
  }
  return std::string(length - text.size(), ' ') + text;
}

std::optional<std::string> NormalizeDateTime(std::string_view input) {
  std::string text(TrimBlanks(input));
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  std::size_t i = 0;
  auto digits = [&](int count, int* out) {
    int v = 0;
    for (int k = 0; k < count; ++k) {
      if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i++] - '0');
    }
    *out = v;
    return true;
  };
  auto number = [&](int* out) {  // one or two digits
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    int v = text[i++] - '0';
    if (i < text.size() && text[i] >= '0' && text[i] <= '9') v = v * 10 + (text[i++] - '0');
    *out = v;
    return true;
  };
  if (!digits(4, &y)) return std::nullopt;
  if (i < text.size() && (text[i] == '-' || text[i] == '/' || text[i] == '.')) {
    char sep = text[i++];
    if (!number(&mo) || i >= text.size() || text[i++] != sep || !number(&d)) return std::nullopt;
  } else if (!digits(2, &mo) || !digits(2, &d)) {
    return std::nullopt;
  }
  if (i < text.size()) {
    if (text[i] != ' ' && text[i] != 'T') return std::nullopt;
    while (i < text.size() && (text[i] == ' ' || text[i] == 'T'))
      ++i;
    if (!number(&h) || i >= text.size() || text[i++] != ':' || !number(&mi)) return std::nullopt;
    if (i < text.size() && text[i] == ':') {
      ++i;
      if (!number(&s)) return std::nullopt;
      if (i < text.size() && text[i] == '.') {
        ++i;
        int frac = 0, n = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
          if (n < 3) frac = frac * 10 + (text[i] - '0'), ++n;
          ++i;
        }
        while (n < 3)
          frac *= 10, ++n;
        ms = frac;
      }
    }
    if (i != text.size()) return std::nullopt;
  }
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 1753 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] ||
      (mo == 2 && d == 29 && !leap) || h > 23 || mi > 59 || s > 59)
    return std::nullopt;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
  return std::string(buf);
}

std::string ConvertToText(const Value& value, const SqlType& type) {
  if (auto* text = std::get_if<std::string>(&value)) {
    if (type.IsDateTime() && text->size() >= 16) {
      // Default style: "Jan  5 2023 12:00AM".
      int y = 0, mo = 0, d = 0, h = 0, mi = 0;
      if (std::sscanf(text->c_str(), "%d-%d-%d %d:%d", &y, &mo, &d, &h, &mi) == 5 && mo >= 1 &&
          mo <= 12) {
        char buf[96];
        int h12 = h % 12 == 0 ? 12 : h % 12;
        std::snprintf(buf, sizeof buf, "%s %2d %d %2d:%02d%s", kMonths[mo - 1], d, y, h12, mi,
                      h < 12 ? "AM" : "PM");
        return buf;
      }
    }
    return *text;
  }
  double number = ValueAsDouble(value).value_or(0);
  switch (type.kind) {
    case TypeKind::kMoney:
    case TypeKind::kSmallMoney:
      return FixedDecimals(RoundHalfAway(number, 2), 2);
    case TypeKind::kDecimal:
      return FixedDecimals(RoundHalfAway(number, type.scale), type.scale);
    case TypeKind::kReal:
    case TypeKind::kFloat: {
      // Default style: at most 6 significant digits, exponent when needed.
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.6g", number);
      return buf;
    }
    default:
      if (auto* i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
      return ShortestFloat(number);
  }
}

Value ConvertValue(const Value& value, const SqlType& from, const SqlType& to, bool assignment) {
  if (std::holds_alternative<std::monostate>(value) || to.IsNull()) return value;
  const std::string* text = std::get_if<std::string>(&value);
  if (to.IsText()) {
    std::string result = text && !from.IsDateTime() ? *text : ConvertToText(value, from);
    bool national = IsNational(to.kind);
    if (to.kind != TypeKind::kText && to.kind != TypeKind::kNText && to.length > 0 &&
        CharLength(result, national) > to.length) {
      // Text that does not fit: an error when stored, cut by a conversion.  Trailing blanks
      // may always go.
      std::string trimmed = result;
      while (!trimmed.empty() && trimmed.back() == ' ')
        trimmed.pop_back();
      if (CharLength(trimmed, national) <= to.length) {
        result = CutToLength(result, to.length, national);
      } else if (assignment) {
        throw ServerError(msg::Truncated());
      } else {
        result = CutToLength(result, to.length, national);
      }
    }
    if (to.kind == TypeKind::kChar || to.kind == TypeKind::kNChar) {
      int n = CharLength(result, national);
      if (n < to.length) result.append(to.length - n, ' ');
    }
    return result;
  }
  if (to.IsDateTime()) {
    if (text) {
      auto normalized = NormalizeDateTime(*text);
      if (!normalized) throw ServerError(msg::DateConvertFailed());
      return *normalized;
    }
    throw ServerError(
        msg::Error(257, std::string("Implicit conversion from data type ") + SourceName(from) +
                            " to datetime is not allowed. Use the CONVERT function to run this "
                            "query."));
  }
  // To a number.
  if (text) {
    if (to.IsInteger()) {
      auto parsed = ParseSqlInt(*text);
      if (!parsed)
        throw ServerError(msg::ConvertToIntFailed(SourceName(from), *text, BaseName(to.kind)));
      if (to.kind == TypeKind::kBit) return static_cast<std::int64_t>(*parsed != 0);
      return *parsed;
    }
    auto parsed = ParseSqlFloat(*text);
    if (!parsed) {
      const char* target = to.kind == TypeKind::kDecimal ? "numeric" : BaseName(to.kind);
      throw ServerError(msg::ConvertFailed(SourceName(from), target));
    }
    if (to.kind == TypeKind::kDecimal) return RoundHalfAway(*parsed, to.scale);
    if (to.kind == TypeKind::kMoney || to.kind == TypeKind::kSmallMoney)
      return RoundHalfAway(*parsed, 4);
    return *parsed;
  }
  double number = *ValueAsDouble(value);
  if (to.IsInteger()) {
    if (to.kind == TypeKind::kBit) return static_cast<std::int64_t>(number != 0);
    if (auto* i = std::get_if<std::int64_t>(&value)) return *i;
    if (std::abs(number) >= 9.2e18)
      throw ServerError(msg::Error(8115, std::string("Arithmetic overflow error converting ") +
                                             SourceName(from) + " to data type " +
                                             BaseName(to.kind) + "."));
    return static_cast<std::int64_t>(std::trunc(number));
  }
  if (to.kind == TypeKind::kDecimal) {
    if (std::holds_alternative<std::int64_t>(value) && to.scale == 0) return value;
    return RoundHalfAway(number, to.scale);
  }
  if (to.kind == TypeKind::kMoney || to.kind == TypeKind::kSmallMoney)
    return RoundHalfAway(number, 4);
  return number;
}

}  // namespace finprep::emu
