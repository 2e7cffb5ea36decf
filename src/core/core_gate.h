#pragma once
#include <semaphore>
#include <vector>

namespace pellavo {

// The threads of a run that may compute at once: one per core the process may run on. A run
// may have more files in progress than that (its thread limit, or all at once); the others wait
// for a turn before they decode anything, since more at once only shares the same cores among
// more images held in memory at once. Work split inside one file (a decoder's parts, an
// encoder's pieces) runs its helper threads only on turns that are spare at that moment, so the
// busy threads of a run never outnumber the cores.
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
    friend class TCoreGate;
    TCoreGate* gate_ = nullptr;
  };

  // Waits for a free core.
  TTurn Enter() { return TTurn(this); }
  // A free core's turn without waiting; false when every core is busy.
  bool TryEnter(TTurn& turn);

 private:
  std::counting_semaphore<> free_;
};

// The cores this process may run on (its affinity), at least 1: the one count of cores that
// every part of the program uses.
int UsableCores();

// Turns for at most `wanted` helper threads of work split inside one file, without waiting: the
// spare turns of gate, or without a gate (work outside a run) one per usable core besides the
// caller's. The caller's own share runs on its thread, in its own turn; each helper holds one
// of these while it runs.
std::vector<TCoreGate::TTurn> LendSpareTurns(TCoreGate* gate, int wanted);

}  // namespace pellavo
