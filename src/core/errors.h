#pragma once
#include <stdexcept>
#include <string>
#include <utility>

namespace pellavo {

// Base of every failure the engine raises; the text is the user-facing message. Where that text
// alone is cryptic ("JPEG error #53"), the cause says in plain words what went wrong, for front
// ends that show more than the message.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  Exception(const std::string& message, std::string cause)
      : std::runtime_error(message), cause_(std::move(cause)) {}

  const std::string& Cause() const { return cause_; }

 private:
  std::string cause_;
};

// Image content or graphic operations.
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};
class EInvalidGraphicOperation : public Exception {
 public:
  using Exception::Exception;
};

// Files and streams. The texts name the file and the system's reason.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class EOutOfMemory : public Exception {
 public:
  using Exception::Exception;
};

// "Cannot open file "<path>". <reason>" for errno-style failures.
std::string SystemErrorText(int err);

// The text of the exception being handled ("Unknown error" when it has none); call it inside a
// catch block only.
std::string CurrentErrorText();
// The same text followed by the exception's cause, when it has one: "JPEG error #53: Premature
// end of JPEG file". Call it inside a catch block only.
std::string CurrentErrorReason();

}  // namespace pellavo
