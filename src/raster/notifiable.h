#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace pellavo {

// An object that tells its observer about changes, and holds them back inside an update
// bracket.
class TNotifiablePersistent {
 public:
  using TNotifyEvent = std::function<void(TNotifiablePersistent& sender)>;

  TNotifiablePersistent() = default;
  TNotifiablePersistent(const TNotifiablePersistent&) = delete;
  TNotifiablePersistent& operator=(const TNotifiablePersistent&) = delete;
  virtual ~TNotifiablePersistent() = default;

  // Calls OnChange unless an update bracket is open.
  virtual void Changed();
  virtual void BeginUpdate();
  // Closes one bracket without notifying; raises EAssertionFailed when none is open.
  virtual void EndUpdate();
  int32_t UpdateCount() const { return update_count_; }

  TNotifyEvent OnChange;

 protected:
  int32_t update_count_ = 0;
};

// Adds a lock that its owner thread may take again while holding it.
class TThreadPersistent : public TNotifiablePersistent {
 public:
  void Lock();
  void Unlock();
  int32_t LockCount() const { return lock_count_.load(); }

 private:
  std::recursive_mutex lock_;
  std::atomic<int32_t> lock_count_{0};
};

// A two-dimensional map with a size.
class TCustomMap : public TThreadPersistent {
 public:
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  virtual bool Empty() const { return width_ == 0 || height_ == 0; }
  // A negative extent is taken as 0. Returns whether the size changed; the same size costs
  // nothing.
  virtual bool SetSize(int32_t width, int32_t height);

  TNotifyEvent OnResize;

 protected:
  // Reallocates for the new size; afterwards width_ and height_ hold it.
  virtual void ChangeSize(int32_t width, int32_t height);
  virtual void Resized();

  int32_t width_ = 0;
  int32_t height_ = 0;
};

}  // namespace pellavo
