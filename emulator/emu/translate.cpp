#include "emu/translate.h"

#include <cstdio>

#include "emu/messages.h"
#include "platform/text.h"

namespace finprep::emu {

namespace {

struct Source {
  std::string exposed;  // the name that qualifies its columns
  std::vector<Column> columns;
};

struct Scope {
  std::vector<Source> sources;
};

struct Bound {
  std::string sql;
  SqlType type;
  const Expr* literal = nullptr;  // a string or number literal, converted while printing
  bool is_null = false;
};

SqlType BitType() { return SqlType::Of(TypeKind::kBit); }

Value LiteralValue(const Expr& e) {
  if (e.kind == ExprKind::kString) return e.text;
  if (e.kind == ExprKind::kInteger) {
    if (auto v = ParseSqlInt(e.text)) return *v;
  }
  if (auto v = ParseSqlFloat(e.text)) return *v;
  return std::monostate{};
}

std::string ValueSql(const Value& v) {
  if (auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (auto* d = std::get_if<double>(&v)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", *d);
    std::string s = buf;
    if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
    return s;
  }
  if (auto* s = std::get_if<std::string>(&v)) return QuoteText(*s);
  return "NULL";
}

int TextLength(const SqlType& t) {
  if (t.IsText()) {
    if (t.kind == TypeKind::kText || t.kind == TypeKind::kNText) return 8000;
    return t.length;
  }
  if (t.IsDateTime()) return 30;
  return 30;  // the longest text of a number
}

SqlType NumberLiteralType(const std::string& text) {
  if (text.find_first_of("eE") != std::string::npos) return SqlType::Of(TypeKind::kFloat);
  std::size_t point = text.find('.');
  int digits = 0, scale = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
      if (point != std::string::npos && i > point) ++scale;
    }
  }
  return SqlType::Decimal(std::max(1, std::min(38, digits)), scale);
}

// Converts a bound expression to another type, as SQL Server converts implicitly.
std::string Convert(const Bound& b, const SqlType& to, bool assignment = false) {
  if (b.is_null) return "NULL";
  if (to.IsNull()) return b.sql;
  const SqlType& from = b.type;
  if (!assignment) {
    if ((to.IsText() && from.IsText()) || (to.IsNumber() && from.IsNumber()) ||
        (to.IsDateTime() && from.IsDateTime()))
      return b.sql;
    if (b.literal) {
      try {
        return ValueSql(ConvertValue(LiteralValue(*b.literal), from, to, false));
      } catch (const ServerError&) {
        // A literal that does not convert fails when the statement evaluates it.
      }
    }
  }
  return "emu_cast(" + b.sql + ", '" + from.Name() + "', '" + to.Name() + "', " +
         (assignment ? "1" : "0") + ")";
}

// The expression as text (for LTRIM, UPPER and the like).
std::string AsText(const Bound& b) {
  if (b.is_null || b.type.IsText()) return b.sql;
  return Convert(b, SqlType::VarChar(8000));
}

class Binder {
 public:
  Binder(Catalog& catalog, int& counter) : catalog_(catalog), counter_(counter) {}

