#include "emu/parser.h"

#include <cstring>
#include <optional>

#include "emu/messages.h"
#include "platform/text.h"

namespace finprep::emu {

std::string JoinName(const Name& name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (i) out += '.';
    out += name[i];
  }
  return out;
}

namespace {

enum class Tok { kIdent, kQuotedIdent, kString, kInteger, kNumber, kSymbol, kEnd };

struct Token {
  Tok type = Tok::kEnd;
  std::string text;       // identifier, string value, number or symbol
  bool national = false;  // N'...'
};

// Words that end an expression or a table reference, so they are never taken as an alias.
const char* const kReserved[] = {
    "ADD",    "ALL",    "ALTER",    "AND",    "AS",     "ASC",      "BETWEEN", "BY",    "CASE",
    "CREATE", "CROSS",  "DATABASE", "DELETE", "DESC",   "DISTINCT", "DROP",    "ELSE",  "END",
    "EXISTS", "FROM",   "FULL",     "GO",     "GROUP",  "HAVING",   "IN",      "INNER", "INSERT",
    "INTO",   "IS",     "JOIN",     "LEFT",   "LIKE",   "NOT",      "NULL",    "ON",    "OR",
    "ORDER",  "OUTER",  "RESTORE",  "RIGHT",  "SELECT", "SET",      "TABLE",   "THEN",  "TOP",
    "UNION",  "UPDATE", "USE",      "VALUES", "VIEW",   "WHEN",     "WHERE",   "WITH",
};

bool IsReserved(const std::string& word) {
  for (const char* r : kReserved)
    if (EqualsIgnoreCase(word, r)) return true;
  return false;
}

bool IsIdentStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '@' || c == '#' ||
         c >= 0x80;
}

bool IsIdentPart(unsigned char c) { return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '$'; }

