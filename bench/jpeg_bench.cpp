// Decoding a large baseline 4:4:4 JPEG at an eighth: libjpeg alone against the DC decoder split
// into parts. Bytes per second are of the file. Run: jpeg_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/jpeg/jpeg_eighth.h"

namespace pellavo {
namespace {

using namespace jpeg_detail;

// A photograph-like 4096 × 3072 picture with texture, written once to a temporary file.
const std::string& Sample() {
  static const std::string path = [] {
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
      for (int i = 0; i < 3; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
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
  }();
  return path;
}

void Library(benchmark::State& state) {
  const int fd = ::open(Sample().c_str(), O_RDONLY);
  for (auto _ : state) {
    ::lseek(fd, 0, SEEK_SET);
    TDecompressor d(fd);
    benchmark::DoNotOptimize(test::LibraryEighth(d));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * ::lseek(fd, 0, SEEK_END));
  ::close(fd);
}

void DcScan(benchmark::State& state) {
  const int fd = ::open(Sample().c_str(), O_RDONLY);
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

BENCHMARK(Library)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DcScan)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace pellavo

BENCHMARK_MAIN();