  TranslatedSelect Select(const emu::Select& s) {
    Scope scope;
    std::string from;
    for (std::size_t i = 0; i < s.from.size(); ++i) {
      if (i) from += ", ";
      from += TableSource(*s.from[i], scope);
    }
    TranslatedSelect out;
    std::vector<std::string> items;
    for (const SelectItem& item : s.items) {
      if (item.star) {
        if (scope.sources.empty())
          throw ServerError(msg::Error(263, "Must specify table to select from."));
        bool matched = false;
        for (const Source& src : scope.sources) {
          if (!item.star_qualifier.empty() && !EqualsIgnoreCase(src.exposed, item.star_qualifier))
            continue;
          matched = true;
          for (const Column& c : src.columns) {
            out.columns.push_back(c);
            items.push_back(QuoteId(src.exposed) + "." + QuoteId(c.name));
          }
        }
        if (!matched)
          throw ServerError(msg::Error(107, "The column prefix '" + item.star_qualifier +
                                                "' does not match with a table name or alias "
                                                "name used in the query."));
        continue;
      }
      Bound b = Bind(*item.expr, scope);
      std::string name = item.alias;
      if (name.empty() && item.expr->kind == ExprKind::kColumn) name = item.expr->names.back();
      out.columns.push_back(emu::Column{name, b.type});
      items.push_back(b.sql);
    }
    // Aliases: the column's own name where it is unique, a made-up one otherwise.
    std::string list;
    for (std::size_t i = 0; i < items.size(); ++i) {
      std::string alias = out.columns[i].name;
      bool clash = alias.empty();
      for (std::size_t j = 0; j < i && !clash; ++j)
        clash = EqualsIgnoreCase(out.aliases[j], alias);
      if (clash) alias = "_emu_c" + std::to_string(i + 1);
      out.aliases.push_back(alias);
      if (i) list += ", ";
      list += items[i] + " AS " + QuoteId(alias);
    }
    std::string sql = std::string("SELECT ") + (s.distinct ? "DISTINCT " : "") + list;
    if (!from.empty()) sql += " FROM " + from;
    if (s.where) sql += " WHERE " + Bind(*s.where, scope).sql;
    if (!s.group_by.empty()) {
      sql += " GROUP BY ";
      for (std::size_t i = 0; i < s.group_by.size(); ++i) {
        if (i) sql += ", ";
        sql += Bind(*s.group_by[i], scope).sql;
      }
    }
    if (s.having) sql += " HAVING " + Bind(*s.having, scope).sql;
    if (!s.order_by.empty()) {
      sql += " ORDER BY ";
      for (std::size_t i = 0; i < s.order_by.size(); ++i) {
        if (i) sql += ", ";
        const Expr& e = *s.order_by[i].expr;
        std::string term;
        if (e.kind == ExprKind::kInteger) {
          auto n = ParseSqlInt(e.text);
          if (!n || *n < 1 || *n > static_cast<std::int64_t>(items.size()))
            throw ServerError(msg::Error(108,
                                         "The ORDER BY position number " + e.text +
                                             " is out of range of the number of items in "
                                             "the select list.",
                                         15));
          term = e.text;
        } else {
          for (std::size_t k = 0; k < out.columns.size() && term.empty(); ++k) {
            if (e.kind == ExprKind::kColumn && e.names.size() == 1 &&
                EqualsIgnoreCase(out.columns[k].name, e.names[0]) &&
                !(s.items.size() > k && s.items[k].star)) {
              term = QuoteId(out.aliases[k]);
              if (out.columns[k].type.IsText()) term += " COLLATE emu_ci";
            }
          }
          if (term.empty()) {
            Bound b = Bind(e, scope);
            term = b.sql + (b.type.IsText() ? " COLLATE emu_ci" : "");
          }
        }
        sql += term + (s.order_by[i].descending ? " DESC" : "");
      }
    }
    if (s.top) sql += " LIMIT " + std::to_string(*s.top);
    out.sql = sql;
    return out;
  }

