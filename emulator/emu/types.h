// Column types, values and the ordered output of a batch.
//
// The engine keeps SQL Server's column types beside the SQLite data (SQLite alone forgets them):
// conversions, the text form of a value and the types of new columns depend on them.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace finprep::emu {

enum class TypeKind {
  kNull,  // the type of a bare NULL
  kBit,
  kTinyInt,
  kSmallInt,
  kInt,
  kBigInt,
  kDecimal,
  kMoney,
  kSmallMoney,
  kReal,
  kFloat,
  kChar,
  kVarChar,
  kText,
  kNChar,
  kNVarChar,
  kNText,
  kDateTime,
  kSmallDateTime,
};

struct SqlType {
  TypeKind kind = TypeKind::kNull;
  int length = 0;  // character types: the declared length
  int precision = 0;
  int scale = 0;  // decimal: digits after the point

  static SqlType Of(TypeKind kind, int length = 0) { return SqlType{kind, length, 0, 0}; }
  static SqlType Decimal(int precision, int scale) {
    return SqlType{TypeKind::kDecimal, 0, precision, scale};
  }
  static SqlType VarChar(int length) { return Of(TypeKind::kVarChar, length); }

  // The type's name as SQL Server writes it: "int", "varchar(254)", "decimal(18,2)".
  std::string Name() const;
  // Parses a type name as written in CREATE TABLE; nullopt for an unknown type.
  static std::optional<SqlType> Parse(std::string_view name);

  bool IsNull() const { return kind == TypeKind::kNull; }
  bool IsInteger() const;  // bit, tinyint, smallint, int, bigint
  bool IsNumber() const;   // integers, decimal, money, real, float
  bool IsText() const;     // char, varchar, text and their national forms
  bool IsDateTime() const {
    return kind == TypeKind::kDateTime || kind == TypeKind::kSmallDateTime;
  }
  // SQL Server's data type precedence: the operand of lower precedence is converted.
  int Precedence() const;
  // The SQLite column type that holds values of this type.
  const char* StorageDecl() const;
};

// The higher of two types by precedence (NULL yields the other).
SqlType HigherType(const SqlType& a, const SqlType& b);

// A value as SQLite holds it.
using Value = std::variant<std::monostate, std::int64_t, double, std::string>;

// The text form of a value of a column of type `type`, as a client reads it; nullopt for NULL.
// Integers in decimal, money with 4 decimals, decimal(p,s) with s decimals, float in up to 15
// significant digits, datetime as "YYYY-MM-DD hh:mm:ss.mmm".
std::optional<std::string> FormatValue(const Value& value, const SqlType& type);

struct Column {
  std::string name;
  SqlType type;
};

struct ResultSet {
  std::vector<Column> columns;
  std::vector<std::vector<Value>> rows;
};

// A message from the server: an error (severity 11 and above) or an informational message.
struct Message {
  int number = 0;
  int severity = 0;
  int state = 1;
  std::string text;
  bool IsError() const { return severity > 10; }
};

struct RowCount {
  std::int64_t count = 0;
};

// What a batch produced, in order: result sets, row counts of statements without a result set,
// and messages.  A batch stops at its first error, which is its last entry.
using Output = std::variant<ResultSet, RowCount, Message>;

struct BatchResult {
  std::vector<Output> outputs;
  // The client cancelled the batch during a wait: the statements before it ran, none after.
  bool cancelled = false;

  // The first error, or nullptr when the batch succeeded.
  const Message* FirstError() const;
  // The first result set, or nullptr.
  const ResultSet* FirstResultSet() const;
};

// Raised inside the engine for a failing statement; carries every message of the failure in
// the order the server sends them (a failed RESTORE sends several).
class ServerError : public std::runtime_error {
 public:
  explicit ServerError(Message message);
  explicit ServerError(std::vector<Message> messages);
  const std::vector<Message>& messages() const { return messages_; }

 private:
  std::vector<Message> messages_;
};

// ---- Conversions with SQL Server's rules ----

// Text to whole number: blanks around it allowed, an empty or blank text is 0.
std::optional<std::int64_t> ParseSqlInt(std::string_view text);
// Text to float: blanks around it allowed, an empty or blank text is 0; digits, sign, point and
// exponent only.
std::optional<double> ParseSqlFloat(std::string_view text);
// STR(value, length, decimals): rounded, right-justified in `length` characters, '*' when the
// whole part does not fit.
std::string FormatStr(double value, int length, int decimals);
// A date and time in the accepted input forms, as "YYYY-MM-DD hh:mm:ss.mmm"; nullopt when invalid.
std::optional<std::string> NormalizeDateTime(std::string_view text);
// The text a value of type `type` converts to (CONVERT(varchar, x) with the default style).
std::string ConvertToText(const Value& value, const SqlType& type);
// Converts a value to type `to` with SQL Server's implicit conversion rules; `from` is the type
// the value has.  `assignment` is true when the value is stored into a column (a text that is
// too long is an error there, and is cut in a CAST).  Throws ServerError.
Value ConvertValue(const Value& value, const SqlType& from, const SqlType& to, bool assignment);

}  // namespace finprep::emu
