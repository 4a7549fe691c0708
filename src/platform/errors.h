// Exception classes of the component layer.
//
// Every failure a component raises derives from `Error`, so the step driver can catch them all
// with one handler.  Messages are UTF-8.
#pragma once

#include <stdexcept>
#include <string>

namespace finprep {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// Raised for every error the database server or its client library reports: server errors,
// time-outs, failed connections.  The message is the provider's own text (may be empty).
class ProviderError : public Error {
 public:
  using Error::Error;
};

// Raised by the dataset components themselves: an operation on a closed dataset, a missing field,
// a statement that returns no result set.  Never a server error.
class DatabaseError : public Error {
 public:
  using Error::Error;
};

// A file could not be opened or created.  The message names the file and the system's reason.
class FileError : public Error {
 public:
  using Error::Error;
};

// The silent abort of a step after its own message has been shown.
class AbortError : public Error {
 public:
  AbortError() : Error("Operation aborted") {}
};

}  // namespace finprep
