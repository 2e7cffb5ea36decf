#include "cli/interrupts.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

namespace pellavo {
namespace {

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

TInterrupts::TInterrupts() {
  const sigset_t set = InterruptSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  thread_ = std::thread([this] { Watch(); });
}

TInterrupts::~TInterrupts() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  // Wakes the watcher's sigwait; it sees stopping_ and ends.
  pthread_kill(thread_.native_handle(), SIGTERM);
  thread_.join();
}

void TInterrupts::Watch() {
  const sigset_t set = InterruptSignals();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    ++count_;
    if (!handler_) std::_Exit(128 + signal);
    handler_(signal, count_);
  }
}

TInterrupts::TScope::TScope(TInterrupts& owner, THandler handler) : owner_(owner) {
  std::lock_guard lock(owner_.mutex_);
  owner_.handler_ = std::move(handler);
}

TInterrupts::TScope::~TScope() {
  std::lock_guard lock(owner_.mutex_);
  owner_.handler_ = nullptr;
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "signal";
  }
}

}  // namespace pellavo
