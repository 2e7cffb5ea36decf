#pragma once
#include <string>
#include <vector>

#include "core/main_queue.h"

namespace pellavo::test {

// An error sink for queues whose tasks are not expected to throw: each error fails the test.
TMainQueue::TErrorSink FailOnQueueError();

// Keeps what reached a queue's error sink. Main thread only, like the sink.
struct TErrorLog {
  std::vector<std::string> errors;
  TMainQueue::TErrorSink Sink() {
    return [this](const std::string& error) { errors.push_back(error); };
  }
};

// While one exists, creating a thread fails as it does when the system has no room for another:
// new threads are asked for a stack larger than any address space. Restores the default after.
class TThreadCreationFails {
 public:
  TThreadCreationFails();
  ~TThreadCreationFails();
  TThreadCreationFails(const TThreadCreationFails&) = delete;
  TThreadCreationFails& operator=(const TThreadCreationFails&) = delete;

 private:
  size_t saved_stack_size_ = 0;
};

}  // namespace pellavo::test
