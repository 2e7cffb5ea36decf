#include "support/threads.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <stdexcept>

namespace pellavo::test {
namespace {

void SetDefaultStackSize(size_t size) {
  pthread_attr_t attr;
  if (pthread_getattr_default_np(&attr) != 0) throw std::runtime_error("cannot read the default thread attributes");
  const int set = pthread_attr_setstacksize(&attr, size);
  const int applied = set == 0 ? pthread_setattr_default_np(&attr) : set;
  pthread_attr_destroy(&attr);
  if (applied != 0) throw std::runtime_error("cannot change the default thread stack size");
}

}  // namespace

TMainQueue::TErrorSink FailOnQueueError() {
  return [](const std::string& error) { ADD_FAILURE() << "a queued task failed: " << error; };
}

TThreadCreationFails::TThreadCreationFails() {
  pthread_attr_t attr;
  if (pthread_getattr_default_np(&attr) != 0) throw std::runtime_error("cannot read the default thread attributes");
  pthread_attr_getstacksize(&attr, &saved_stack_size_);
  pthread_attr_destroy(&attr);
  SetDefaultStackSize(size_t{1} << 60);
}

TThreadCreationFails::~TThreadCreationFails() { SetDefaultStackSize(saved_stack_size_); }

}  // namespace pellavo::test
