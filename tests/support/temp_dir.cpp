#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "core/files.h"

namespace pellavo::test {

TTempDir::TTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pellavo-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TTempDir::File(const std::string& name) const { return path_ + "/" + name; }

std::vector<std::string> TTempDir::ListOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string LeftoverOfAKilledRun(const std::string& folder, int hours_old) {
  const std::vector<std::string> before = TTempDir::ListOf(folder);
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    try {
      TSafeOutput out(folder + "/killed.jpg", false);
      out.Stream().Write("partial", 7);
      out.Stream().Flush();
      ::_exit(0);  // no destructor runs: the temporary file stays, as after SIGKILL
    } catch (...) {
      ::_exit(1);
    }
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("the writing child failed");
  for (const std::string& name : TTempDir::ListOf(folder)) {
    if (std::find(before.begin(), before.end(), name) != before.end()) continue;
    AgeFile(folder + "/" + name, hours_old);
    return name;
  }
  throw std::runtime_error("the writing child left nothing");
}

void AgeFile(const std::string& path, int hours) {
  const std::time_t when = std::time(nullptr) - std::time_t{hours} * 3600;
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    throw std::runtime_error("cannot date " + path);
}

}  // namespace pellavo::test
