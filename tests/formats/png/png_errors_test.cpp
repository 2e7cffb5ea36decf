// Every way a file can be refused, each shown by a small crafted file, with the exact text.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <functional>
#include <random>
#include <typeindex>

#include "formats/png/png_builder.h"
#include "formats/png/png_object.h"

namespace pellavo {
namespace {

using namespace test;

const char* const kInvalidHeader =
    "The file being readed is not a valid \"Portable Network Graphics\" image because it contains an invalid "
    "header. This file may be corruped, try obtaining it again.";
const char* const kUnexpectedEnd =
    "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected end of the file.";
const char* const kIhdrNotFirst =
    "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n(IHDR chunk is not the "
    "first)";
const char* const kUnknownCritical =
    "This \"Portable Network Graphics\" image contains an unknown critical part which could not be decoded.";
const char* const kInvalidCrc =
    "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of data (crc error)";
const char* const kInvalidIhdr =
    "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of data (ihdr) "
    "might be corrupted";
const char* const kSizeExceeds =
    "This \"Portable Network Graphics\" image is not supported because either it's width or height exceeds the "
    "maximum size, which is 65535 pixels length.";
const char* const kUnknownCompression =
    "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which could not be "
    "decoded.";
const char* const kUnknownInterlace =
    "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be decoded.";
const char* const kMissingParts = "This \"Portable Network Graphics\" image is invalid because it has missing image parts.";
const char* const kNoData = "This \"Portable Network Graphics\" image contains no data.";
const char* const kInvalidPalette = "The \"Portable Network Graphics\" image contains an invalid palette.";
const char* const kOutMemory =
    "Some operation could not be performed because the system is out of resources. Close some windows and try "
    "again.";
const char* const kZlibData =
    "Could not decompress the image because it contains invalid compressed data.\r\n Description: data error (-3)";

// A valid 2 x 2 8-bit gray image and its parts.
const TBytes kHeader = Ihdr(2, 2, 8, 0);
const TBytes kRows = {0, 10, 20, 0, 30, 40};
const TBytes kIdat = Chunk("IDAT", Deflate(kRows));
const TBytes kEnd = Chunk("IEND", {});

TBytes Cut(TBytes b, size_t keep) {
  b.resize(keep);
  return b;
}

TBytes FlipByte(TBytes b, size_t at) {
  b[at] ^= 0x01;
  return b;
}

TBytes Repeat(uint8_t v, size_t n) { return TBytes(n, v); }

TBytes SetByte(TBytes b, size_t at, uint8_t v) {
  b[at] = v;
  return b;
}

TEST(PngErrors, CraftedFilesRaiseTheirErrorWithItsText) {
  const TBytes valid = Png({kHeader, kIdat, kEnd});
  const TBytes packed = Deflate(kRows);
  const TBytes palette_image_rows = Deflate({0, 0, 1, 0, 1, 0});
  struct TCase {
    const char* Name;
    TBytes File;
    std::type_index Type;
    const char* Text;
  } cases[] = {
      {"wrong signature", FlipByte(valid, 1), typeid(EPNGInvalidFileHeader), kInvalidHeader},
      {"shorter than a signature", Cut(valid, 5), typeid(EPNGInvalidFileHeader), kInvalidHeader},
      {"IHDR not first", Png({Chunk("gAMA", {0, 0, 0xB1, 0x8F}), kHeader, kIdat, kEnd}), typeid(EPNGIHDRNotFirst),
       kIhdrNotFirst},
      {"bad CRC on IHDR", FlipByte(valid, 8 + 8 + 13), typeid(EPngInvalidCRC), kInvalidCrc},
      {"bad CRC on IDAT", FlipByte(valid, 8 + 25 + kIdat.size() - 1), typeid(EPngInvalidCRC), kInvalidCrc},
      {"bad CRC on IEND", FlipByte(valid, valid.size() - 1), typeid(EPngInvalidCRC), kInvalidCrc},
      {"ends inside a chunk length", Cut(valid, 8 + 25 + 2), typeid(EPngUnexpectedEnd), kUnexpectedEnd},
      {"ends inside the image data", Cut(valid, 8 + 25 + 10), typeid(EPngUnexpectedEnd), kUnexpectedEnd},
      {"no IEND", Cut(valid, valid.size() - 12), typeid(EPngUnexpectedEnd), kUnexpectedEnd},
      // The length of the chunk after the header set to 127, beyond the file's end.
      {"chunk longer than the file", SetByte(Png({kHeader, Chunk("tEXt", {}), kEnd}), 8 + 25 + 3, 0x7F),
       typeid(EPngUnexpectedEnd), kUnexpectedEnd},
      {"IHDR of 12 bytes", Png({Chunk("IHDR", TBytes(kHeader.begin() + 8, kHeader.begin() + 20)), kIdat, kEnd}),
       typeid(EPngInvalidIHDR), kInvalidIhdr},
      {"width 65536", Png({Ihdr(65536, 2, 8, 0), kIdat, kEnd}), typeid(EPNGSizeExceeds), kSizeExceeds},
      {"height 65536", Png({Ihdr(2, 65536, 8, 0), kIdat, kEnd}), typeid(EPNGSizeExceeds), kSizeExceeds},
      {"width with the top bit set", Png({Ihdr(0x80000002u, 2, 8, 0), kIdat, kEnd}), typeid(EPNGSizeExceeds),
       kSizeExceeds},
      {"compression method 1",
       Png({Chunk("IHDR", {0, 0, 0, 2, 0, 0, 0, 2, 8, 0, 1, 0, 0}), kIdat, kEnd}), typeid(EPNGUnknownCompression),
       kUnknownCompression},
      {"interlace method 2", Png({Ihdr(2, 2, 8, 0, 2), kIdat, kEnd}), typeid(EPNGUnknownInterlace), kUnknownInterlace},
      {"width 0", Png({Ihdr(0, 2, 8, 0), kIdat, kEnd}), typeid(EPngInvalidIHDR), kInvalidIhdr},
      {"RGB of depth 4", Png({Ihdr(2, 2, 4, 2), kIdat, kEnd}), typeid(EPngInvalidIHDR), kInvalidIhdr},
      {"colour type 5", Png({Ihdr(2, 2, 8, 5), kIdat, kEnd}), typeid(EPngInvalidIHDR), kInvalidIhdr},
      {"filter method 1", Png({Chunk("IHDR", {0, 0, 0, 2, 0, 0, 0, 2, 8, 0, 0, 1, 0}), kIdat, kEnd}),
       typeid(EPngInvalidIHDR), kInvalidIhdr},
      {"a second IHDR", Png({kHeader, kHeader, kIdat, kEnd}), typeid(EPngInvalidIHDR), kInvalidIhdr},
      {"unknown critical chunk", Png({kHeader, Chunk("ABCD", {1, 2}), kIdat, kEnd}),
       typeid(EPNGUnknownCriticalChunk), kUnknownCritical},
      {"chunk name that is no letters", Png({kHeader, Chunk(std::string("\0\0\0\0", 4), {}), kIdat, kEnd}),
       typeid(EPNGUnknownCriticalChunk), kUnknownCritical},
      {"missing IDAT", Png({kHeader, kEnd}), typeid(EPNGNoImageData), kNoData},
      {"image data continues in another chunk",
       Png({kHeader, Chunk("IDAT", TBytes(packed.begin(), packed.begin() + 4)),
            Chunk("tEXt", TBytes(packed.begin() + 4, packed.end())), kEnd}),
       typeid(EPNGMissingMultipleIDAT), kMissingParts},
      {"compressed data ends before the last row", Png({kHeader, Chunk("IDAT", Deflate({0, 10, 20})), kEnd}),
       typeid(EPNGMissingMultipleIDAT), kMissingParts},
      {"not zlib data", Png({kHeader, Chunk("IDAT", {0x12, 0x34, 0x56, 0x78, 0x9A}), kEnd}), typeid(EPNGZLIBError),
       kZlibData},
      {"zlib data asking for a dictionary", Png({kHeader, Chunk("IDAT", {0x78, 0xBB, 0, 0, 0, 1, 3, 0}), kEnd}),
       typeid(EPNGZLIBError), kZlibData},
      {"unknown row filter type", Png({kHeader, Chunk("IDAT", Deflate({0, 10, 20, 5, 30, 40})), kEnd}),
       typeid(EPNGZLIBError), kZlibData},
      {"palette of 4 bytes", Png({Ihdr(2, 2, 8, 3), Chunk("PLTE", {1, 2, 3, 4}), kIdat, kEnd}),
       typeid(EPNGInvalidPalette), kInvalidPalette},
      {"palette of 257 entries", Png({Ihdr(2, 2, 8, 3), Chunk("PLTE", Repeat(7, 257 * 3)), kIdat, kEnd}),
       typeid(EPNGInvalidPalette), kInvalidPalette},
      {"empty palette", Png({Ihdr(2, 2, 8, 3), Chunk("PLTE", {}), kIdat, kEnd}), typeid(EPNGInvalidPalette),
       kInvalidPalette},
      {"transparency of 257 bytes",
       Png({Ihdr(2, 2, 8, 3), Chunk("PLTE", Repeat(7, 6)), Chunk("tRNS", Repeat(0, 257)), kIdat, kEnd}),
       typeid(EPNGInvalidPalette), kInvalidPalette},
      {"palette image without a palette", Png({Ihdr(2, 2, 8, 3), Chunk("IDAT", palette_image_rows), kEnd}),
       typeid(EPNGInvalidPalette), kInvalidPalette},
      {"header too large to hold", Png({Ihdr(65535, 65535, 16, 6), kIdat, kEnd}), typeid(EPNGOutMemory), kOutMemory},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TPNGObject png;
    try {
      Load(png, c.File);
      ADD_FAILURE() << "loaded";
    } catch (const EPngError& e) {
      EXPECT_EQ(std::type_index(typeid(e)), c.Type) << typeid(e).name();
      EXPECT_STREQ(e.what(), c.Text);
    }
  }
  // The same file, unbroken, loads.
  TPNGObject png;
  EXPECT_NO_THROW(Load(png, valid));
}

TEST(PngErrors, ZlibErrorNamesTheLibrarysCode) {
  const std::pair<int, const char*> codes[] = {{-6, "incompatible version (-6)"}, {-5, "buffer error (-5)"},
                                               {-4, "insufficient memory (-4)"},  {-3, "data error (-3)"},
                                               {-2, "stream error (-2)"},         {-1, "file error (-1)"}};
  for (const auto& [code, description] : codes)
    EXPECT_EQ(EPNGZLIBError(code).what(),
              std::string("Could not decompress the image because it contains invalid compressed data.\r\n "
                          "Description: ") +
                  description);
}

// A few hundred bytes claiming a 65535 x 65535 image: what is allocated follows the data, not
// the header, and the missing rows are reported.
TEST(PngErrors, HugeHeaderWithLittleDataCostsLittleMemory) {
  // Past the image limit, which refuses such a header by default, the image data still costs no
  // more than it inflates to.
  const TBytes file = Png({Ihdr(65535, 65535, 8, 0), Chunk("IDAT", Deflate(TBytes(1 << 20, 0), 9)), kEnd});
  ASSERT_LT(file.size(), 4096u);
  TPNGObject png;
  png.SetDecodeLimits(TDecodeLimits{UINT64_MAX});
  EXPECT_THROW(Load(png, file), EPNGMissingMultipleIDAT);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  EXPECT_LT(usage.ru_maxrss, 512 * 1024) << "peak resident set in KiB";
}

// Damaged copies of real files, their CRCs made right again so that the damage reaches the
// chunk contents: each loads or fails with a PNG error, and what loads can be drawn and saved.
TEST(PngErrors, DamagedFilesFailOnlyWithPngErrors) {
  std::mt19937 rng(2024);
  int loaded = 0, refused = 0;
  for (const char* name : {"basn0g02", "basn3p04", "basn6a16", "ibasn2c08", "ftbbn3p08", "iftbwn0g16"}) {
    const TBytes original = ReadFile(std::string("tests/data/png/pngsuite/") + name + ".png");
    for (int round = 0; round < 300; ++round) {
      std::vector<TRawChunk> chunks = ParseChunks(original);
      TRawChunk& victim = chunks[rng() % chunks.size()];
      if (victim.Data.empty() || rng() % 4 == 0) {
        victim.Data.resize(rng() % 40);  // truncated or grown
      } else {
        for (int i = 1 + int(rng() % 3); i > 0; --i) victim.Data[rng() % victim.Data.size()] = uint8_t(rng());
      }
      std::vector<TBytes> parts;
      for (const TRawChunk& c : chunks) parts.push_back(Chunk(c.Name, c.Data));
      TPNGObject png;
      try {
        Load(png, Png(parts));
        ++loaded;
      } catch (const EPngError&) {
        ++refused;
        continue;
      }
      std::vector<TColor32> target(40 * 40);
      png.Draw({target.data(), 40, 40}, {0, 0, 40, 40});
      TPNGObject again;
      Load(again, Save(png));
      EXPECT_EQ(again.Width(), png.Width());
    }
  }
  // Both outcomes occur, so the damage reached past the checks and into the decoder.
  EXPECT_GT(loaded, 0);
  EXPECT_GT(refused, 0);
}

TEST(PngErrors, OperationsThatNeedAHeader) {
  TPNGObject png;
  TMemoryStream out;
  EXPECT_THROW(png.SaveToStream(out), EPNGHeaderNotPresent);
  EXPECT_THROW(png.Resize(4, 4), EPNGHeaderNotPresent);
  EXPECT_STREQ(EPNGHeaderNotPresent().what(),
               "This operation is not valid because the current image contains no valid header.");
  EXPECT_TRUE(png.Empty());
  EXPECT_EQ(png.Width(), 0);
}

}  // namespace
}  // namespace pellavo