  std::string TableSource(const TableRef& ref, Scope& scope) {
    switch (ref.kind) {
      case TableRef::Kind::kNamed: {
        ObjectInfo info = catalog_.Require(ref.name);
        std::string exposed = ref.alias.empty() ? ref.name.back() : ref.alias;
        AddSource(scope, Source{exposed, info.columns});
        std::string table =
            (info.schema == "main" ? "" : QuoteId(info.schema) + ".") + QuoteId(info.name);
        return table + " AS " + QuoteId(exposed);
      }
      case TableRef::Kind::kDerived: {
        TranslatedSelect sub = Binder(catalog_, counter_).Select(*ref.derived);
        for (std::size_t i = 0; i < sub.columns.size(); ++i) {
          if (sub.columns[i].name.empty())
            throw ServerError(msg::Error(8155, "No column name was specified for column " +
                                                   std::to_string(i + 1) + " of '" + ref.alias +
                                                   "'."));
          for (std::size_t j = 0; j < i; ++j)
            if (EqualsIgnoreCase(sub.columns[j].name, sub.columns[i].name))
              throw ServerError(msg::DuplicateDerivedColumn(sub.columns[i].name, ref.alias));
        }
        AddSource(scope, Source{ref.alias, sub.columns});
        return "(" + sub.sql + ") AS " + QuoteId(ref.alias);
      }
      case TableRef::Kind::kJoin: {
        std::string left = TableSource(*ref.left, scope);
        std::string right = TableSource(*ref.right, scope);
        if (ref.right->kind == TableRef::Kind::kJoin) right = "(" + right + ")";
        std::string sql =
            left + " " +
            (ref.join_type == "INNER" ? std::string("JOIN") : ref.join_type + " JOIN") + " " +
            right;
        if (ref.on) sql += " ON " + Bind(*ref.on, scope).sql;
        return sql;
      }
    }
    return std::string();
  }

  void AddSource(Scope& scope, Source source) {
    for (const Source& s : scope.sources)
      if (EqualsIgnoreCase(s.exposed, source.exposed))
        throw ServerError(msg::SameExposedNames(s.exposed, source.exposed));
    scope.sources.push_back(std::move(source));
  }

  Bound BindColumn(const Name& names, const Scope& scope) {
    const std::string& column = names.back();
    if (names.size() == 1) {
      const Source* found_src = nullptr;
      const emu::Column* found = nullptr;
      for (const Source& src : scope.sources) {
        for (const emu::Column& c : src.columns) {
          if (!EqualsIgnoreCase(c.name, column)) continue;
          if (found) throw ServerError(msg::AmbiguousColumn(column));
          found = &c;
          found_src = &src;
        }
      }
      if (!found) throw ServerError(msg::InvalidColumn(column));
      return Bound{QuoteId(found_src->exposed) + "." + QuoteId(found->name), found->type};
    }
    const std::string& qualifier = names[names.size() - 2];
    for (const Source& src : scope.sources) {
      if (!EqualsIgnoreCase(src.exposed, qualifier)) continue;
      for (const emu::Column& c : src.columns)
        if (EqualsIgnoreCase(c.name, column))
          return Bound{QuoteId(src.exposed) + "." + QuoteId(c.name), c.type};
      throw ServerError(msg::InvalidColumn(column));
    }
    throw ServerError(msg::NotBound(JoinName(names)));
  }

  Bound Compare(const std::string& op, const Bound& a, const Bound& b) {
    std::string sa = a.sql, sb = b.sql;
    bool text = false;
    if (!a.is_null && !b.is_null) {
      if (a.type.IsText() && b.type.IsText()) {
        text = true;
      } else {
        SqlType target = HigherType(a.type, b.type);
        sa = Convert(a, target);
        sb = Convert(b, target);
      }
    }
    return Bound{"(" + sa + " " + op + " " + sb + (text ? " COLLATE emu_ci" : "") + ")", BitType()};
  }

