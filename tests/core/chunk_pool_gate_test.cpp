#include <gtest/gtest.h>

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
  EXPECT_GE(most.load(), 1);

  // All turns are back: as many can be held at once as there are cores.
  std::vector<TCoreGate::TTurn> all;
  for (int i = 0; i < kCores; ++i) all.push_back(gate.Enter());
  EXPECT_GE(UsableCores(), 1);
}

}  // namespace
}  // namespace pellavo
