#include "emu/backup.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace finprep::emu {

namespace {

constexpr char kFileMagic[8] = {'F', 'P', 'E', 'M', 'U', 'B', 'A', 'K'};
constexpr char kSetMagic[8] = {'F', 'P', 'E', 'M', 'U', 'S', 'E', 'T'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kMaxHeader = 1 << 20;

std::uint64_t Fnv1a(const std::string& data) {
  std::uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : data) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutU64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i)
    out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

class Reader {
 public:
  explicit Reader(std::ifstream& in) : in_(in) {}
  bool Bytes(char* out, std::size_t n) {
    in_.read(out, static_cast<std::streamsize>(n));
    return static_cast<std::size_t>(in_.gcount()) == n;
  }
  std::uint32_t U32() {
    unsigned char b[4];
    if (!Bytes(reinterpret_cast<char*>(b), 4)) throw BackupFormatError("truncated");
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
  }
  std::uint64_t U64() {
    unsigned char b[8];
    if (!Bytes(reinterpret_cast<char*>(b), 8)) throw BackupFormatError("truncated");
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
      v = (v << 8) | b[i];
    return v;
  }

 private:
  std::ifstream& in_;
};

std::string Header(const BackupSet& set, int position) {
  auto check = [](const std::string& v) {
    if (v.find_first_of("\t\r\n") != std::string::npos)
      throw std::runtime_error("backup metadata must not hold tabs or line breaks: " + v);
    return v;
  };
  std::ostringstream h;
  h << "position=" << position << "\n";
  h << "database_name=" << check(set.database_name) << "\n";
  h << "backup_name=" << check(set.backup_name) << "\n";
  h << "description=" << check(set.description) << "\n";
  h << "user_name=" << check(set.user_name) << "\n";
  h << "server_name=" << check(set.server_name) << "\n";
  h << "start_date=" << check(set.start_date) << "\n";
  h << "finish_date=" << check(set.finish_date) << "\n";
  h << "creation_date=" << check(set.creation_date) << "\n";
  for (const BackupFile& f : set.files)
    h << "file=" << check(f.logical_name) << "\t" << f.type << "\t" << check(f.physical_name)
      << "\t" << f.size << "\n";
  return h.str();
}

void ParseHeader(const std::string& text, BackupSet& set) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) throw BackupFormatError("bad header line");
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "position") {
      auto n = ParseInt32(value);
      if (!n) throw BackupFormatError("bad position");
      set.position = *n;
    } else if (key == "database_name") {
      set.database_name = value;
    } else if (key == "backup_name") {
      set.backup_name = value;
    } else if (key == "description") {
      set.description = value;
    } else if (key == "user_name") {
      set.user_name = value;
    } else if (key == "server_name") {
      set.server_name = value;
    } else if (key == "start_date") {
      set.start_date = value;
    } else if (key == "finish_date") {
      set.finish_date = value;
    } else if (key == "creation_date") {
      set.creation_date = value;
    } else if (key == "file") {
      BackupFile f;
      std::size_t t1 = value.find('\t');
      std::size_t t2 = t1 == std::string::npos ? t1 : value.find('\t', t1 + 1);
      std::size_t t3 = t2 == std::string::npos ? t2 : value.find('\t', t2 + 1);
      if (t3 == std::string::npos || t2 != t1 + 2) throw BackupFormatError("bad file line");
      f.logical_name = value.substr(0, t1);
      f.type = value[t1 + 1];
      f.physical_name = value.substr(t2 + 1, t3 - t2 - 1);
      char* end = nullptr;
      f.size = std::strtoll(value.c_str() + t3 + 1, &end, 10);
      if (f.type != 'D' && f.type != 'L') throw BackupFormatError("bad file type");
      set.files.push_back(f);
    }
    // Unknown keys are skipped, so later versions may add some.
  }
  if (set.database_name.empty() || set.files.empty())
    throw BackupFormatError("set without database name or files");
}

}  // namespace

std::vector<BackupSet> ReadBackup(const std::string& path, bool with_data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    int err = errno;
    if (err == ENOENT) throw BackupOpenError("2(The system cannot find the file specified.)");
    if (err == ENOTDIR) throw BackupOpenError("3(The system cannot find the path specified.)");
    throw BackupOpenError("5(Access is denied.)");
  }
  in.seekg(0, std::ios::end);
  const std::uint64_t file_size = static_cast<std::uint64_t>(in.tellg());
  in.seekg(0);
  if (!in) throw BackupOpenError("5(Access is denied.)");  // a folder, for one
  Reader r(in);
  char magic[8];
  if (!r.Bytes(magic, 8) || std::memcmp(magic, kFileMagic, 8) != 0)
    throw BackupFormatError("not a backup container");
  if (r.U32() != kVersion) throw BackupFormatError("unknown container version");
  r.U32();  // reserved
  std::vector<BackupSet> sets;
  while (true) {
    if (!r.Bytes(magic, 8)) break;  // end of file
    if (std::memcmp(magic, kSetMagic, 8) != 0) throw BackupFormatError("bad set marker");
    std::uint32_t header_len = r.U32();
    if (header_len > kMaxHeader) throw BackupFormatError("header too long");
    std::string header(header_len, '\0');
    if (!r.Bytes(header.data(), header_len)) throw BackupFormatError("truncated header");
    BackupSet set;
    ParseHeader(header, set);
    set.position = static_cast<int>(sets.size() + 1);
    std::uint64_t data_len = r.U64();
    std::uint64_t here = static_cast<std::uint64_t>(in.tellg());
    if (data_len > file_size || here + data_len + 8 > file_size)
      throw BackupFormatError("truncated data");
    if (with_data) {
      set.data.resize(data_len);
      if (!r.Bytes(set.data.data(), data_len)) throw BackupFormatError("truncated data");
      if (r.U64() != Fnv1a(set.data)) throw BackupFormatError("checksum mismatch");
    } else {
      in.seekg(static_cast<std::streamoff>(data_len + 8), std::ios::cur);
    }
    sets.push_back(std::move(set));
  }
  if (sets.empty()) throw BackupFormatError("no backup set");
  return sets;
}

void WriteBackup(const std::string& path, const std::vector<BackupSet>& sets) {
  std::string out(kFileMagic, 8);
  PutU32(out, kVersion);
  PutU32(out, 0);
  for (std::size_t i = 0; i < sets.size(); ++i) {
    std::string header = Header(sets[i], static_cast<int>(i + 1));
    out.append(kSetMagic, 8);
    PutU32(out, static_cast<std::uint32_t>(header.size()));
    out += header;
    PutU64(out, sets[i].data.size());
    out += sets[i].data;
    PutU64(out, Fnv1a(sets[i].data));
  }
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(out.data(), static_cast<std::streamsize>(out.size()));
  f.close();
  if (!f) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

}  // namespace finprep::emu
