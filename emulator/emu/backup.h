// The backup container: one file holding one or more backup sets in order (see README.md).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace finprep::emu {

struct BackupFile {
  std::string logical_name;
  char type = 'D';            // 'D' data, 'L' log
  std::string physical_name;  // where the file was when the backup was taken
  std::int64_t size = 0;      // bytes
};

struct BackupSet {
  int position = 0;  // 1-based place in the file
  std::string database_name;
  std::string backup_name;
  std::string description;
  std::string user_name;
  std::string server_name;
  std::string start_date;  // "YYYY-MM-DD hh:mm:ss.mmm"
  std::string finish_date;
  std::string creation_date;
  std::vector<BackupFile> files;
  std::string data;  // the database: an image of its SQLite file
};

// The file cannot be opened; `os_error` is the operating system's error as the server words it,
// e.g. "2(The system cannot find the file specified.)".
class BackupOpenError : public std::runtime_error {
 public:
  explicit BackupOpenError(const std::string& os_error) : std::runtime_error(os_error) {}
};

// The file is not a backup container, or is damaged.
class BackupFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads every set of a container (file-system path).  Without `with_data` the sets' data is
// skipped, but its length is still checked.
std::vector<BackupSet> ReadBackup(const std::string& path, bool with_data);

// Writes a container holding `sets` in order; positions are renumbered 1..n.  Throws
// std::runtime_error when the file cannot be written.
void WriteBackup(const std::string& path, const std::vector<BackupSet>& sets);

}  // namespace finprep::emu
