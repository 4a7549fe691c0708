#include "emu/driver.h"

#include "platform/errors.h"
#include "platform/text.h"

namespace finprep::emu {

namespace {

// Statements run to their end in-process, so time-outs never fire.
class EmulatorSession : public finprep::Session {
 public:
  explicit EmulatorSession(std::unique_ptr<emu::Session> session) : session_(std::move(session)) {}

  std::optional<finprep::ResultSet> Query(const std::string& sql, int) override {
    BatchResult result = session_->Execute(sql);
    if (result.FirstError()) throw ProviderError(ErrorText(result));
    const emu::ResultSet* rs = result.FirstResultSet();
    if (!rs) return std::nullopt;
    finprep::ResultSet out;
    for (const Column& c : rs->columns)
      out.columns.push_back(c.name);
    for (const auto& row : rs->rows) {
      std::vector<FieldValue> values;
      for (std::size_t i = 0; i < row.size(); ++i)
        values.push_back(FormatValue(row[i], rs->columns[i].type));
      out.rows.push_back(std::move(values));
    }
    return out;
  }

  void Execute(const std::string& sql, int) override {
    BatchResult result = session_->Execute(sql);
    if (result.FirstError()) throw ProviderError(ErrorText(result));
  }

 private:
  std::unique_ptr<emu::Session> session_;
};

}  // namespace

std::map<std::string, std::string> ParseConnectionString(const std::string& text) {
  std::map<std::string, std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t eq = text.find('=', i);
    if (eq == std::string::npos) break;
    std::string key = AsciiLower(Trim(text.substr(i, eq - i)));
    std::size_t j = eq + 1;
    while (j < text.size() && text[j] == ' ')
      ++j;
    std::string value;
    if (j < text.size() && (text[j] == '"' || text[j] == '\'')) {
      char quote = text[j++];
      while (j < text.size()) {
        if (text[j] == quote) {
          if (j + 1 < text.size() && text[j + 1] == quote) {
            value += quote;
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        value += text[j++];
      }
      std::size_t semi = text.find(';', j);
      i = semi == std::string::npos ? text.size() : semi + 1;
    } else {
      std::size_t semi = text.find(';', j);
      value = Trim(text.substr(j, semi == std::string::npos ? std::string::npos : semi - j));
      i = semi == std::string::npos ? text.size() : semi + 1;
    }
    if (!key.empty()) out[key] = value;
  }
  return out;
}

std::string ErrorText(const BatchResult& result) {
  const Message* error = result.FirstError();
  return error ? error->text : std::string();
}

std::unique_ptr<finprep::Session> EmulatorDriver::Connect(const std::string& connection_string,
                                                          int) {
  auto keys = ParseConnectionString(connection_string);
  std::string database = "master";
  if (auto it = keys.find("initial catalog"); it != keys.end() && !it->second.empty()) {
    database = it->second;
  } else if (auto db = keys.find("database"); db != keys.end() && !db->second.empty()) {
    database = db->second;
  }
  try {
    return std::make_unique<EmulatorSession>(server_.Connect(database));
  } catch (const ServerError& e) {
    throw ProviderError(e.messages().empty() ? std::string() : e.messages().front().text);
  }
}

}  // namespace finprep::emu
