#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace pellavo {

// The memory a run lets its workers' decoded images take together. A worker claims its image's
// size from the header, before it decodes; when there is no room it waits until other workers
// release theirs. Claims are admitted in the order they were asked for, so a large image is not
// passed over forever by small ones. An image larger than the whole budget is admitted once
// nothing else is held: it runs alone instead of waiting for room that can never come.
//
// A waiting worker has been launched and keeps its slot of the run's thread limit, so fewer images
// may decode at once than the limit allows. STOP launches nothing more; workers already launched,
// waiting ones included, run to their end: there is no cancellation.
//
// Thread-safe: workers claim and release on their own threads. The run owns the budget and hands
// each worker a share of its ownership, so a worker still running after its run is gone finds it.
class TMemoryBudget {
 public:
  explicit TMemoryBudget(uint64_t capacity) : capacity_(capacity) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  uint64_t Capacity() const { return capacity_; }
  uint64_t Held() const;
  // The most that was held at once: what a measurement of the real peak is held against.
  uint64_t PeakHeld() const;
  // Claims now waiting for room.
  int Waiting() const;

 private:
  friend class TMemoryClaim;
  void Acquire(uint64_t bytes);
  void Grow(uint64_t bytes);
  void Release(uint64_t bytes);

  const uint64_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t held_ = 0;
  uint64_t peak_held_ = 0;
  int holders_ = 0;
  int waiting_ = 0;
  uint64_t next_ticket_ = 0;  // handed to the next claim that has to queue
  uint64_t serving_ = 0;      // the ticket whose turn it is
};

// One worker's share of a budget, released when the claim ends. Empty at first.
class TMemoryClaim {
 public:
  explicit TMemoryClaim(std::shared_ptr<TMemoryBudget> budget) : budget_(std::move(budget)) {}
  ~TMemoryClaim();
  TMemoryClaim(const TMemoryClaim&) = delete;
  TMemoryClaim& operator=(const TMemoryClaim&) = delete;

  // Raises the claim to at least bytes. The first claim waits for room; a claim already held
  // grows without waiting (a worker that holds memory and waits for more could wait on another
  // doing the same), which the per-image limit keeps small.
  void Cover(uint64_t bytes);
  uint64_t Bytes() const { return bytes_; }

 private:
  std::shared_ptr<TMemoryBudget> budget_;
  uint64_t bytes_ = 0;
};

// The machine's physical memory in bytes, 0 when it cannot be read.
uint64_t PhysicalMemoryBytes();
// What a run's workers may hold by default: half of the machine's memory (1 GiB when unknown).
uint64_t DefaultMemoryBudget();

}  // namespace pellavo
