#include "platform/portable/posix_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"

namespace finprep::portable {

namespace {

class PosixFileStream : public FileStream {
 public:
  explicit PosixFileStream(int fd) : fd_(fd) {}
  ~PosixFileStream() override { Close(); }

  std::int64_t Size() override {
    struct stat st {};
    return fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
  }
  std::int64_t Position() override {
    const off_t pos = lseek(fd_, 0, SEEK_CUR);
    return pos < 0 ? 0 : static_cast<std::int64_t>(pos);
  }
  void Seek(std::int64_t position) override { lseek(fd_, static_cast<off_t>(position), SEEK_SET); }

  std::size_t Read(void* buffer, std::size_t count) override {
    ssize_t n;
    do {
      n = ::read(fd_, buffer, count);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : static_cast<std::size_t>(n);
  }

  std::size_t Write(const void* buffer, std::size_t count) override {
    const char* p = static_cast<const char*>(buffer);
    std::size_t written = 0;
    while (written < count) {
      const ssize_t n = ::write(fd_, p + written, count - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
    }
    return written;
  }

  void Close() override {
    if (fd_ >= 0) {
      ::close(fd_);  // also releases the lock
      fd_ = -1;
    }
  }

 private:
  int fd_;
};

[[noreturn]] void Fail(const char* what, const std::string& path, int error) {
  throw FileError(std::string(what) + " \"" + path + "\". " + std::strerror(error));
}

// Opens with no sharing: fails with EWOULDBLOCK's text when someone holds the file.
int OpenExclusive(const std::string& path, int flags, const char* what) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) Fail(what, path, errno);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    Fail(what, path, error);
  }
  return fd;
}

}  // namespace

std::unique_ptr<FileStream> PosixFileSystem::OpenRead(const std::string& path) {
  return std::make_unique<PosixFileStream>(OpenExclusive(path, O_RDONLY, "Cannot open file"));
}

std::unique_ptr<FileStream> PosixFileSystem::Create(const std::string& path) {
  // Truncate only once the lock is held, so a file that someone else holds is left intact.
  const int fd = OpenExclusive(path, O_RDWR | O_CREAT, "Cannot create file");
  if (ftruncate(fd, 0) != 0) {
    const int error = errno;
    ::close(fd);
    Fail("Cannot create file", path, error);
  }
  return std::make_unique<PosixFileStream>(fd);
}

bool PosixFileSystem::DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace finprep::portable
