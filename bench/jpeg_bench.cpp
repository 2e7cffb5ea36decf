// Decoding a large JPEG at an eighth: libjpeg alone against the DC decoder (split into parts where
// the file is baseline), for baseline 4:4:4, baseline grey, progressive 4:2:0 and baseline 4:2:0
// files, the last plain and with a restart marker after every MCU row. Bytes per second are of
// the file. Run: jpeg_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/jpeg/jpeg_eighth.h"

namespace pellavo {
namespace {

using namespace jpeg_detail;

// The kinds of file, the benchmarks' last argument.
enum TKind { kBaseline444, kGrey, kProgressive420, kBaseline420, kRestart420, kKinds };

// A photograph-like 4096 × 3072 picture with texture, written once for each kind to a temporary
// file.
std::string Write(TKind kind) {
  const int w = 4096, h = 3072;
  std::vector<uint8_t> rgb(size_t(w) * h * 3);
  uint32_t noise = 1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      noise = noise * 1664525u + 1013904223u;
      uint8_t* p = &rgb[(size_t(y) * w + size_t(x)) * 3];
      p[0] = uint8_t(x * 255 / w + (noise >> 28));
      p[1] = uint8_t(y * 255 / h + (noise >> 29));
      p[2] = uint8_t(((x ^ y) & 0x3F) + (noise >> 27));
    }
  std::vector<uint8_t> out;
  TCompressor comp(out);
  jpeg_compress_struct& c = comp.Info();
  c.image_width = w;
  c.image_height = h;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  comp.Run([&] {
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    if (kind == kGrey) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    for (int i = 0; i < c.num_components; ++i)
      c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = kind >= kProgressive420 && i == 0 ? 2 : 1;
    if (kind == kProgressive420) jpeg_simple_progression(&c);
    if (kind == kRestart420) c.restart_in_rows = 1;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = &rgb[size_t(c.next_scanline) * w * 3];
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
  });
  std::string name = "/tmp/pellavo-jpeg-bench-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0 || ::write(fd, out.data(), out.size()) != ssize_t(out.size())) std::abort();
  ::close(fd);
  return name;
}

const std::string& Sample(int64_t kind) {
  static const std::array<std::string, kKinds> paths = {Write(kBaseline444), Write(kGrey), Write(kProgressive420),
                                                                Write(kBaseline420), Write(kRestart420)};
  return paths[size_t(kind)];
}

void Library(benchmark::State& state) {
  const int fd = ::open(Sample(state.range(0)).c_str(), O_RDONLY);
  for (auto _ : state) {
    ::lseek(fd, 0, SEEK_SET);
    TDecompressor d(fd);
    benchmark::DoNotOptimize(test::LibraryEighth(d));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * ::lseek(fd, 0, SEEK_END));
  ::close(fd);
}

void DcScan(benchmark::State& state) {
  const int fd = ::open(Sample(state.range(1)).c_str(), O_RDONLY);
  const TDcScanSplit split{int(state.range(0)), 1, size_t{1} << 16};
  for (auto _ : state) {
    ::lseek(fd, 0, SEEK_SET);
    if (!test::DcScanEighth(fd, split).taken) {
      state.SkipWithError("not taken");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * ::lseek(fd, 0, SEEK_END));
  ::close(fd);
}

BENCHMARK(Library)->ArgName("kind")->DenseRange(0, kKinds - 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DcScan)
    ->ArgNames({"parts", "kind"})
    ->ArgsProduct({{1, 2, 4}, {kBaseline444, kGrey, kBaseline420, kRestart420}})
    ->Args({1, kProgressive420})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace pellavo

BENCHMARK_MAIN();
