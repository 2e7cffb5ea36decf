#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace pellavo {

// Where the search for a free output name starts, per wanted path, for the length of one run.
// Without it every output that wants a taken name probes name[1], name[2], ... from the start,
// and N outputs of one name into one folder cost N²/2 probes. The table remembers, per path, the
// lowest number not yet known to be taken (0 is the path itself), so each search starts there.
// It is only a hint: every name is still taken with a rename that refuses to replace anything,
// stepping on when it is taken, so the names are the first free ones as the files are published
// (a name freed during the run behind the hint is not reused). Any thread.
class TFreeNames {
 public:
  // The number to try first for path.
  int FirstToTry(const std::string& path);
  // path's number n was just taken by this run after attempts tries, each of the numbers tried
  // before it having been found taken.
  void Published(const std::string& path, int n, int attempts);

  // How many names were tried for all published files together: what a test holds the
  // near-constant cost to.
  uint64_t Attempts() const;

 private:
  mutable std::mutex mutex_;  // guards next_ and attempts_
  std::unordered_map<std::string, int> next_;
  uint64_t attempts_ = 0;
};

}  // namespace pellavo
