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

TDecoded OurDecode(const Bytes& file, unsigned scale_denom, TChunkPool* pool) {
  jpeg_detail::TDecompressor d(file.data(), file.size());
  d.Limit(TDecodeLimits{kDefaultMaxImageBytes, nullptr, pool});
  d.ReadHeader();
  jpeg_decompress_struct& c = d.Info();
  c.scale_denom = scale_denom;
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
  const Bytes file = test::EncodeJpeg(test::MakeBitmap32(640, 480, test::PatternPixel), 90, true);
  TChunkPool pool(8);
  Dirty(pool, 8);

  // Cut inside its scans: the decode fails after the arrays were filled in part.
  const Bytes cut(file.begin(), file.begin() + std::ptrdiff_t(file.size() / 2));
  EXPECT_THROW(OurDecode(cut, 1, &pool), EJPEG);
  EXPECT_EQ(pool.Kept(), 8u);

  // Coefficients larger than the image limit allows are refused before any chunk is taken.
  jpeg_detail::TDecompressor d(file.data(), file.size());
  d.Limit(TDecodeLimits{64 * 1024, nullptr, &pool});
  d.ReadHeader();
  try {
    d.Run([&] { jpeg_start_decompress(&d.Info()); });
    ADD_FAILURE() << "decoded past the limit";
  } catch (const EJPEG& e) {
    EXPECT_STREQ(e.what(), ("JPEG error #" + std::to_string(JERR_NO_BACKING_STORE)).c_str());
  }
  EXPECT_EQ(pool.Kept(), 8u);
}

}  // namespace
}  // namespace pellavo
