#pragma once
#include <cstddef>
#include <mutex>
#include <vector>

namespace pellavo {

// Large buffers of one size, taken and given back by the workers of a run. A chunk given back is
// kept, up to a bound, for the next one to take instead of going back to the system: memory fresh
// from the system costs a page fault and a cleared page every 4 KB, and a decoder that needs tens
// of megabytes for every file spent a sixth of a run's time on those faults.
//
// Thread-safe. Take and Give never throw: the JPEG library calls them from its C frames.
class TChunkPool {
 public:
  // Large enough for one row of coefficient blocks of the widest JPEG (65,500 pixels).
  static constexpr size_t kChunkBytes = size_t{2} << 20;

  explicit TChunkPool(size_t max_kept_chunks);
  ~TChunkPool();
  TChunkPool(const TChunkPool&) = delete;
  TChunkPool& operator=(const TChunkPool&) = delete;

  // A chunk of kChunkBytes whose contents are undefined, or nullptr when memory runs out.
  void* Take() noexcept;
  // Returns a chunk from Take, to be kept or freed.
  void Give(void* chunk) noexcept;
  size_t Kept() const;

 private:
  mutable std::mutex mutex_;
  const size_t max_kept_;
  std::vector<void*> kept_;  // room for max_kept_ reserved at once: Give never allocates
};

}  // namespace pellavo
