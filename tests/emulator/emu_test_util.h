// Helpers for the emulator's tests: a fresh data folder, and batches run with their rows as text.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emu/server.h"
#include "temp_dir.h"

namespace finprep::emu::testing {

using Rows = std::vector<std::vector<std::string>>;

using ::finprep::test_support::TempDir;

// The rows of the first result set, values as text and NULL as "NULL".
inline Rows TextRows(const ResultSet& rs) {
  Rows rows;
  for (const auto& row : rs.rows) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < row.size(); ++i) {
      auto text = FormatValue(row[i], rs.columns[i].type);
      out.push_back(text ? *text : "NULL");
    }
    rows.push_back(out);
  }
  return rows;
}

inline std::vector<std::string> ColumnNames(const ResultSet& rs) {
  std::vector<std::string> names;
  for (const Column& c : rs.columns)
    names.push_back(c.name);
  return names;
}

// Runs a batch that must succeed.
inline BatchResult Ok(Session& s, const std::string& sql) {
  BatchResult r = s.Execute(sql);
  const Message* e = r.FirstError();
  EXPECT_EQ(e, nullptr) << sql << "\n-> Msg " << e->number << ": " << e->text;
  return r;
}

// Runs a query that must succeed and returns its rows.
inline Rows Query(Session& s, const std::string& sql) {
  BatchResult r = Ok(s, sql);
  const ResultSet* rs = r.FirstResultSet();
  if (!rs) {
    ADD_FAILURE() << "no result set: " << sql;
    return {};
  }
  return TextRows(*rs);
}

// Runs a batch that must fail and returns its first error.
inline Message Fails(Session& s, const std::string& sql) {
  BatchResult r = s.Execute(sql);
  const Message* e = r.FirstError();
  if (!e) {
    ADD_FAILURE() << "expected an error: " << sql;
    return Message{};
  }
  return *e;
}

// Every error number of a failed batch, in order.
inline std::vector<int> ErrorNumbers(const BatchResult& r) {
  std::vector<int> numbers;
  for (const Output& o : r.outputs)
    if (auto* m = std::get_if<Message>(&o); m && m->IsError()) numbers.push_back(m->number);
  return numbers;
}

}  // namespace finprep::emu::testing
