#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// The framework's error classes. Code that the framework let raise an error raises one of these,
// with the framework's own message; only start-up catches them (and the toolkit's default handling
// of an error escaping an event handler, which shows it and goes on).
class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// Stream errors: a file that cannot be created or opened.
class EStreamError : public Exception {
  public:
    using Exception::Exception;
};
class EFCreateError : public EStreamError {
  public:
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
  public:
    using EStreamError::EStreamError;
};

// A string list asked for an index outside the list.
class EListError : public Exception {
  public:
    using Exception::Exception;
};
class EStringListError : public EListError {
  public:
    using EListError::EListError;
};

// An index outside a string's range.
class ERangeError : public Exception {
  public:
    using Exception::Exception;
};

}  // namespace platform
