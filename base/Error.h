// Failures that cross layers: a category a caller can act on, and a message that
// each layer extends with its own context ("writing block 12: write: No such device").
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace base {

enum class ErrorKind {
  kNotFound,          // no such device or file
  kPermissionDenied,  // the OS refused access (udev rule missing, file mode)
  kDisconnected,      // the device went away while in use
  kTimedOut,          // the device did not answer in time
  kInvalidData,       // bytes that break the rules of the protocol or the file format
  kIo,                // any other OS input/output failure
  kCancelled,         // the user or the owner asked to stop
  kUnsupported,       // not available on this platform or build
};

const char* ToString(ErrorKind kind);

struct Error {
  ErrorKind kind = ErrorKind::kIo;
  std::string message;

  // Returns a copy whose message reads "context: <old message>".
  [[nodiscard]] Error WithContext(const std::string& context) const {
    return Error{kind, context + ": " + message};
  }
};

// A value or the reason there is none. Small on purpose: no exceptions, no surprises.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : m_State(std::move(value)) {}      // NOLINT: implicit by design
  Result(Error error) : m_State(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return std::holds_alternative<T>(m_State); }
  explicit operator bool() const { return ok(); }

  T& value() { return std::get<T>(m_State); }
  const T& value() const { return std::get<T>(m_State); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const { return std::get<Error>(m_State); }

 private:
  std::variant<T, Error> m_State;
};

// Success, or the reason there is none: a Result without a value.
class [[nodiscard]] Status {
 public:
  Status() = default;                                 // success
  Status(Error error) : m_Error(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return !m_Error.has_value(); }
  explicit operator bool() const { return ok(); }

  const Error& error() const { return *m_Error; }

 private:
  std::optional<Error> m_Error;
};

}  // namespace base
