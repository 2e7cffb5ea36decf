#include "cli/path_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/errors.h"

namespace pellavo {

std::vector<std::string> SplitPathList(std::string_view bytes, char separator) {
  std::vector<std::string> paths;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find(separator, start);
    if (end == std::string_view::npos) end = bytes.size();
    if (end > start || separator == '\0') paths.emplace_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

std::vector<std::string> ReadPathList(const std::string& file, char separator) {
  const bool standard_input = file == "-";
  const std::string name = standard_input ? "standard input" : "\"" + file + "\"";
  const int fd = standard_input ? 0 : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EFOpenError("Cannot open file " + name + ". " + SystemErrorText(errno));
  std::string bytes;
  char buffer[65536];
  int err = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      err = errno;
      break;
    }
  }
  if (!standard_input) ::close(fd);
  if (err != 0) throw EReadError("Cannot read file " + name + ". " + SystemErrorText(err));
  return SplitPathList(bytes, separator);
}

}  // namespace pellavo
