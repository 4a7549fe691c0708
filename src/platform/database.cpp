#include "platform/database.h"

#include "platform/errors.h"
#include "platform/text.h"

namespace finprep {

void Connection::SetConnectionString(const std::string& connection_string) {
  // A new connection string applies to the next open, as with any connection component.
  connection_string_ = connection_string;
}

void Connection::Open() { EnsureOpen(); }

void Connection::Close() { session_.reset(); }

Session& Connection::EnsureOpen() {
  if (!session_) session_ = driver_.Connect(connection_string_, kConnectTimeoutSeconds);
  return *session_;
}

void Command::Execute() { connection_.EnsureOpen().Execute(text_, command_timeout_seconds); }

void Query::Open() {
  if (Active()) return;
  std::optional<ResultSet> result = connection_.EnsureOpen().Query(sql_, command_timeout_seconds);
  if (!result) throw DatabaseError(name_ + ": CommandText does not return a result set");
  result_ = std::move(result);
  row_ = 0;
  eof_ = result_->rows.empty();
}

void Query::Close() {
  result_.reset();
  row_ = 0;
  eof_ = true;
}

void Query::CheckActive() const {
  if (!Active()) throw DatabaseError(name_ + ": Cannot perform this operation on a closed dataset");
}

int Query::RecordCount() const {
  CheckActive();
  return static_cast<int>(result_->rows.size());
}

bool Query::IsEmpty() const { return !Active() || result_->rows.empty(); }

void Query::First() {
  CheckActive();
  row_ = 0;
  eof_ = result_->rows.empty();
}

void Query::Next() {
  CheckActive();
  if (row_ + 1 < result_->rows.size()) {
    ++row_;
  } else {
    eof_ = true;
  }
}

bool Query::Eof() const { return !Active() || eof_; }

FieldValue Query::Field(const std::string& name) const {
  if (Active()) {
    for (std::size_t i = 0; i < result_->columns.size(); ++i) {
      if (EqualsIgnoreCase(result_->columns[i], name)) {
        if (result_->rows.empty()) return std::nullopt;
        return result_->rows[row_][i];
      }
    }
  }
  throw DatabaseError(name_ + ": Field '" + name + "' not found");
}

std::string Query::FieldAsString(const std::string& name) const {
  FieldValue value = Field(name);
  return value ? *value : std::string();
}

}  // namespace finprep