std::vector<Token> Tokenize(const std::string& s) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  const std::size_t n = s.size();
  // Reads a quoted text from s[i] (the opening quote) to its closing quote, a doubled quote
  // standing for one.
  auto read_quoted = [&](char close) {
    ++i;
    std::string value;
    for (;;) {
      if (i >= n) {
        throw ServerError(msg::Error(
            105, "Unclosed quotation mark after the character string '" + value + "'.", 15));
      }
      if (s[i] == close) {
        if (i + 1 < n && s[i + 1] == close) {
          value += close;
          i += 2;
          continue;
        }
        ++i;
        return value;
      }
      value += s[i++];
    }
  };
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c <= ' ') {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n')
        ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      std::size_t end = s.find("*/", i + 2);
      if (end == std::string::npos)
        throw ServerError(msg::Error(113, "Missing end comment mark '*/'.", 15));
      i = end + 2;
      continue;
    }
    Token t;
    bool national = (c == 'N' || c == 'n') && i + 1 < n && s[i + 1] == '\'';
    if (c == '\'' || national) {
      if (national) ++i;
      t.type = Tok::kString;
      t.text = read_quoted('\'');
      t.national = national;
    } else if (c == '[' || c == '"') {
      t.text = read_quoted(c == '[' ? ']' : '"');
      t.type = Tok::kQuotedIdent;
    } else if ((c >= '0' && c <= '9') ||
               (c == '.' && i + 1 < n && s[i + 1] >= '0' && s[i + 1] <= '9')) {
      std::size_t start = i;
      bool real = false;
      while (i < n && s[i] >= '0' && s[i] <= '9')
        ++i;
      if (i < n && s[i] == '.') {
        real = true;
        ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9')
          ++i;
      }
      if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t save = i;
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        if (i < n && s[i] >= '0' && s[i] <= '9') {
          real = true;
          while (i < n && s[i] >= '0' && s[i] <= '9')
            ++i;
        } else {
          i = save;
        }
      }
      t.type = real ? Tok::kNumber : Tok::kInteger;
      t.text = s.substr(start, i - start);
    } else if (IsIdentStart(c)) {
      std::size_t start = i;
      while (i < n && IsIdentPart(static_cast<unsigned char>(s[i])))
        ++i;
      t.type = Tok::kIdent;
      t.text = s.substr(start, i - start);
    } else {
      static const char* const kTwo[] = {"<>", "!=", "<=", ">=", "!<", "!>"};
      t.type = Tok::kSymbol;
      t.text = std::string(1, static_cast<char>(c));
      for (const char* two : kTwo) {
        if (i + 1 < n && s[i] == two[0] && s[i + 1] == two[1]) {
          t.text = two;
          break;
        }
      }
      if (!std::strchr("(),.;=<>!+-*/%", c)) throw ServerError(msg::SyntaxNear(t.text));
      i += t.text.size();
    }
    tokens.push_back(std::move(t));
  }
  tokens.push_back(Token{});
  return tokens;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : tokens_(Tokenize(text)) {}

  std::vector<Statement> Batch() {
    std::vector<Statement> statements;
    while (true) {
      while (IsSymbol(";"))
        ++pos_;
      if (Peek().type == Tok::kEnd) break;
      statements.push_back(ParseStatement());
    }
    return statements;
  }

 private:
  // ---- token helpers ----
  const Token& Peek(std::size_t ahead = 0) const {
    std::size_t i = std::min(pos_ + ahead, tokens_.size() - 1);
    return tokens_[i];
  }
  bool IsWord(const char* word, std::size_t ahead = 0) const {
    const Token& t = Peek(ahead);
    return t.type == Tok::kIdent && EqualsIgnoreCase(t.text, word);
  }
  bool IsSymbol(const char* symbol, std::size_t ahead = 0) const {
    const Token& t = Peek(ahead);
    return t.type == Tok::kSymbol && t.text == symbol;
  }
  bool AcceptWord(const char* word) {
    if (!IsWord(word)) return false;
    ++pos_;
    return true;
  }
  bool AcceptSymbol(const char* symbol) {
    if (!IsSymbol(symbol)) return false;
    ++pos_;
    return true;
  }
  [[noreturn]] void Fail() const {
    const Token& t = Peek();
    if (t.type == Tok::kEnd) {
      std::string last = pos_ > 0 ? tokens_[pos_ - 1].text : std::string();
      throw ServerError(msg::SyntaxNear(last));
    }
    if (t.type == Tok::kIdent && IsReserved(t.text))
      throw ServerError(msg::SyntaxNearKeyword(AsciiLower(t.text)));
    throw ServerError(msg::SyntaxNear(t.text));
  }
  void ExpectWord(const char* word) {
    if (!AcceptWord(word)) Fail();
  }
  void ExpectSymbol(const char* symbol) {
    if (!AcceptSymbol(symbol)) Fail();
  }
  bool IsIdentifier() const {
    const Token& t = Peek();
    return t.type == Tok::kQuotedIdent || (t.type == Tok::kIdent && !IsReserved(t.text));
  }
  std::string Identifier() {
    if (!IsIdentifier()) Fail();
    return tokens_[pos_++].text;
  }
  std::string StringLiteral() {
    if (Peek().type != Tok::kString) Fail();
    return tokens_[pos_++].text;
  }
  std::int64_t IntegerLiteral() {
    if (Peek().type != Tok::kInteger) Fail();
    auto value = ParseSqlInt(tokens_[pos_].text);
    if (!value) Fail();
    ++pos_;
    return *value;
  }
  // name [. name [. name]], with empty parts allowed in the middle (master..sysdatabases).
  Name MultiPartName() {
    Name name{Identifier()};
    while (IsSymbol(".")) {
      ++pos_;
      if (IsSymbol(".")) {
        name.push_back("");
        continue;
      }
      name.push_back(Identifier());
    }
    return name;
  }

  // ---- statements ----
  Statement ParseStatement() {
    if (IsWord("SELECT")) {
      Statement st;
      st.kind = Statement::Kind::kSelect;
      st.select = ParseSelect(true);
      return st;
    }
    if (AcceptWord("CREATE")) {
      if (AcceptWord("VIEW")) return ParseCreateView();
      if (AcceptWord("TABLE")) return ParseCreateTable();
      if (AcceptWord("DATABASE")) {
        Statement st;
        st.kind = Statement::Kind::kCreateDatabase;
        st.name = {Identifier()};
        return st;
      }
      Fail();
    }
    if (AcceptWord("INSERT")) return ParseInsert();
    if (AcceptWord("UPDATE")) return ParseUpdate();
    if (AcceptWord("DELETE")) return ParseDelete();
    if (AcceptWord("ALTER")) {
      if (AcceptWord("TABLE")) return ParseAlterTable();
      if (AcceptWord("DATABASE")) return ParseAlterDatabase();
      Fail();
    }
    if (AcceptWord("DROP")) {
      Statement st;
      if (AcceptWord("TABLE")) {
        st.kind = Statement::Kind::kDropTable;
      } else if (AcceptWord("VIEW")) {
        st.kind = Statement::Kind::kDropView;
      } else if (AcceptWord("DATABASE")) {
        st.kind = Statement::Kind::kDropDatabase;
        st.name = {Identifier()};
        return st;
      } else {
        Fail();
      }
      st.name = MultiPartName();
      return st;
    }
    if (AcceptWord("RESTORE")) return ParseRestore();
    if (AcceptWord("SET")) return ParseSetOption();
    if (AcceptWord("WAITFOR")) return ParseWaitFor();
    const Token& t = Peek();
    if (t.type == Tok::kIdent && !IsReserved(t.text) && !IsSymbol("(", 1) && !IsSymbol(".", 1))
      throw ServerError(msg::Unsupported("the statement '" + t.text + "'"));
    if (IsWord("USE"))
      throw ServerError(msg::Unsupported("USE (the connection picks the database)"));
    Fail();
  }

  // SET option [, option...] value: the session options that clients send when they connect.
  // Those listed here change nothing in how this server runs statements; any other option, and
  // the values that would change results, are refused rather than ignored.
  Statement ParseSetOption() {
    static const char* const kHarmless[] = {
        "ANSI_DEFAULTS",
        "ANSI_NULL_DFLT_OFF",
        "ANSI_NULL_DFLT_ON",
        "ANSI_NULLS",
        "ANSI_PADDING",
        "ANSI_WARNINGS",
        "ARITHABORT",
        "ARITHIGNORE",
        "CONCAT_NULL_YIELDS_NULL",
        "CURSOR_CLOSE_ON_COMMIT",
        "DATEFIRST",
        "DATEFORMAT",
        "DEADLOCK_PRIORITY",
        "FMTONLY",
        "IMPLICIT_TRANSACTIONS",
        "LANGUAGE",
        "LOCK_TIMEOUT",
        "NO_BROWSETABLE",
        "NOCOUNT",
        "NUMERIC_ROUNDABORT",
        "QUOTED_IDENTIFIER",
        "ROWCOUNT",
        "TEXTSIZE",
        "XACT_ABORT",
    };
    Statement st;
    st.kind = Statement::Kind::kSetOption;
    if (AcceptWord("TRANSACTION")) {
      ExpectWord("ISOLATION");
      ExpectWord("LEVEL");
      if (AcceptWord("READ")) {
        if (!AcceptWord("COMMITTED") && !AcceptWord("UNCOMMITTED")) Fail();
      } else if (AcceptWord("REPEATABLE")) {
        ExpectWord("READ");
      } else if (!AcceptWord("SERIALIZABLE") && !AcceptWord("SNAPSHOT")) {
        Fail();
      }
      return st;
    }
    std::vector<std::string> options;
    do {
      const Token& t = Peek();
      if (t.type != Tok::kIdent) Fail();
      if (t.text[0] == '@') throw ServerError(msg::Unsupported("variables"));
      options.push_back(t.text);
      ++pos_;
    } while (AcceptSymbol(","));
    std::string value;
    const Token& v = Peek();
    if (v.type == Tok::kIdent || v.type == Tok::kInteger || v.type == Tok::kString ||
        v.type == Tok::kQuotedIdent) {
      value = v.text;
      ++pos_;
    } else if (IsSymbol("-") && Peek(1).type == Tok::kInteger) {
      value = "-" + Peek(1).text;
      pos_ += 2;
    } else {
      Fail();
    }
    for (const std::string& option : options) {
      bool known = false;
      for (const char* h : kHarmless)
        known |= EqualsIgnoreCase(option, h);
      const bool changes_results =
          (EqualsIgnoreCase(option, "ROWCOUNT") && ParseSqlInt(value) != std::int64_t{0}) ||
          ((EqualsIgnoreCase(option, "FMTONLY") ||
            EqualsIgnoreCase(option, "IMPLICIT_TRANSACTIONS")) &&
           !EqualsIgnoreCase(value, "OFF"));
      if (!known || changes_results)
        throw ServerError(msg::Unsupported("SET " + option + " " + value));
    }
    return st;
  }

  // WAITFOR DELAY 'hh:mm[:ss[.mmm]]': the statement takes that long.
  Statement ParseWaitFor() {
    if (IsWord("TIME")) throw ServerError(msg::Unsupported("WAITFOR TIME"));
    ExpectWord("DELAY");
    const std::string text = StringLiteral();
    Statement st;
    st.kind = Statement::Kind::kWaitFor;
    std::optional<std::int64_t> ms = ParseDelay(text);
    if (!ms)
      throw ServerError(msg::Error(
          148, "Incorrect time syntax in time string '" + text + "' used with WAITFOR.", 15));
    st.delay_ms = *ms;
    return st;
  }

  static std::optional<std::int64_t> ParseDelay(const std::string& text) {
    std::int64_t parts[3] = {0, 0, 0};
    std::int64_t ms = 0;
    std::size_t i = 0;
    int count = 0;
    while (count < 3) {
      std::size_t start = i;
      std::int64_t n = 0;
      while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 2)
        n = n * 10 + (text[i++] - '0');
      if (i == start) return std::nullopt;
      parts[count++] = n;
      if (i < text.size() && text[i] == ':') {
        ++i;
        continue;
      }
      break;
    }
    if (count < 2) return std::nullopt;
    if (count == 3 && i < text.size() && text[i] == '.') {
      ++i;
      std::int64_t scale = 100;
      std::size_t start = i;
      while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
        ms += (text[i++] - '0') * scale;
        scale /= 10;
      }
      if (i == start) return std::nullopt;
    }
    if (i != text.size() || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
    return ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 1000 + ms;
  }

  Statement ParseCreateView() {
    Statement st;
    st.kind = Statement::Kind::kCreateView;
    st.name = MultiPartName();
    ExpectWord("AS");
    st.select = ParseSelect(true);
    return st;
  }

  SqlType ParseType() {
    std::string type_name = Identifier();
    if (AcceptSymbol("(")) {
      type_name += "(";
      if (AcceptWord("MAX")) {
        type_name += "max";
      } else {
        type_name += std::to_string(IntegerLiteral());
        if (AcceptSymbol(",")) type_name += "," + std::to_string(IntegerLiteral());
      }
      ExpectSymbol(")");
      type_name += ")";
    }
    auto type = SqlType::Parse(type_name);
    if (!type)
      throw ServerError(msg::Error(
          2715, "Column, parameter, or variable #1: Cannot find data type " + type_name + "."));
    return *type;
  }

  ColumnDef ParseColumnDef() {
    ColumnDef col;
    col.name = Identifier();
    col.type = ParseType();
    while (true) {
      if (AcceptWord("NULL")) continue;
      if (AcceptWord("NOT")) {
        ExpectWord("NULL");
        col.not_null = true;
        continue;
      }
      if (AcceptWord("PRIMARY")) {
        ExpectWord("KEY");
        AcceptWord("CLUSTERED") || AcceptWord("NONCLUSTERED");
        col.primary_key = true;
        continue;
      }
      if (AcceptWord("DEFAULT")) {
        col.default_value = ParseUnary();
        continue;
      }
      if (IsWord("IDENTITY")) throw ServerError(msg::Unsupported("IDENTITY columns"));
      break;
    }
    return col;
  }

  Statement ParseCreateTable() {
    Statement st;
    st.kind = Statement::Kind::kCreateTable;
    st.name = MultiPartName();
    ExpectSymbol("(");
    do {
      if (AcceptWord("CONSTRAINT")) Identifier();
      if (AcceptWord("PRIMARY")) {
        ExpectWord("KEY");
        AcceptWord("CLUSTERED") || AcceptWord("NONCLUSTERED");
        ExpectSymbol("(");
        do
          st.primary_key.push_back(Identifier());
        while (AcceptSymbol(","));
        ExpectSymbol(")");
        continue;
      }
      st.columns.push_back(ParseColumnDef());
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    return st;
  }

  Statement ParseAlterTable() {
    Statement st;
    st.kind = Statement::Kind::kAlterTableAdd;
    st.name = MultiPartName();
    if (!AcceptWord("ADD")) throw ServerError(msg::Unsupported("this form of ALTER TABLE"));
    do
      st.columns.push_back(ParseColumnDef());
    while (AcceptSymbol(","));
    return st;
  }

  Statement ParseAlterDatabase() {
    Statement st;
    st.kind = Statement::Kind::kAlterDatabase;
    st.name = {Identifier()};
    ExpectWord("SET");
    if (AcceptWord("OFFLINE")) {
      st.set_offline = true;
    } else if (AcceptWord("ONLINE")) {
      st.set_offline = false;
    } else {
      throw ServerError(msg::Unsupported("this ALTER DATABASE option"));
    }
    if (AcceptWord("WITH")) {
      if (AcceptWord("ROLLBACK")) {
        ExpectWord("IMMEDIATE");
        st.rollback_immediate = true;
      } else if (!AcceptWord("NO_WAIT")) {
        Fail();
      }
    }
    return st;
  }

  Statement ParseInsert() {
    Statement st;
    st.kind = Statement::Kind::kInsert;
    AcceptWord("INTO");
    st.name = MultiPartName();
    if (IsSymbol("(") && !IsWord("SELECT", 1)) {
      ++pos_;
      do
        st.column_list.push_back(Identifier());
      while (AcceptSymbol(","));
      ExpectSymbol(")");
    }
    if (AcceptWord("VALUES")) {
      do {
        ExpectSymbol("(");
        std::vector<ExprPtr> row;
        do
          row.push_back(ParseExpr());
        while (AcceptSymbol(","));
        ExpectSymbol(")");
        st.rows.push_back(std::move(row));
      } while (AcceptSymbol(","));
    } else if (IsWord("SELECT")) {
      st.select = ParseSelect(false);
    } else {
      Fail();
    }
    return st;
  }

  Statement ParseUpdate() {
    Statement st;
    st.kind = Statement::Kind::kUpdate;
    st.name = MultiPartName();
    ExpectWord("SET");
    do {
      Name column = MultiPartName();
      ExpectSymbol("=");
      st.assignments.emplace_back(std::move(column), ParseExpr());
    } while (AcceptSymbol(","));
    if (AcceptWord("FROM")) st.from = ParseFromList();
    if (AcceptWord("WHERE")) st.where = ParseExpr();
    return st;
  }

  Statement ParseDelete() {
    Statement st;
    st.kind = Statement::Kind::kDelete;
    AcceptWord("FROM");
    st.name = MultiPartName();
    if (IsWord("FROM")) throw ServerError(msg::Unsupported("DELETE with a FROM clause"));
    if (AcceptWord("WHERE")) st.where = ParseExpr();
    return st;
  }

  Statement ParseRestore() {
    Statement st;
    std::string what;
    if (AcceptWord("HEADERONLY")) {
      st.kind = Statement::Kind::kRestoreHeaderOnly;
    } else if (AcceptWord("FILELISTONLY")) {
      st.kind = Statement::Kind::kRestoreFileListOnly;
    } else if (AcceptWord("DATABASE")) {
      st.kind = Statement::Kind::kRestoreDatabase;
      st.name = {Identifier()};
    } else if (IsWord("LOG") || IsWord("VERIFYONLY") || IsWord("LABELONLY")) {
      throw ServerError(msg::Unsupported("RESTORE " + AsciiLower(Peek().text)));
    } else {
      Fail();
    }
    ExpectWord("FROM");
    ExpectWord("DISK");
    ExpectSymbol("=");
    st.disk = StringLiteral();
    if (AcceptSymbol(",")) throw ServerError(msg::Unsupported("backups on several devices"));
    if (AcceptWord("WITH")) {
      do {
        if (AcceptWord("FILE")) {
          ExpectSymbol("=");
          st.file = IntegerLiteral();
        } else if (AcceptWord("RECOVERY")) {
        } else if (AcceptWord("NORECOVERY")) {
          st.norecovery = true;
        } else if (AcceptWord("REPLACE")) {
          st.replace = true;
        } else if (AcceptWord("MOVE")) {
          std::string logical = StringLiteral();
          ExpectWord("TO");
          st.moves.emplace_back(logical, StringLiteral());
        } else if (AcceptWord("STATS")) {
          if (AcceptSymbol("=")) IntegerLiteral();
        } else if (AcceptWord("NOUNLOAD") || AcceptWord("UNLOAD") || AcceptWord("NOREWIND") ||
                   AcceptWord("REWIND")) {
        } else {
          Fail();
        }
      } while (AcceptSymbol(","));
    }
    return st;
  }

  // ---- SELECT ----
  std::unique_ptr<Select> ParseSelect(bool allow_into) {
    auto sel = std::make_unique<Select>();
    ExpectWord("SELECT");
    if (AcceptWord("DISTINCT")) {
      sel->distinct = true;
    } else {
      AcceptWord("ALL");
    }
    if (AcceptWord("TOP")) {
      bool paren = AcceptSymbol("(");
      sel->top = IntegerLiteral();
      if (paren) ExpectSymbol(")");
    }
    do
      sel->items.push_back(ParseSelectItem());
    while (AcceptSymbol(","));
    if (IsWord("INTO")) {
      if (!allow_into) Fail();
      ++pos_;
      sel->into = MultiPartName();
    }
    if (AcceptWord("FROM")) sel->from = ParseFromList();
    if (AcceptWord("WHERE")) sel->where = ParseExpr();
    if (AcceptWord("GROUP")) {
      ExpectWord("BY");
      do
        sel->group_by.push_back(ParseExpr());
      while (AcceptSymbol(","));
    }
    if (AcceptWord("HAVING")) sel->having = ParseExpr();
    if (AcceptWord("ORDER")) {
      ExpectWord("BY");
      do {
        OrderItem item;
        item.expr = ParseExpr();
        if (AcceptWord("DESC")) {
          item.descending = true;
        } else {
          AcceptWord("ASC");
        }
        sel->order_by.push_back(std::move(item));
      } while (AcceptSymbol(","));
    }
    if (IsWord("UNION")) throw ServerError(msg::Unsupported("UNION"));
    return sel;
  }

  SelectItem ParseSelectItem() {
    SelectItem item;
    if (AcceptSymbol("*")) {
      item.star = true;
      return item;
    }
    if (IsIdentifier() && IsSymbol(".", 1) && IsSymbol("*", 2)) {
      item.star = true;
      item.star_qualifier = Identifier();
      pos_ += 2;
      return item;
    }
    // alias = expression
    if (IsIdentifier() && IsSymbol("=", 1)) {
      item.alias = Identifier();
      ++pos_;
      item.expr = ParseExpr();
      return item;
    }
    item.expr = ParseExpr();
    if (AcceptWord("AS")) {
      item.alias = Peek().type == Tok::kString ? StringLiteral() : Identifier();
    } else if (IsIdentifier()) {
      item.alias = Identifier();
    } else if (Peek().type == Tok::kString) {
      item.alias = StringLiteral();
    }
    return item;
  }

  std::vector<TableRefPtr> ParseFromList() {
    std::vector<TableRefPtr> list;
    do
      list.push_back(ParseTableSource());
    while (AcceptSymbol(","));
    return list;
  }

  bool IsJoinStart() const {
    return IsWord("JOIN") || IsWord("INNER") || IsWord("LEFT") || IsWord("RIGHT") ||
           IsWord("FULL") || IsWord("CROSS");
  }

  std::string ParseJoinType() {
    std::string type = "INNER";
    if (AcceptWord("INNER")) {
    } else if (AcceptWord("LEFT")) {
      type = "LEFT";
      AcceptWord("OUTER");
    } else if (AcceptWord("RIGHT")) {
      type = "RIGHT";
      AcceptWord("OUTER");
    } else if (AcceptWord("FULL")) {
      type = "FULL";
      AcceptWord("OUTER");
    } else if (AcceptWord("CROSS")) {
      type = "CROSS";
    }
    ExpectWord("JOIN");
    return type;
  }

  // A table source with its joins.  The right operand of a join may itself carry joins whose ON
  // clauses come first: "A RIGHT JOIN B INNER JOIN C ON b=c ON a=b" joins A with (B join C), each
  // ON belonging to the nearest join still without one.
  TableRefPtr ParseTableSource() {
    TableRefPtr left = ParseTablePrimary();
    while (IsJoinStart())
      left = ParseJoinRest(std::move(left));
    return left;
  }

  TableRefPtr ParseJoinRest(TableRefPtr left) {
    auto join = std::make_unique<TableRef>();
    join->kind = TableRef::Kind::kJoin;
    join->join_type = ParseJoinType();
    TableRefPtr right = ParseTablePrimary();
    if (join->join_type != "CROSS") {
      while (IsJoinStart())
        right = ParseJoinRest(std::move(right));
      ExpectWord("ON");
      join->on = ParseExpr();
    }
    join->left = std::move(left);
    join->right = std::move(right);
    return join;
  }

  TableRefPtr ParseTablePrimary() {
    auto ref = std::make_unique<TableRef>();
    if (AcceptSymbol("(")) {
      if (IsWord("SELECT")) {
        ref->kind = TableRef::Kind::kDerived;
        ref->derived = ParseSelect(false);
        ExpectSymbol(")");
        AcceptWord("AS");
        if (!IsIdentifier()) Fail();
        ref->alias = Identifier();
        return ref;
      }
      TableRefPtr inner = ParseTableSource();
      ExpectSymbol(")");
      return inner;
    }
    ref->kind = TableRef::Kind::kNamed;
    ref->name = MultiPartName();
    if (AcceptWord("AS")) {
      ref->alias = Identifier();
    } else if (IsIdentifier()) {
      ref->alias = Identifier();
    }
    if (IsWord("WITH") && IsSymbol("(", 1)) throw ServerError(msg::Unsupported("table hints"));
    return ref;
  }

  // ---- expressions ----
  ExprPtr Make(ExprKind kind) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    return e;
  }

  ExprPtr ParseExpr() { return ParseOr(); }

  ExprPtr ParseOr() {
    ExprPtr left = ParseAnd();
    while (AcceptWord("OR")) {
      ExprPtr e = Make(ExprKind::kOr);
      e->args.push_back(std::move(left));
      e->args.push_back(ParseAnd());
      left = std::move(e);
    }
    return left;
  }

  ExprPtr ParseAnd() {
    ExprPtr left = ParseNot();
    while (AcceptWord("AND")) {
      ExprPtr e = Make(ExprKind::kAnd);
      e->args.push_back(std::move(left));
      e->args.push_back(ParseNot());
      left = std::move(e);
    }
    return left;
  }

  ExprPtr ParseNot() {
    if (AcceptWord("NOT")) {
      ExprPtr e = Make(ExprKind::kNot);
      e->args.push_back(ParseNot());
      return e;
    }
    return ParsePredicate();
  }

  ExprPtr ParsePredicate() {
    if (IsWord("EXISTS")) throw ServerError(msg::Unsupported("EXISTS"));
    ExprPtr left = ParseAdditive();
    static const char* const kCompare[] = {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"};
    for (const char* op : kCompare) {
      if (AcceptSymbol(op)) {
        ExprPtr e = Make(ExprKind::kCompare);
        std::string text = op;
        if (text == "!=") text = "<>";
        if (text == "!<") text = ">=";
        if (text == "!>") text = "<=";
        e->text = text;
        e->args.push_back(std::move(left));
        e->args.push_back(ParseAdditive());
        return e;
      }
    }
    if (AcceptWord("IS")) {
      ExprPtr e = Make(ExprKind::kIsNull);
      e->negated = AcceptWord("NOT");
      ExpectWord("NULL");
      e->args.push_back(std::move(left));
      return e;
    }
    bool negated = false;
    if (IsWord("NOT") && (IsWord("IN", 1) || IsWord("BETWEEN", 1) || IsWord("LIKE", 1))) {
      ++pos_;
      negated = true;
    }
    if (AcceptWord("IN")) {
      ExprPtr e = Make(ExprKind::kIn);
      e->negated = negated;
      e->args.push_back(std::move(left));
      ExpectSymbol("(");
      if (IsWord("SELECT")) throw ServerError(msg::Unsupported("IN with a subquery"));
      do
        e->args.push_back(ParseExpr());
      while (AcceptSymbol(","));
      ExpectSymbol(")");
      return e;
    }
    if (AcceptWord("BETWEEN")) {
      ExprPtr e = Make(ExprKind::kBetween);
      e->negated = negated;
      e->args.push_back(std::move(left));
      e->args.push_back(ParseAdditive());
      ExpectWord("AND");
      e->args.push_back(ParseAdditive());
      return e;
    }
    if (AcceptWord("LIKE")) {
      ExprPtr e = Make(ExprKind::kLike);
      e->negated = negated;
      e->args.push_back(std::move(left));
      e->args.push_back(ParseAdditive());
      return e;
    }
    if (negated) Fail();
    return left;
  }

  ExprPtr ParseAdditive() {
    ExprPtr left = ParseMultiplicative();
    while (IsSymbol("+") || IsSymbol("-")) {
      ExprPtr e = Make(ExprKind::kBinary);
      e->text = tokens_[pos_++].text;
      e->args.push_back(std::move(left));
      e->args.push_back(ParseMultiplicative());
      left = std::move(e);
    }
    return left;
  }

  ExprPtr ParseMultiplicative() {
    ExprPtr left = ParseUnary();
    while (IsSymbol("*") || IsSymbol("/") || IsSymbol("%")) {
      ExprPtr e = Make(ExprKind::kBinary);
      e->text = tokens_[pos_++].text;
      e->args.push_back(std::move(left));
      e->args.push_back(ParseUnary());
      left = std::move(e);
    }
    return left;
  }

  ExprPtr ParseUnary() {
    if (AcceptSymbol("-")) {
      ExprPtr operand = ParseUnary();
      if (operand->kind == ExprKind::kInteger || operand->kind == ExprKind::kNumber) {
        operand->text = "-" + operand->text;
        return operand;
      }
      ExprPtr e = Make(ExprKind::kNegate);
      e->args.push_back(std::move(operand));
      return e;
    }
    if (AcceptSymbol("+")) return ParseUnary();
    return ParsePrimary();
  }

  ExprPtr ParsePrimary() {
    const Token& t = Peek();
    switch (t.type) {
      case Tok::kString: {
        ExprPtr e = Make(ExprKind::kString);
        e->text = t.text;
        e->national = t.national;
        ++pos_;
        return e;
      }
      case Tok::kInteger:
      case Tok::kNumber: {
        ExprPtr e = Make(t.type == Tok::kInteger ? ExprKind::kInteger : ExprKind::kNumber);
        e->text = t.text;
        ++pos_;
        return e;
      }
      case Tok::kSymbol:
        if (AcceptSymbol("(")) {
          if (IsWord("SELECT")) throw ServerError(msg::Unsupported("subqueries in expressions"));
          ExprPtr inner = ParseExpr();
          ExpectSymbol(")");
          return inner;
        }
        Fail();
      case Tok::kEnd:
        Fail();
      case Tok::kIdent:
        if (AcceptWord("NULL")) return Make(ExprKind::kNull);
        if (AcceptWord("CASE")) return ParseCase();
        if (IsWord("CAST") && IsSymbol("(", 1)) {
          pos_ += 2;
          ExprPtr e = Make(ExprKind::kCast);
          e->args.push_back(ParseExpr());
          ExpectWord("AS");
          e->cast_type = ParseType();
          ExpectSymbol(")");
          return e;
        }
        if (IsWord("CONVERT") && IsSymbol("(", 1)) {
          pos_ += 2;
          ExprPtr e = Make(ExprKind::kCast);
          e->cast_type = ParseType();
          ExpectSymbol(",");
          e->args.push_back(ParseExpr());
          if (AcceptSymbol(",")) throw ServerError(msg::Unsupported("CONVERT with a style"));
          ExpectSymbol(")");
          return e;
        }
        if (IsReserved(t.text)) Fail();
        [[fallthrough]];
      case Tok::kQuotedIdent:
        break;
    }
    if (t.type == Tok::kIdent && IsSymbol("(", 1)) {
      ExprPtr e = Make(ExprKind::kFunction);
      e->text = AsciiLower(t.text);
      for (char& c : e->text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      pos_ += 2;
      if (AcceptSymbol(")")) return e;
      if (AcceptSymbol("*")) {
        e->args.push_back(Make(ExprKind::kStar));
        ExpectSymbol(")");
        return e;
      }
      if (AcceptWord("DISTINCT")) e->distinct = true;
      do
        e->args.push_back(ParseExpr());
      while (AcceptSymbol(","));
      ExpectSymbol(")");
      return e;
    }
    ExprPtr e = Make(ExprKind::kColumn);
    e->names = MultiPartName();
    return e;
  }

  ExprPtr ParseCase() {
    ExprPtr e = Make(ExprKind::kCase);
    if (!IsWord("WHEN")) e->case_operand = ParseExpr();
    if (!IsWord("WHEN")) Fail();
    while (AcceptWord("WHEN")) {
      e->args.push_back(ParseExpr());
      ExpectWord("THEN");
      e->args.push_back(ParseExpr());
    }
    if (AcceptWord("ELSE")) e->case_else = ParseExpr();
    ExpectWord("END");
    return e;
  }

  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<Statement> ParseBatch(const std::string& text) { return Parser(text).Batch(); }

std::vector<std::string> SplitBatches(const std::string& script) {
  std::vector<std::string> batches;
  std::string current;
  std::size_t start = 0;
  while (start <= script.size()) {
    std::size_t end = script.find('\n', start);
    std::string line =
        script.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (EqualsIgnoreCase(Trim(line), "GO")) {
      if (!Trim(current).empty()) batches.push_back(current);
      current.clear();
    } else {
      current += line;
      if (end != std::string::npos) current += '\n';
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (!Trim(current).empty()) batches.push_back(current);
  return batches;
}

}  // namespace finprep::emu
