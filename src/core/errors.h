#pragma once
#include <stdexcept>
#include <string>

namespace pellavo {

// Base of every failure the engine raises; the text is the user-facing message.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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

}  // namespace pellavo