  Bound Bind(const Expr& e, const Scope& scope) {
    switch (e.kind) {
      case ExprKind::kColumn:
        return BindColumn(e.names, scope);
      case ExprKind::kNull: {
        Bound b{"NULL", SqlType{}};
        b.is_null = true;
        return b;
      }
      case ExprKind::kInteger: {
        auto v = ParseSqlInt(e.text);
        if (v && *v >= INT32_MIN && *v <= INT32_MAX)
          return Bound{e.text, SqlType::Of(TypeKind::kInt), &e};
        if (v) return Bound{e.text, SqlType::Of(TypeKind::kBigInt), &e};
        return Bound{ValueSql(LiteralValue(e)), SqlType::Decimal(38, 0), &e};
      }
      case ExprKind::kNumber:
        return Bound{ValueSql(LiteralValue(e)), NumberLiteralType(e.text), &e};
      case ExprKind::kString: {
        int length = 0;
        for (unsigned char c : e.text)
          if ((c & 0xC0) != 0x80) length += (c < 0x80 || e.national) ? 1 : 2;
        SqlType type =
            SqlType::Of(e.national ? TypeKind::kNVarChar : TypeKind::kVarChar, std::max(1, length));
        return Bound{QuoteText(e.text), type, &e};
      }
      case ExprKind::kStar:
        throw ServerError(msg::SyntaxNear("*"));
      case ExprKind::kNegate: {
        Bound a = Bind(*e.args[0], scope);
        SqlType type = a.type.IsText() ? SqlType::Of(TypeKind::kFloat) : a.type;
        return Bound{"(-" + Convert(a, type) + ")", type};
      }
      case ExprKind::kBinary:
        return Arithmetic(e.text, Bind(*e.args[0], scope), Bind(*e.args[1], scope));
      case ExprKind::kCompare:
        return Compare(e.text, Bind(*e.args[0], scope), Bind(*e.args[1], scope));
      case ExprKind::kAnd:
      case ExprKind::kOr:
        return Bound{"(" + Bind(*e.args[0], scope).sql +
                         (e.kind == ExprKind::kAnd ? " AND " : " OR ") +
                         Bind(*e.args[1], scope).sql + ")",
                     BitType()};
      case ExprKind::kNot:
        return Bound{"(NOT " + Bind(*e.args[0], scope).sql + ")", BitType()};
      case ExprKind::kIsNull:
        return Bound{
            "(" + Bind(*e.args[0], scope).sql + (e.negated ? " IS NOT NULL)" : " IS NULL)"),
            BitType()};
      case ExprKind::kCase:
        return Case(e, scope);
      case ExprKind::kFunction:
        return Function(e, scope);
      case ExprKind::kIn: {
        Bound a = Bind(*e.args[0], scope);
        std::vector<Bound> list;
        SqlType target = a.type;
        for (std::size_t i = 1; i < e.args.size(); ++i) {
          list.push_back(Bind(*e.args[i], scope));
          target = HigherType(target, list.back().type);
        }
        bool text = target.IsText();
        std::string sql = "(" + Convert(a, target) + (text ? " COLLATE emu_ci" : "") +
                          (e.negated ? " NOT IN (" : " IN (");
        for (std::size_t i = 0; i < list.size(); ++i)
          sql += (i ? ", " : "") + Convert(list[i], target);
        return Bound{sql + "))", BitType()};
      }
      case ExprKind::kBetween: {
        Bound a = Bind(*e.args[0], scope);
        Bound lo = Bind(*e.args[1], scope);
        Bound hi = Bind(*e.args[2], scope);
        SqlType target = HigherType(HigherType(a.type, lo.type), hi.type);
        bool text = target.IsText();
        return Bound{"(" + Convert(a, target) + (text ? " COLLATE emu_ci" : "") +
                         (e.negated ? " NOT BETWEEN " : " BETWEEN ") + Convert(lo, target) +
                         " AND " + Convert(hi, target) + ")",
                     BitType()};
      }
      case ExprKind::kLike: {
        Bound a = Bind(*e.args[0], scope);
        Bound pattern = Bind(*e.args[1], scope);
        return Bound{
            "(" + AsText(a) + (e.negated ? " NOT LIKE " : " LIKE ") + AsText(pattern) + ")",
            BitType()};
      }
      case ExprKind::kCast: {
        Bound a = Bind(*e.args[0], scope);
        if (a.is_null) return Bound{"NULL", e.cast_type};
        return Bound{
            "emu_cast(" + a.sql + ", '" + a.type.Name() + "', '" + e.cast_type.Name() + "', 0)",
            e.cast_type};
      }
    }
    throw ServerError(msg::Unsupported("this expression"));
  }

