#include "emu/paths.h"

#include <map>
#include <mutex>

namespace finprep::emu {

namespace {

struct DriveTable {
  std::mutex mutex;
  std::map<char, std::string> folders{{'Z', "/"}};
};

DriveTable& Drives() {
  static DriveTable table;
  return table;
}

char UpperLetter(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return c;
  return 0;
}

}  // namespace

void MapDrive(char letter, const std::string& folder) {
  DriveTable& drives = Drives();
  std::lock_guard<std::mutex> lock(drives.mutex);
  const char key = UpperLetter(letter);
  if (!key) return;
  if (folder.empty()) {
    drives.folders.erase(key);
  } else {
    drives.folders[key] = folder;
  }
}

std::string ToFileSystemPath(const std::string& statement_path) {
  const bool drive_path = statement_path.size() >= 3 && UpperLetter(statement_path[0]) &&
                          statement_path[1] == ':' &&
                          (statement_path[2] == '\\' || statement_path[2] == '/');
  if (!drive_path) return statement_path;
  std::string folder;
  {
    DriveTable& drives = Drives();
    std::lock_guard<std::mutex> lock(drives.mutex);
    auto it = drives.folders.find(UpperLetter(statement_path[0]));
    if (it == drives.folders.end()) return statement_path;
    folder = it->second;
  }
  std::string rest = statement_path.substr(3);
  for (char& c : rest)
    if (c == '\\') c = '/';
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + rest;
}

}  // namespace finprep::emu
