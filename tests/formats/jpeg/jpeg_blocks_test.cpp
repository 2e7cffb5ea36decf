#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <jerror.h>

#include "core/chunk_pool.h"
#include "core/decode_limits.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_encode.h"
#include "formats/jpeg/jpeg_lib.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using Bytes = std::vector<uint8_t>;

// Decoded samples, as the library hands them out.
struct TDecoded {
  JDIMENSION width = 0, height = 0;
  Bytes samples;
};

// The reference: the library alone, with its own coefficient arrays.
TDecoded LibraryDecode(const Bytes& file, unsigned scale_denom) {
  jpeg_decompress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_decompress(&c);
  jpeg_mem_src(&c, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&c, TRUE);
  c.scale_denom = scale_denom;
  jpeg_start_decompress(&c);
  TDecoded d{c.output_width, c.output_height, Bytes(size_t(c.output_width) * c.output_height * c.output_components)};
  while (c.output_scanline < c.output_height) {
    JSAMPROW row = d.samples.data() + size_t(c.output_scanline) * c.output_width * c.output_components;
    jpeg_read_scanlines(&c, &row, 1);
  }
  jpeg_finish_decompress(&c);
  jpeg_destroy_decompress(&c);
  return d;
}

TDecoded OurDecode(const Bytes& file, unsigned scale_denom, TChunkPool* pool,
                   uint64_t max_image_bytes = kDefaultMaxImageBytes) {
  jpeg_detail::TDecompressor d(file.data(), file.size());
  d.ReadHeader();
  jpeg_decompress_struct& c = d.Info();
  c.scale_denom = scale_denom;
  d.Run([&] { jpeg_calc_output_dimensions(&c); });
  d.Limit(TDecodeLimits{max_image_bytes, nullptr, pool});
  TDecoded out;
  d.Run([&] { jpeg_start_decompress(&c); });
  out = {c.output_width, c.output_height, Bytes(size_t(c.output_width) * c.output_height * c.output_components)};
  while (c.output_scanline < c.output_height) {
    JSAMPROW row = out.samples.data() + size_t(c.output_scanline) * c.output_width * c.output_components;
    d.Run([&] { jpeg_read_scanlines(&c, &row, 1); });
  }
  d.Run([&] { jpeg_finish_decompress(&c); });
  return out;
}

// A pool whose kept chunks hold what an earlier file left in them.
void Dirty(TChunkPool& pool, size_t chunks) {
  std::vector<void*> taken;
  for (size_t i = 0; i < chunks; ++i) taken.push_back(pool.Take());
  for (void* chunk : taken) {
    std::memset(chunk, 0xA5, TChunkPool::kChunkBytes);
    pool.Give(chunk);
  }
}

TEST(JpegBlocks, MultiScanFilesDecodeAsWithTheLibrarysOwnArrays) {
  // 2048 pixels wide: a row of luma blocks is 32 KB, so the luma of 1200 rows spans three chunks.
  const Bytes wide = test::EncodeJpeg(test::MakeBitmap32(2048, 1200, test::PatternPixel), 90, true);
  const Bytes gray = test::EncodeJpeg(test::MakeBitmap32(301, 77, test::PatternPixel), 80, true, true);
  const Bytes other = test::ReadBytes("tests/data/jpeg/progressive-with-comment.jpg");
  const Bytes baseline = test::EncodeJpeg(test::MakeBitmap32(99, 41, test::PatternPixel));
  struct Case {
    const char* name;
    const Bytes* file;
  };
  for (const Case& c : {Case{"wide, 4:2:0", &wide}, Case{"grey", &gray}, Case{"other encoder", &other},
                        Case{"baseline", &baseline}}) {
    for (unsigned denom : {1u, 8u}) {
      for (bool dirty_pool : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + ", 1/" + std::to_string(denom) + (dirty_pool ? ", dirty pool" : ""));
        TChunkPool pool(8);
        if (dirty_pool) Dirty(pool, 8);
        const TDecoded want = LibraryDecode(*c.file, denom);
        const TDecoded got = OurDecode(*c.file, denom, dirty_pool ? &pool : nullptr);
        EXPECT_EQ(got.width, want.width);
        EXPECT_EQ(got.height, want.height);
        EXPECT_TRUE(got.samples == want.samples);
        // Every chunk the decode took is back.
        EXPECT_EQ(pool.Kept(), dirty_pool ? 8u : 0u);
      }
    }
  }
}

TEST(JpegBlocks, ChunksComeBackWhenTheDecodeFailsAndTheLimitHolds) {
  const Bytes file = test::EncodeJpeg(test::MakeBitmap32(1280, 960, test::PatternPixel), 90, true);
  TChunkPool pool(8);
  Dirty(pool, 8);

  // Cut inside its scans: the decode fails after the arrays were filled in part.
  const Bytes cut(file.begin(), file.begin() + std::ptrdiff_t(file.size() / 2));
  EXPECT_THROW(OurDecode(cut, 1, &pool), EJPEG);
  EXPECT_EQ(pool.Kept(), 8u);

  // A coefficient buffer over the limit, for an image whose decoded size is over it too, is
  // refused in words before any chunk is taken.
  try {
    OurDecode(file, 2, &pool, 1 << 20);
    ADD_FAILURE() << "decoded past the limit";
  } catch (const EImageTooLarge& e) {
    EXPECT_STREQ(e.what(), "progressive JPEG needs 4 MB of coefficient memory; the limit is 1 MB");
  }
  EXPECT_EQ(pool.Kept(), 8u);
}

TEST(JpegBlocks, TheImageLimitMeasuresTheImageNotTheCoefficients) {
  // Three full-size components keep six bytes of coefficients a pixel: 1.5 MB for an image that
  // decodes to exactly 1 MB.
  const int w = 512, h = 512;
  std::vector<uint8_t> rgb(size_t(w) * h * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 7 / 3 + i / 1536);
  const Bytes file = test::EncodeJpegRgb(w, h, rgb, {.progressive = true});
  // 4:2:0 keeps three bytes a pixel: 768 KB.
  const Bytes subsampled = test::EncodeJpegRgb(w, h, rgb, {.luma_h = 2, .luma_v = 2, .progressive = true});
  const Bytes bigger = test::EncodeJpegRgb(1024, 1024, Bytes(size_t(1024) * 1024 * 3, 128), {.progressive = true});
  struct Case {
    const char* name;
    const Bytes* file;
    unsigned denom;
    uint64_t limit;
    const char* refusal;  // nullptr: decodes as the library does
  };
  const Case cases[] = {
      {"decoded size at the limit, full scale", &file, 1, 1 << 20, nullptr},
      {"decoded size at the limit, a half", &file, 2, 1 << 20, nullptr},
      {"decoded size over the limit, coefficients within it", &subsampled, 2, 800 << 10, nullptr},
      {"decoded size and coefficients over the limit", &bigger, 2, 2 << 20,
       "progressive JPEG needs 6 MB of coefficient memory; the limit is 2 MB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      const TDecoded got = OurDecode(*c.file, c.denom, nullptr, c.limit);
      EXPECT_EQ(c.refusal, nullptr);
      EXPECT_TRUE(got.samples == LibraryDecode(*c.file, c.denom).samples);
    } catch (const EImageTooLarge& e) {
      EXPECT_STREQ(e.what(), c.refusal ? c.refusal : "(decodes)");
    }
  }
}

}  // namespace
}  // namespace pellavo