  Bound Arithmetic(const std::string& op, const Bound& a, const Bound& b) {
    bool a_text = a.type.IsText() || a.is_null;
    bool b_text = b.type.IsText() || b.is_null;
    if (op == "+" && a_text && b_text && (a.type.IsText() || b.type.IsText())) {
      bool national = a.type.kind == TypeKind::kNVarChar || a.type.kind == TypeKind::kNChar ||
                      b.type.kind == TypeKind::kNVarChar || b.type.kind == TypeKind::kNChar;
      int length = std::min(
          8000, (a.is_null ? 0 : TextLength(a.type)) + (b.is_null ? 0 : TextLength(b.type)));
      return Bound{
          "(" + a.sql + " || " + b.sql + ")",
          SqlType::Of(national ? TypeKind::kNVarChar : TypeKind::kVarChar, std::max(1, length))};
    }
    SqlType target = HigherType(a.type, b.type);
    if (target.IsDateTime()) throw ServerError(msg::Unsupported("date arithmetic"));
    if (target.IsText() || target.IsNull()) target = SqlType::Of(TypeKind::kInt);
    if (op == "%" && !target.IsInteger())
      throw ServerError(msg::Error(
          8117, "Operand data type " + target.Name() + " is invalid for modulo operator."));
    if (op == "/" || op == "%")
      return Bound{"emu_div(" + Convert(a, target) + ", " + Convert(b, target) + ", " +
                       (op == "%" ? "1" : "0") + ")",
                   target};
    return Bound{"(" + Convert(a, target) + " " + op + " " + Convert(b, target) + ")", target};
  }

  Bound Case(const Expr& e, const Scope& scope) {
    std::vector<std::string> conditions;
    std::vector<Bound> results;
    std::optional<Bound> operand;
    if (e.case_operand) operand = Bind(*e.case_operand, scope);
    for (std::size_t i = 0; i + 1 < e.args.size(); i += 2) {
      Bound when = Bind(*e.args[i], scope);
      conditions.push_back(operand ? Compare("=", *operand, when).sql : when.sql);
      results.push_back(Bind(*e.args[i + 1], scope));
    }
    if (e.case_else) results.push_back(Bind(*e.case_else, scope));
    SqlType type;
    for (const Bound& r : results)
      type = HigherType(type, r.type);
    std::string sql = "CASE";
    for (std::size_t i = 0; i < conditions.size(); ++i)
      sql += " WHEN " + conditions[i] + " THEN " + Convert(results[i], type);
    if (e.case_else) sql += " ELSE " + Convert(results.back(), type);
    return Bound{sql + " END", type};
  }

