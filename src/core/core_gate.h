#pragma once
#include <semaphore>

namespace pellavo {

// The conversions of a run that may compute at once: one per core the process may run on. A run
// may have more files in progress than that (its thread limit, or all at once); the others wait
// for a turn before they decode anything, since more at once only shares the same cores among
// more images held in memory at once.
//
// Thread-safe: workers take and give back turns on their own threads. Shared like the run's
// memory budget, so a worker still running after its run is gone finds it.
class TCoreGate {
 public:
  explicit TCoreGate(int cores);
  TCoreGate(const TCoreGate&) = delete;
  TCoreGate& operator=(const TCoreGate&) = delete;

  // A turn, given back when it ends or is released; empty when made without a gate.
  class TTurn {
   public:
    TTurn() = default;
    explicit TTurn(TCoreGate* gate);
    ~TTurn() { Release(); }
    TTurn(TTurn&& other) noexcept : gate_(other.gate_) { other.gate_ = nullptr; }
    TTurn& operator=(TTurn&& other) noexcept {
      if (this != &other) {
        Release();
        gate_ = other.gate_;
        other.gate_ = nullptr;
      }
      return *this;
    }
    void Release();

   private:
    TCoreGate* gate_ = nullptr;
  };

  // Waits for a free core.
  TTurn Enter() { return TTurn(this); }

 private:
  std::counting_semaphore<> free_;
};

// The cores this process may run on (its affinity), at least 1.
int UsableCores();

}  // namespace pellavo
