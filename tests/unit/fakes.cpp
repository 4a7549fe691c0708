#include "fakes.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "entry/doit.h"

namespace finprep::test {

namespace {

class ScriptedSession : public Session {
 public:
  explicit ScriptedSession(ScriptedDriver& driver) : driver_(driver) {}
  ~ScriptedSession() override {
    driver_.log.push_back("disconnect");
    if (driver_.on_disconnect) driver_.on_disconnect();
  }

  std::optional<ResultSet> Query(const std::string& sql, int) override {
    driver_.log.push_back("Q " + sql);
    const ScriptedDriver::Answer* answer = Find(sql);
    if (!answer) return ResultSet{};
    Raise(*answer);
    if (answer->kind == ScriptedDriver::Answer::Kind::NoResultSet) return std::nullopt;
    return answer->rows;
  }

  void Execute(const std::string& sql, int) override {
    driver_.log.push_back("E " + sql);
    if (const ScriptedDriver::Answer* answer = Find(sql)) Raise(*answer);
  }

 private:
  const ScriptedDriver::Answer* Find(const std::string& sql) const {
    auto it = driver_.answers.find(sql);
    return it == driver_.answers.end() ? nullptr : &it->second;
  }
  static void Raise(const ScriptedDriver::Answer& answer) {
    if (answer.kind == ScriptedDriver::Answer::Kind::ProviderFailure) {
      throw ProviderError(answer.message);
    }
    if (answer.kind == ScriptedDriver::Answer::Kind::OtherFailure) {
      throw ForeignFailure{answer.message};
    }
  }

  ScriptedDriver& driver_;
};

}  // namespace

std::unique_ptr<Session> ScriptedDriver::Connect(const std::string& cs, int) {
  log.push_back("connect " + cs);
  if (cs.empty() || refused.count(cs)) throw ProviderError("[DBNETLIB]SQL Server does not exist");
  return std::make_unique<ScriptedSession>(*this);
}

std::vector<std::string> ScriptedDriver::Statements() const {
  std::vector<std::string> out;
  for (const std::string& entry : log) {
    if (entry.rfind("Q ", 0) == 0 || entry.rfind("E ", 0) == 0) out.push_back(entry);
  }
  return out;
}

class FaultyFiles::Stream : public FileStream {
 public:
  Stream(FaultyFiles& files, std::unique_ptr<FileStream> inner)
      : files_(files), inner_(std::move(inner)) {
    ++files_.open_streams;
  }
  ~Stream() override { Close(); }

  std::int64_t Size() override { return inner_->Size(); }
  std::int64_t Position() override { return inner_->Position(); }
  void Seek(std::int64_t position) override { inner_->Seek(position); }
  std::size_t Read(void* buffer, std::size_t count) override {
    std::size_t n = files_.read_index_++ == files_.zero_read_at ? 0 : inner_->Read(buffer, count);
    files_.reads.push_back(n);
    return n;
  }
  std::size_t Write(const void* buffer, std::size_t count) override {
    if (files_.write_index_++ == files_.short_write_at && count > 0) {
      return inner_->Write(buffer, count - 1);
    }
    return inner_->Write(buffer, count);
  }
  void Close() override {
    if (!inner_) return;
    inner_->Close();
    inner_.reset();
    --files_.open_streams;
  }

 private:
  FaultyFiles& files_;
  std::unique_ptr<FileStream> inner_;
};

std::unique_ptr<FileStream> FaultyFiles::OpenRead(const std::string& path) {
  if (virtual_source && path == virtual_path) {
    return std::make_unique<Stream>(*this, virtual_source());
  }
  return std::make_unique<Stream>(*this, disk_.OpenRead(path));
}

std::unique_ptr<FileStream> FaultyFiles::Create(const std::string& path) {
  return std::make_unique<Stream>(*this, disk_.Create(path));
}

bool FaultyFiles::DeleteFile(const std::string& path) {
  deleted.push_back(path);
  return disk_.DeleteFile(path);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Env::Env() {
  SqlConnectionString.clear();
  base = dir.path() + "/";
  work = base + "TempLateTemp/";
  backup = dir / "books.bak";
  std::filesystem::create_directory(work);
  WriteFile(backup, std::string(3000, 'b'));

  libraries.SetExeFolder(dir.path() + "/host/");
  dbfinder = dir.path() + "/host/auxsys/app/dbfinder.dll";
  libraries.Register(dbfinder, {{"GetSqlHinstance", libraries.Returning(kServer)}});

  services.AddService("MSSQLServer", {kServiceRunning});

  for (Edition edition : {Edition::HostInstance, Edition::LocalServer}) {
    database.Rows(HeaderOnlyStatement(Staged(edition)),
                  ResultSet{{"BackupName", "Position", "DatabaseName"}, {{"full", "1", "books"}}});
    database.Rows(FileListOnlyStatement(Staged(edition), 0),
                  ResultSet{{"LogicalName", "PhysicalName", "Type"},
                            {{"books_Data", "C:\\data\\books.mdf", "D"},
                             {"books_Log", "C:\\data\\books_log.ldf", "L"}}});
  }
}

std::string Env::Staged(Edition edition) const {
  return work + (edition == Edition::HostInstance ? "xy.temp" : "vorira8x.temp");
}

std::string Env::Run(Edition edition, const char* suffix) {
  return DoItRun(platform, edition, 0x4711, base.c_str(), backup.c_str(), suffix);
}

std::vector<std::string> Env::LogLines() const {
  std::vector<std::string> out;
  for (const auto& line : host_log.lines())
    out.push_back(std::to_string(line.level) + " " + line.message);
  return out;
}

}  // namespace finprep::test