  Bound Function(const Expr& e, const Scope& scope) {
    const std::string& f = e.text;
    auto arity = [&](std::size_t lo, std::size_t hi) {
      if (e.args.size() < lo || e.args.size() > hi)
        throw ServerError(msg::Error(
            174,
            "The " + AsciiLower(f) + " function requires " + std::to_string(lo) + " argument(s).",
            15));
    };
    auto arg = [&](std::size_t i) { return Bind(*e.args[i], scope); };
    auto int_arg = [&](std::size_t i) -> std::string {
      Bound b = arg(i);
      return Convert(b, SqlType::Of(TypeKind::kInt));
    };
    if (f == "STR") {
      arity(1, 3);
      Bound x = arg(0);
      int length = 10;
      if (e.args.size() > 1) {
        auto n =
            e.args[1]->kind == ExprKind::kInteger ? ParseSqlInt(e.args[1]->text) : std::nullopt;
        length = n ? static_cast<int>(*n) : 8000;
      }
      std::string sql = "emu_str(" + x.sql + (e.args.size() > 1 ? ", " + int_arg(1) : ", 10") +
                        (e.args.size() > 2 ? ", " + int_arg(2) : ", 0") + ")";
      return Bound{sql, SqlType::VarChar(std::max(1, std::min(8000, length)))};
    }
    if (f == "LTRIM" || f == "RTRIM") {
      arity(1, 1);
      Bound x = arg(0);
      std::string fn = f == "LTRIM" ? "ltrim(" : "rtrim(";
      return Bound{fn + AsText(x) + ", ' ')", SqlType::VarChar(TextLength(x.type))};
    }
    if (f == "UPPER" || f == "LOWER") {
      arity(1, 1);
      Bound x = arg(0);
      return Bound{AsciiLower(f) + "(" + AsText(x) + ")", SqlType::VarChar(TextLength(x.type))};
    }
    if (f == "LEN") {
      arity(1, 1);
      return Bound{"length(rtrim(" + AsText(arg(0)) + ", ' '))", SqlType::Of(TypeKind::kInt)};
    }
    if (f == "SUBSTRING") {
      arity(3, 3);
      Bound x = arg(0);
      return Bound{"substr(" + AsText(x) + ", " + int_arg(1) + ", " + int_arg(2) + ")",
                   SqlType::VarChar(TextLength(x.type))};
    }
    if (f == "ISNULL") {
      arity(2, 2);
      Bound a = arg(0);
      Bound b = arg(1);
      SqlType type = a.is_null ? b.type : a.type;
      return Bound{"ifnull(" + a.sql + ", " + Convert(b, type) + ")", type};
    }
    if (f == "COALESCE") {
      arity(2, 64);
      std::vector<Bound> args;
      SqlType type;
      for (std::size_t i = 0; i < e.args.size(); ++i) {
        args.push_back(arg(i));
        type = HigherType(type, args.back().type);
      }
      std::string sql = "coalesce(";
      for (std::size_t i = 0; i < args.size(); ++i)
        sql += (i ? ", " : "") + Convert(args[i], type);
      return Bound{sql + ")", type};
    }
    if (f == "ABS") {
      arity(1, 1);
      Bound x = arg(0);
      return Bound{"abs(" + x.sql + ")", x.type};
    }
    if (f == "ROUND") {
      arity(2, 2);
      Bound x = arg(0);
      return Bound{"round(" + x.sql + ", " + int_arg(1) + ")", x.type};
    }
    if (f == "GETDATE") {
      arity(0, 0);
      return Bound{"strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')",
                   SqlType::Of(TypeKind::kDateTime)};
    }
    if (f == "COUNT") {
      arity(1, 1);
      if (e.args[0]->kind == ExprKind::kStar) return Bound{"count(*)", SqlType::Of(TypeKind::kInt)};
      return Bound{std::string("count(") + (e.distinct ? "DISTINCT " : "") + arg(0).sql + ")",
                   SqlType::Of(TypeKind::kInt)};
    }
    if (f == "SUM" || f == "AVG" || f == "MIN" || f == "MAX") {
      arity(1, 1);
      Bound x = arg(0);
      std::string inner = (e.distinct ? "DISTINCT " : "") + x.sql;
      SqlType type = x.type;
      if ((f == "SUM" || f == "AVG") && (x.type.IsText() || x.type.IsDateTime()))
        throw ServerError(msg::Error(8117, "Operand data type " + x.type.Name() +
                                               " is invalid for " + AsciiLower(f) + " operator."));
      if ((f == "SUM" || f == "AVG") && x.type.kind == TypeKind::kDecimal)
        type = SqlType::Decimal(38, x.type.scale);
      if ((f == "SUM" || f == "AVG") &&
          (x.type.kind == TypeKind::kTinyInt || x.type.kind == TypeKind::kSmallInt ||
           x.type.kind == TypeKind::kBit))
        type = SqlType::Of(TypeKind::kInt);
      if (f == "AVG" && type.IsInteger()) return Bound{"CAST(avg(" + inner + ") AS INTEGER)", type};
      if (f == "SUM") return Bound{"sum(" + inner + ")", type};
      std::string lower = AsciiLower(f);
      if ((f == "MIN" || f == "MAX") && x.type.IsText())
        return Bound{lower + "(" + inner + " COLLATE emu_ci)", type};
      return Bound{lower + "(" + inner + ")", type};
    }
    throw ServerError(msg::UnknownFunction(f));
  }

