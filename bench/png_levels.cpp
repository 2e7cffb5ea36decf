// What each libdeflate level costs and gains on the image data of real PNG outputs: the filtered
// rows are taken from the files given (pellavo's own outputs, so the rows are exactly those the
// encoder deflates) and deflated again at every level, on one thread, with zlib's levels 6 and 8
// beside them. Prints per level the thread's CPU time (steady on a busy machine, unlike the wall
// clock) and the total size, by the size of the filtered rows.
// Run: png_levels OUTPUT.png...
#include <zlib.h>

#include <time.h>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/png/zlib_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t BE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// The inflated IDAT data of a PNG file, empty when it cannot be read.
Bytes FilteredRows(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Bytes zlib;
  uint64_t raw_size = 0;
  for (size_t at = 8; at + 12 <= file.size();) {
    const uint32_t length = BE32(&file[at]);
    const std::string name(file.begin() + std::ptrdiff_t(at + 4), file.begin() + std::ptrdiff_t(at + 8));
    if (at + 12 + length > file.size()) return {};
    if (name == "IHDR") {
      const uint64_t w = BE32(&file[at + 8]), h = BE32(&file[at + 12]);
      // The worker writes 8-bit samples: grey, grey and alpha, RGB or RGBA.
      const uint8_t type = file[at + 17];
      const uint64_t channels = type == 0 ? 1 : type == 4 ? 2 : type == 2 ? 3 : type == 6 ? 4 : 0;
      if (file[at + 16] != 8 || channels == 0 || file[at + 20] != 0) return {};
      raw_size = h * (w * channels + 1);
    }
    if (name == "IDAT") zlib.insert(zlib.end(), file.begin() + std::ptrdiff_t(at + 8), file.begin() + std::ptrdiff_t(at + 8 + length));
    at += 12 + length;
  }
  Bytes raw(raw_size);
  uLongf got = uLongf(raw.size());
  if (uncompress(raw.data(), &got, zlib.data(), uLong(zlib.size())) != Z_OK || got != raw.size()) return {};
  return raw;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Bytes> images;
  for (int i = 1; i < argc; ++i) {
    Bytes raw = FilteredRows(argv[i]);
    if (raw.empty()) {
      std::fprintf(stderr, "png_levels: cannot read %s\n", argv[i]);
      return 1;
    }
    images.push_back(std::move(raw));
  }
  uint64_t raw_total = 0;
  for (const Bytes& raw : images) raw_total += raw.size();
  // Classes of filtered size: icons and thumbnails, small pictures, photos at screen size.
  constexpr size_t kBounds[] = {size_t{64} << 10, size_t{1} << 20, SIZE_MAX};
  const char* const kNames[] = {"under 64 KB", "64 KB to 1 MB", "1 MB and more"};
  std::printf("%zu files, %.1f MB of filtered rows\n", images.size(), double(raw_total) / 1e6);
  std::printf("%-10s", "level");
  for (const char* name : kNames) std::printf("  %25s", name);
  std::printf("\n");
  const auto cpu = [] {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
  };
  // Levels 1 to 12 are libdeflate's; -6 and -8 stand for zlib's 6 and 8.
  for (int level : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, -6, -8}) {
    double seconds[3] = {};
    uint64_t bytes[3] = {}, files[3] = {};
    for (const Bytes& raw : images) {
      const double start = cpu();
      size_t size;
      if (level > 0) {
        // One piece, so the time is the CPU's whatever the core count.
        size = pellavo::png_detail::ZlibCompress(raw, level, SIZE_MAX).size();
      } else {
        Bytes out(compressBound(uLong(raw.size())));
        uLongf n = uLongf(out.size());
        compress2(out.data(), &n, raw.data(), uLong(raw.size()), -level);
        size = n;
      }
      const double t = cpu() - start;
      size_t k = 0;
      while (raw.size() >= kBounds[k]) ++k;
      seconds[k] += t;
      bytes[k] += size;
      ++files[k];
    }
    std::printf("%-10s", (level > 0 ? "libdeflate " + std::to_string(level) : "zlib " + std::to_string(-level)).c_str());
    for (int k = 0; k < 3; ++k)
      std::printf("  %3llu: %7.3f s %9.3f MB", static_cast<unsigned long long>(files[k]), seconds[k], double(bytes[k]) / 1e6);
    std::printf("\n");
  }
  return 0;
}
