#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "core/chunk_pool.h"
#include "core/core_gate.h"

namespace pellavo {
namespace {

TEST(ChunkPool, KeepsGivenChunksUpToItsBoundAndHandsThemOutAgain) {
  TChunkPool pool(2);
  void* a = pool.Take();
  void* b = pool.Take();
  void* c = pool.Take();
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(std::set<void*>({a, b, c}).size(), 3u);
  pool.Give(a);
  pool.Give(b);
  pool.Give(c);  // past the bound: freed
  pool.Give(nullptr);
  EXPECT_EQ(pool.Kept(), 2u);
  const std::set<void*> again{pool.Take(), pool.Take()};
  EXPECT_EQ(again, std::set<void*>({a, b}));
  EXPECT_EQ(pool.Kept(), 0u);
  for (void* chunk : again) pool.Give(chunk);

  TChunkPool keeps_none(0);
  keeps_none.Give(keeps_none.Take());
  EXPECT_EQ(keeps_none.Kept(), 0u);
}

TEST(CoreGate, NoMoreTurnsAtOnceThanCoresAndEveryTurnIsGivenBackOnce) {
  constexpr int kCores = 2, kWorkers = 6, kRounds = 200;
  TCoreGate gate(kCores);
  std::atomic<int> inside{0}, most{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&] {
      for (int round = 0; round < kRounds; ++round) {
        TCoreGate::TTurn turn = gate.Enter();
        TCoreGate::TTurn moved(std::move(turn));  // a moved-from turn gives nothing back
        const int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
        --inside;
        moved.Release();
        moved.Release();  // twice is once
      }
    });
  for (std::thread& t : workers) t.join();
  EXPECT_LE(most.load(), kCores);

  // All turns are back, and none more: a lost turn, or one given back twice, shows here.
  std::vector<TCoreGate::TTurn> all(kCores + 1);
  for (int i = 0; i < kCores; ++i) EXPECT_TRUE(gate.TryEnter(all[size_t(i)])) << i;
  EXPECT_FALSE(gate.TryEnter(all[kCores]));
}

TEST(CoreGate, LendsOnlyTheTurnsNobodyHolds) {
  TCoreGate gate(3);
  TCoreGate::TTurn own = gate.Enter();
  {
    std::vector<TCoreGate::TTurn> lent = LendSpareTurns(&gate, 5);
    EXPECT_EQ(lent.size(), 2u);
    EXPECT_TRUE(LendSpareTurns(&gate, 5).empty());  // without waiting: the work stays on its thread
    lent.pop_back();
    EXPECT_EQ(LendSpareTurns(&gate, 5).size(), 1u);
  }
  EXPECT_EQ(LendSpareTurns(&gate, 1).size(), 1u);
  EXPECT_TRUE(LendSpareTurns(&gate, 0).empty());
  // Outside a run: one helper per usable core besides the caller.
  EXPECT_EQ(int(LendSpareTurns(nullptr, 64).size()), UsableCores() - 1);
  EXPECT_TRUE(LendSpareTurns(nullptr, 0).empty());
}

// The cores a process may run on are its affinity, not the machine's: a job pinned to one core
// splits nothing.
TEST(CoreGate, UsableCoresFollowTheAffinity) {
  cpu_set_t before;
  ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
  int first = 0;
  while (!CPU_ISSET(first, &before)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  const int pinned = UsableCores();
  const size_t helpers = LendSpareTurns(nullptr, 8).size();
  ASSERT_EQ(sched_setaffinity(0, sizeof before, &before), 0);
  EXPECT_EQ(pinned, 1);
  EXPECT_EQ(helpers, 0u);
  EXPECT_EQ(UsableCores(), CPU_COUNT(&before));
}

}  // namespace
}  // namespace pellavo