 private:
  Catalog& catalog_;
  int& counter_;
};

// Collects the tables of a FROM clause as comma-separated items, taking the UPDATE target out:
// an inner-join tree that holds it is flattened, its ON conditions moving to the WHERE clause.
struct FlatFrom {
  std::vector<const TableRef*> items;
  std::vector<const Expr*> conditions;
  const TableRef* target = nullptr;
};

bool MatchesTarget(const TableRef& ref, const std::string& target) {
  if (ref.kind != TableRef::Kind::kNamed) return false;
  return ref.alias.empty() ? EqualsIgnoreCase(ref.name.back(), target)
                           : EqualsIgnoreCase(ref.alias, target);
}

bool HoldsTarget(const TableRef& ref, const std::string& target) {
  if (ref.kind == TableRef::Kind::kJoin)
    return HoldsTarget(*ref.left, target) || HoldsTarget(*ref.right, target);
  return MatchesTarget(ref, target);
}

void Flatten(const TableRef& ref, const std::string& target, FlatFrom& out) {
  if (ref.kind == TableRef::Kind::kJoin) {
    if (ref.join_type != "INNER" && ref.join_type != "CROSS")
      throw ServerError(msg::Unsupported("UPDATE whose target is inside an outer join"));
    Flatten(*ref.left, target, out);
    Flatten(*ref.right, target, out);
    if (ref.on) out.conditions.push_back(ref.on.get());
    return;
  }
  if (!out.target && MatchesTarget(ref, target)) {
    out.target = &ref;
    return;
  }
  out.items.push_back(&ref);
}

}  // namespace

std::string Translator::ColumnDecl(const std::string& name, const SqlType& type, bool not_null) {
  std::string decl = QuoteId(name) + " " + type.StorageDecl();
  if (type.IsText()) decl += " COLLATE emu_ci";
  if (not_null) decl += " NOT NULL";
  return decl;
}

TranslatedSelect Translator::TranslateSelect(const Select& select) {
  return Binder(catalog_, derived_counter_).Select(select);
}

std::string Translator::TranslateUpdate(const Statement& st) {
  const std::string& target_name = st.name.back();
  FlatFrom flat;
  for (const TableRefPtr& ref : st.from) {
    if (!flat.target && HoldsTarget(*ref, target_name)) {
      Flatten(*ref, target_name, flat);
    } else {
      flat.items.push_back(ref.get());
    }
  }
  // The target table, and the name its columns are qualified with.
  Name table_name = flat.target ? flat.target->name : st.name;
  std::string exposed =
      flat.target && !flat.target->alias.empty() ? flat.target->alias : table_name.back();
  ObjectInfo target = catalog_.Require(table_name);
  if (target.is_view || target.schema != "main")
    throw ServerError(msg::Unsupported("UPDATE of a view or of the catalog"));

  Binder binder(catalog_, derived_counter_);
  Scope scope;
  binder.AddSource(scope, Source{exposed, target.columns});
  std::string from;
  for (std::size_t i = 0; i < flat.items.size(); ++i)
    from += (i ? ", " : "") + binder.TableSource(*flat.items[i], scope);

  std::string sql = "UPDATE " + QuoteId(target.name) + " AS " + QuoteId(exposed) + " SET ";
  for (std::size_t i = 0; i < st.assignments.size(); ++i) {
    const Name& column = st.assignments[i].first;
    if (column.size() > 1) {
      const std::string& qualifier = column[column.size() - 2];
      if (!EqualsIgnoreCase(qualifier, exposed) && !EqualsIgnoreCase(qualifier, target.name))
        throw ServerError(msg::NotBound(JoinName(column)));
    }
    const emu::Column* col = nullptr;
    for (const emu::Column& c : target.columns)
      if (EqualsIgnoreCase(c.name, column.back())) col = &c;
    if (!col) throw ServerError(msg::InvalidColumn(column.back()));
    Bound value = binder.Bind(*st.assignments[i].second, scope);
    sql += (i ? ", " : "") + QuoteId(col->name) + " = " + Convert(value, col->type, true);
  }
  if (!from.empty()) sql += " FROM " + from;
  std::vector<std::string> conditions;
  for (const Expr* c : flat.conditions)
    conditions.push_back(binder.Bind(*c, scope).sql);
  if (st.where) conditions.push_back(binder.Bind(*st.where, scope).sql);
  for (std::size_t i = 0; i < conditions.size(); ++i)
    sql += (i ? " AND " : " WHERE ") + conditions[i];
  return sql;
}

