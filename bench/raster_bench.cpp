// Throughput of each resampler on the worker's typical reductions, at every instruction-set
// level the processor offers. Run: raster_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "raster/bitmap32.h"
#include "raster/source_rows.h"
#include "raster/transfer.h"
#include "raster/simd_level.h"

namespace pellavo {
namespace {

struct TFilter {
  std::string_view name;
  TStretchFilter value;
};

// Each resampling path once, by the command line's names; cosine and spline take Lanczos's path.
constexpr TFilter Measured(std::string_view name) { return {name, *FilterByName(name)}; }
constexpr TFilter kFilters[] = {Measured("nearest"), Measured("draft"),   Measured("linear"),
                                Measured("box"),     Measured("lanczos"), Measured("mitchell")};

// A photograph-like source: smooth gradients with some texture, opaque.
const TBitmap32& Source(int32_t w, int32_t h) {
  static std::map<std::pair<int32_t, int32_t>, std::unique_ptr<TBitmap32>> cache;
  auto& s = cache[{w, h}];
  if (!s) {
    s = std::make_unique<TBitmap32>();
    s->SetSize(w, h);
    for (int32_t y = 0; y < h; ++y) {
      TColor32* row = s->ScanLine(y);
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t r = uint32_t(x * 255 / w), g = uint32_t(y * 255 / h), b = uint32_t((x * 7 + y * 13) & 0xFF);
        row[x] = 0xFF000000u | r << 16 | g << 8 | b;
      }
    }
  }
  return *s;
}

void Stretch(benchmark::State& state, TFilter filter, int32_t sw, int32_t sh, int32_t dw, int32_t dh,
             TSimdLevel level) {
  if (SetSimdLevel(level) != level) {
    state.SkipWithError("instruction set not available");
    return;
  }
  TBitmap32 src;
  src.Assign(Source(sw, sh));
  src.SetStretchFilter(filter.value);
  TBitmap32 dst;
  dst.SetSize(dw, dh);
  for (auto _ : state) {
    src.DrawTo(dst, dst.BoundsRect(), src.BoundsRect());
    benchmark::DoNotOptimize(dst.Bits());
    benchmark::ClobberMemory();
  }
  state.counters["src_MPix/s"] =
      benchmark::Counter(double(sw) * sh * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// Rows of the photograph-like source, made as they are asked for: what a decoder costs beyond
// its own work is the window's copying.
class TPatternRows final : public TRowImage {
 public:
  TPatternRows(int32_t w, int32_t h) : w_(w), h_(h) {}
  int32_t Width() const override { return w_; }
  int32_t Height() const override { return h_; }
  uint64_t WorkingBytes() const override { return 0; }
  void ReadRows(TColor32* out, int32_t count) override {
    const TBitmap32& s = Source(w_, h_);
    std::copy_n(s.ScanLine(next_), size_t(count) * size_t(w_), out);
    next_ += count;
  }
  void Finish() override {}

 private:
  int32_t w_, h_, next_ = 0;
};

// The streaming path: the source is never held whole, only a window of rows.
void Streamed(benchmark::State& state, TFilter filter, int32_t sw, int32_t sh, int32_t dw, int32_t dh,
              TSimdLevel level) {
  if (SetSimdLevel(level) != level) {
    state.SkipWithError("instruction set not available");
    return;
  }
  Source(sw, sh);
  TBitmap32 resampler_owner;
  resampler_owner.SetStretchFilter(filter.value);
  TBitmap32 dst;
  dst.SetSize(dw, dh);
  for (auto _ : state) {
    TPatternRows image(sw, sh);
    TStreamedRows rows(image, TDecodeLimits{});
    StretchRows(dst, dst.BoundsRect(), rows, TRect{0, 0, sw, sh}, resampler_owner.Resampler());
    rows.Finish();
    benchmark::DoNotOptimize(dst.Bits());
    benchmark::ClobberMemory();
  }
  state.counters["src_MPix/s"] =
      benchmark::Counter(double(sw) * sh * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

void RegisterAll() {
  struct TSize {
    int32_t sw, sh, dw, dh;
  };
  const TSize sizes[] = {{5120, 2880, 800, 450}, {1280, 720, 800, 450}};
  for (const TSize& z : sizes)
    for (const TFilter& f : kFilters)
      for (TSimdLevel level : {TSimdLevel::Scalar, TSimdLevel::SSE2, TSimdLevel::AVX2}) {
        if (level > DetectedSimdLevel()) continue;
        const std::string name = std::string(f.name) + "/" + std::to_string(z.sw) + "x" + std::to_string(z.sh) + "/" +
                                 SimdLevelName(level);
        benchmark::RegisterBenchmark(name.c_str(), Stretch, f, z.sw, z.sh, z.dw, z.dh, level)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
        benchmark::RegisterBenchmark(("streamed/" + name).c_str(), Streamed, f, z.sw, z.sh, z.dw, z.dh, level)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
      }
}

}  // namespace
}  // namespace pellavo

int main(int argc, char** argv) {
  pellavo::RegisterAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
