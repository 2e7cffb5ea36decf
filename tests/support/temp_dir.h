#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace pellavo::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string File(const std::string& name) const;
  // Names of the entries, sorted; hidden temporaries included.
  std::vector<std::string> List() const { return ListOf(path_); }
  static std::vector<std::string> ListOf(const std::string& folder);

 private:
  std::string path_;
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

}  // namespace pellavo::test