std::string Translator::TranslateDelete(const Statement& st) {
  ObjectInfo target = catalog_.Require(st.name);
  if (target.is_view || target.schema != "main")
    throw ServerError(msg::Unsupported("DELETE from a view or from the catalog"));
  Binder binder(catalog_, derived_counter_);
  Scope scope;
  std::string exposed = st.name.back();
  binder.AddSource(scope, Source{exposed, target.columns});
  std::string sql = "DELETE FROM " + QuoteId(target.name) + " AS " + QuoteId(exposed);
  if (st.where) sql += " WHERE " + binder.Bind(*st.where, scope).sql;
  return sql;
}

std::vector<std::string> Translator::TranslateInsert(const Statement& st) {
  ObjectInfo target = catalog_.Require(st.name);
  if (target.is_view || target.schema != "main")
    throw ServerError(msg::Unsupported("INSERT into a view or into the catalog"));
  std::vector<emu::Column> columns;
  if (st.column_list.empty()) {
    columns = target.columns;
  } else {
    for (const std::string& name : st.column_list) {
      const emu::Column* col = nullptr;
      for (const emu::Column& c : target.columns)
        if (EqualsIgnoreCase(c.name, name)) col = &c;
      if (!col) throw ServerError(msg::InvalidColumn(name));
      for (const emu::Column& c : columns)
        if (EqualsIgnoreCase(c.name, col->name))
          throw ServerError(msg::Error(264, "The column name '" + col->name +
                                                "' is specified more than once in the SET clause "
                                                "or column list of an INSERT."));
      columns.push_back(*col);
    }
  }
  std::string head = "INSERT INTO " + QuoteId(target.name) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i)
    head += (i ? ", " : "") + QuoteId(columns[i].name);
  head += ") ";

  Binder binder(catalog_, derived_counter_);
  std::vector<std::string> out;
  auto count_mismatch = [&](std::size_t values) {
    if (st.column_list.empty())
      throw ServerError(msg::Error(
          213, "Column name or number of supplied values does not match table definition."));
    throw ServerError(msg::Error(
        values > columns.size() ? 110 : 109,
        std::string("There are ") + (values > columns.size() ? "fewer" : "more") +
            " columns in the INSERT statement than values specified in the VALUES clause. The "
            "number of values in the VALUES clause must match the number of columns specified "
            "in the INSERT statement.",
        15));
  };
  if (st.select) {
    TranslatedSelect sel = binder.Select(*st.select);
    if (sel.columns.size() != columns.size()) count_mismatch(sel.columns.size());
    std::string list;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      Bound b{"\"_emu_src\"." + QuoteId(sel.aliases[i]), sel.columns[i].type};
      list += (i ? ", " : "") + Convert(b, columns[i].type, true);
    }
    out.push_back(head + "SELECT " + list + " FROM (" + sel.sql + ") AS \"_emu_src\"");
    return out;
  }
  Scope empty;
  for (const std::vector<ExprPtr>& row : st.rows) {
    if (row.size() != columns.size()) count_mismatch(row.size());
    std::string values;
    for (std::size_t i = 0; i < row.size(); ++i) {
      Bound b;
      try {
        b = binder.Bind(*row[i], empty);
      } catch (const ServerError& e) {
        if (e.messages().front().number != 207) throw;
        throw ServerError(msg::Error(128,
                                     "The name \"" + JoinName(row[i]->names) +
                                         "\" is not permitted in this context. Valid "
                                         "expressions are constants, constant expressions, "
                                         "and (in some contexts) variables. Column names are "
                                         "not permitted.",
                                     15));
      }
      values += (i ? ", " : "") + Convert(b, columns[i].type, true);
    }
    out.push_back(head + "VALUES (" + values + ")");
  }
  return out;
}

}  // namespace finprep::emu
