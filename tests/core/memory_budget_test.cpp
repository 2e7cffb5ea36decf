#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/memory_budget.h"

namespace pellavo {
namespace {

// Waits, without a clock, until n claims are queued on budget.
void UntilWaiting(const TMemoryBudget& budget, int n) {
  while (budget.Waiting() != n) std::this_thread::yield();
}

// A worker thread that claims bytes and holds them until told to let go.
class TFakeWorker {
 public:
  TFakeWorker(std::shared_ptr<TMemoryBudget> budget, uint64_t bytes)
      : thread_([this, budget, bytes] {
          TMemoryClaim claim(budget);
          claim.Cover(bytes);
          admitted_ = true;
          while (!release_) std::this_thread::yield();
        }) {}
  ~TFakeWorker() { Release(); }

  bool Admitted() const { return admitted_; }
  void WaitAdmitted() const {
    while (!admitted_) std::this_thread::yield();
  }
  // Lets go of the claim and waits until it is released.
  void Release() {
    release_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> admitted_{false}, release_{false};
  std::thread thread_;
};

TEST(MemoryBudget, ClaimsWaitForRoomAndAreReleasedWithTheirOwner) {
  auto budget = std::make_shared<TMemoryBudget>(100);
  TFakeWorker a(budget, 60);
  a.WaitAdmitted();
  TFakeWorker b(budget, 50);  // does not fit beside a
  UntilWaiting(*budget, 1);
  EXPECT_FALSE(b.Admitted());
  EXPECT_EQ(budget->Held(), 60u);
  a.Release();
  b.WaitAdmitted();
  EXPECT_EQ(budget->Held(), 50u);
  b.Release();
  EXPECT_EQ(budget->Held(), 0u);
}

TEST(MemoryBudget, ClaimsAreAdmittedInTheOrderTheyCame) {
  // A large claim waiting is not passed over by a small one that would fit.
  auto budget = std::make_shared<TMemoryBudget>(100);
  TFakeWorker a(budget, 60);
  a.WaitAdmitted();
  TFakeWorker large(budget, 90);
  UntilWaiting(*budget, 1);
  TFakeWorker small(budget, 10);
  UntilWaiting(*budget, 2);
  EXPECT_FALSE(small.Admitted());
  a.Release();
  large.WaitAdmitted();
  small.WaitAdmitted();  // 90 + 10 fit together
  EXPECT_EQ(budget->Held(), 100u);
}

TEST(MemoryBudget, AnImageLargerThanTheBudgetRunsAlone) {
  auto budget = std::make_shared<TMemoryBudget>(100);
  TFakeWorker a(budget, 30);
  a.WaitAdmitted();
  TFakeWorker huge(budget, 250);
  UntilWaiting(*budget, 1);
  a.Release();  // nothing else held: the huge claim goes ahead instead of waiting for ever
  huge.WaitAdmitted();
  TFakeWorker next(budget, 10);
  UntilWaiting(*budget, 1);
  EXPECT_FALSE(next.Admitted());
  huge.Release();
  next.WaitAdmitted();
  EXPECT_EQ(budget->Held(), 10u);
}

TEST(MemoryBudget, AHeldClaimGrowsWithoutWaitingAndEmptyOnesTakeNothing) {
  auto budget = std::make_shared<TMemoryBudget>(100);
  {
    TMemoryClaim claim(budget);
    claim.Cover(0);
    EXPECT_EQ(budget->Held(), 0u);
    claim.Cover(80);
    claim.Cover(40);  // never shrinks
    EXPECT_EQ(claim.Bytes(), 80u);
    claim.Cover(150);  // over the budget, but an admitted worker waiting on others could deadlock
    EXPECT_EQ(budget->Held(), 150u);
  }
  EXPECT_EQ(budget->Held(), 0u);
  TMemoryClaim outside_a_run(nullptr);
  outside_a_run.Cover(1000);  // no budget, nothing to wait for
}

TEST(MemoryBudget, DefaultIsHalfThePhysicalMemory) {
  ASSERT_GT(PhysicalMemoryBytes(), 0u);
  EXPECT_EQ(DefaultMemoryBudget(), PhysicalMemoryBytes() / 2);
}

}  // namespace
}  // namespace pellavo
