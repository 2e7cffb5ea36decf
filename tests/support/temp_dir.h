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

// What a run killed while writing into folder leaves behind: a temporary file of TSafeOutput's
// own, made by a child process that ends without cleaning up, dated hours_old hours back.
// Returns its name in folder.
std::string LeftoverOfAKilledRun(const std::string& folder, int hours_old);
// Sets both dates of path (not following a link) hours back from now.
void AgeFile(const std::string& path, int hours);
std::vector<uint8_t> ReadBytes(const std::string& path);

}  // namespace pellavo::test
