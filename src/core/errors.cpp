#include "core/errors.h"

#include <cstring>
#include <exception>

namespace pellavo {

std::string SystemErrorText(int err) {
  char buffer[256];
  // The GNU strerror_r returns the message, which may or may not live in buffer.
  const char* text = strerror_r(err, buffer, sizeof buffer);
  return text ? std::string(text) : std::string("error ") + std::to_string(err);
}

std::string CurrentErrorText() {
  std::string text;
  try {
    throw;
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
  }
  return text.empty() ? "Unknown error" : text;
}

std::string CurrentErrorReason() {
  std::string cause;
  try {
    throw;
  } catch (const Exception& e) {
    cause = e.Cause();
  } catch (...) {
  }
  std::string text = CurrentErrorText();
  if (!cause.empty()) text += ": " + cause;
  return text;
}

}  // namespace pellavo
