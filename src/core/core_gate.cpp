#include "core/core_gate.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace pellavo {

TCoreGate::TCoreGate(int cores) : free_(std::max(cores, 1)) {}

TCoreGate::TTurn::TTurn(TCoreGate* gate) : gate_(gate) {
  if (gate_) gate_->free_.acquire();
}

bool TCoreGate::TryEnter(TTurn& turn) {
  if (!free_.try_acquire()) return false;
  turn.Release();
  turn.gate_ = this;
  return true;
}

void TCoreGate::TTurn::Release() {
  if (gate_) gate_->free_.release();
  gate_ = nullptr;
}

int UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(CPU_COUNT(&set), 1);
  return std::max(static_cast<int>(std::thread::hardware_concurrency()), 1);
}

}  // namespace pellavo

namespace pellavo {

std::vector<TCoreGate::TTurn> LendSpareTurns(TCoreGate* gate, int wanted) {
  std::vector<TCoreGate::TTurn> turns;
  if (!gate) {
    turns.resize(size_t(std::clamp(UsableCores() - 1, 0, std::max(wanted, 0))));
    return turns;
  }
  for (TCoreGate::TTurn turn; int(turns.size()) < wanted && gate->TryEnter(turn);) turns.push_back(std::move(turn));
  return turns;
}

}  // namespace pellavo
