// Files on POSIX systems, with Windows' no-sharing mode imitated by exclusive flock locks: a file
// that a stream holds cannot be opened again, by this process or by another that locks too.
#pragma once

#include "platform/system.h"

namespace finprep::portable {

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<FileStream> OpenRead(const std::string& path) override;
  std::unique_ptr<FileStream> Create(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  std::string Separator() const override { return "/"; }
};

}  // namespace finprep::portable
