#pragma once
#include <functional>
#include <mutex>
#include <thread>

namespace pellavo {

// SIGINT, SIGTERM and SIGHUP as ordinary events. SIGHUP is how a run hears that its terminal
// closed (an ssh session that ended): it must end as tidily as a Ctrl+C. The constructor blocks
// the three in the calling thread, and so in every thread created after it, and a thread of its own takes them with sigwait: what
// they trigger runs as ordinary code, never inside a signal handler, so it may lock, allocate
// and post to the main queue. Create it first thing in main, before any other thread exists.
//
// With no handler set, a signal ends the program at once with status 128 + its number (nothing
// of a run is under way then). A handler runs on the watcher's thread with the signal and how
// many have arrived so far (1 for the first).
class TInterrupts {
 public:
  using THandler = std::function<void(int signal, int count)>;

  TInterrupts();
  ~TInterrupts();
  TInterrupts(const TInterrupts&) = delete;
  TInterrupts& operator=(const TInterrupts&) = delete;

  // Installs handler until the scope is destroyed; destroy it before what the handler uses.
  class TScope {
   public:
    TScope(TInterrupts& owner, THandler handler);
    ~TScope();
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;

   private:
    TInterrupts& owner_;
  };

 private:
  void Watch();

  std::mutex mutex_;  // guards handler_, stopping_ and count_, and is held while a handler runs
  THandler handler_;
  bool stopping_ = false;
  int count_ = 0;
  std::thread thread_;
};

// "SIGINT", "SIGTERM", "SIGHUP", or "signal" for any other.
const char* SignalName(int signal);

}  // namespace pellavo
