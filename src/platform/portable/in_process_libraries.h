// Dynamic libraries without a dynamic loader: "libraries" registered by path, each with string
// exports that are plain functions.  Counts loads and releases, so a caller that forgets to
// release shows.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/system.h"

namespace finprep::portable {

class InProcessLibraryLoader : public LibraryLoader {
 public:
  // Produces the string that an export hands over; called at every call of the export.
  using StringExport = std::function<std::string()>;

  explicit InProcessLibraryLoader(std::string exe_folder = "/opt/host/")
      : exe_folder_(std::move(exe_folder)) {}
  InProcessLibraryLoader(const InProcessLibraryLoader&) = delete;
  InProcessLibraryLoader& operator=(const InProcessLibraryLoader&) = delete;
  ~InProcessLibraryLoader() override;

  void SetExeFolder(const std::string& folder) { exe_folder_ = folder; }
  // Registers (or replaces) the library at `path` with its exports; Unregister makes loads of
  // that path fail.
  void Register(const std::string& path, std::map<std::string, StringExport> exports);
  void Unregister(const std::string& path);
  // An export that always hands over the same text.
  static StringExport Returning(std::string value);

  std::string ExeFolder() override { return exe_folder_; }
  std::unique_ptr<Library> Load(const std::string& path) override;

  int loads() const { return loads_; }
  int releases() const { return releases_; }
  int loaded() const { return loads_ - releases_; }
  // Every load attempt (path) and every export called ("path!name"), in order.
  const std::vector<std::string>& calls() const { return calls_; }

 private:
  class InProcessLibrary;

  std::string exe_folder_;
  std::map<std::string, std::map<std::string, StringExport>> libraries_;
  int loads_ = 0;
  int releases_ = 0;
  std::vector<std::string> calls_;
  // Set to false when the loader goes, so that a library outliving it releases nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace finprep::portable
