#include "core/core_gate.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace pellavo {

TCoreGate::TCoreGate(int cores) : free_(std::max(cores, 1)) {}

TCoreGate::TTurn::TTurn(TCoreGate* gate) : gate_(gate) {
  if (gate_) gate_->free_.acquire();
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
