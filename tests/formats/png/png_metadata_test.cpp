#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/png/png_builder.h"
#include "formats/png/png_object.h"
#include "support/images.h"

namespace pellavo {
namespace {

using test::TBytes;

// The blocks go in right after the header, the profile compressed, and come back unchanged.
TEST(PngMetadata, BlocksRoundTripRightAfterTheHeader) {
  TImageMetadata in;
  in.IccProfile.resize(70000);
  for (size_t i = 0; i < in.IccProfile.size(); ++i) in.IccProfile[i] = uint8_t(i * 7 + (i >> 9));
  in.Exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0};
  in.Xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
  TPNGObject png;
  png.Assign(test::MakeBitmap32(4, 3, test::PatternPixel));
  png.AddMetadata(in);
  const TBytes file = test::Save(png);
  const std::vector<test::TRawChunk> chunks = test::ParseChunks(file);
  ASSERT_GE(chunks.size(), 6u);
  EXPECT_EQ(chunks[0].Name, "IHDR");
  EXPECT_EQ(chunks[1].Name, "iCCP");
  EXPECT_EQ(chunks[2].Name, "eXIf");
  EXPECT_EQ(chunks[3].Name, "iTXt");
  // Read with an inflater of the tests' own: a name, its zero, method 0, the zlib stream.
  const TBytes& iccp = chunks[1].Data;
  EXPECT_EQ(test::Inflate(TBytes(iccp.begin() + 13, iccp.end())), in.IccProfile);

  TPNGObject back;
  test::Load(back, file);
  const TImageMetadata out = back.EmbeddedMetadata();
  EXPECT_EQ(out.IccProfile, in.IccProfile);
  EXPECT_EQ(out.Exif, in.Exif);
  EXPECT_EQ(out.Xmp, in.Xmp);
  EXPECT_TRUE(out.ProfileProblems.empty());
}

// A profile that does not inflate to a whole, bounded stream is a problem, never a profile; a
// compressed XMP text is read.
TEST(PngMetadata, HostileChunksGiveProblemsNotBlocks) {
  const TBytes profile(300, 0x5A);
  const auto iccp = [](uint8_t method, const TBytes& stream) {
    TBytes d{'p', 0, method};
    d.insert(d.end(), stream.begin(), stream.end());
    return d;
  };
  TBytes truncated = test::Deflate(profile);
  truncated.resize(truncated.size() / 2);
  struct TCase {
    const char* name;
    TBytes data;
    bool readable;
  };
  const TCase cases[] = {
      {"whole", iccp(0, test::Deflate(profile)), true},
      {"unknown method", iccp(1, test::Deflate(profile)), false},
      {"not zlib", iccp(0, TBytes(40, 0xEE)), false},
      {"cut short", iccp(0, truncated), false},
      // 17 MB of zeros deflate to about 17 KB: past the bound on profiles.
      {"bomb", iccp(0, test::Deflate(TBytes(size_t{17} << 20, 0), 9)), false},
      {"no name end", TBytes{'p', 'q'}, false},
  };
  for (const TCase& c : cases) {
    TPNGObject png;
    test::Load(png, test::Png({test::Ihdr(1, 1, 8, 2), test::Chunk("iCCP", c.data),
                               test::Chunk("IDAT", test::Deflate({0, 1, 2, 3})), test::Chunk("IEND", {})}));
    const TImageMetadata m = png.EmbeddedMetadata();
    EXPECT_EQ(m.IccProfile.empty(), !c.readable) << c.name;
    EXPECT_EQ(m.ProfileProblems.size(), c.readable ? 0u : 1u) << c.name;
  }

  const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";
  TBytes itxt{'X', 'M', 'L', ':', 'c', 'o', 'm', '.', 'a', 'd', 'o', 'b', 'e', '.', 'x', 'm', 'p', 0, 1, 0, 0, 0};
  const TBytes packed = test::Deflate(TBytes(xmp.begin(), xmp.end()));
  itxt.insert(itxt.end(), packed.begin(), packed.end());
  TPNGObject png;
  test::Load(png, test::Png({test::Ihdr(1, 1, 8, 2), test::Chunk("iTXt", itxt),
                             test::Chunk("IDAT", test::Deflate({0, 1, 2, 3})), test::Chunk("IEND", {})}));
  EXPECT_EQ(png.EmbeddedMetadata().Xmp, xmp);
}

}  // namespace
}  // namespace pellavo
