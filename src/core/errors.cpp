#include "core/errors.h"

#include <cstring>

namespace pellavo {

std::string SystemErrorText(int err) {
  char buffer[256];
  // The GNU strerror_r returns the message, which may or may not live in buffer.
  const char* text = strerror_r(err, buffer, sizeof buffer);
  return text ? std::string(text) : std::string("error ") + std::to_string(err);
}

}  // namespace pellavo
