#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_metadata.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

std::vector<uint8_t> Numbered(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 31 + seed + (i >> 8));
  return v;
}

std::vector<uint8_t> Compressed(const TImageMetadata& metadata) {
  TJPEGImage jpeg;
  jpeg.SetMetadata(metadata);
  jpeg.Assign(test::MakeBitmap32(8, 8, test::PatternPixel));
  jpeg.Compress();
  return jpeg.Data()->Bytes;
}

// A profile larger than two segments is split and put back together; EXIF and XMP come back as
// they went in; blocks too large for a segment are left out rather than cut.
TEST(JpegMetadata, BlocksRoundTripThroughTheEncoder) {
  TImageMetadata in;
  in.IccProfile = Numbered(150000, 3);
  in.Exif = Numbered(500, 7);
  in.Xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
  const std::vector<uint8_t> file = Compressed(in);
  const TImageMetadata out = ReadJpegMetadata(file.data(), file.size());
  EXPECT_EQ(out.IccProfile, in.IccProfile);
  EXPECT_EQ(out.Exif, in.Exif);
  EXPECT_EQ(out.Xmp, in.Xmp);
  EXPECT_TRUE(out.ProfileProblems.empty());
  EXPECT_EQ(JpegMetadataSegments(in).size(), 5u) << "EXIF, XMP and three profile pieces";

  TImageMetadata huge;
  huge.Exif = Numbered(65528, 1);
  huge.Xmp = std::string(65505, 'x');
  EXPECT_TRUE(JpegMetadataSegments(huge).empty());
  huge.Exif.pop_back();
  huge.Xmp.pop_back();
  EXPECT_EQ(JpegMetadataSegments(huge).size(), 2u);
}

// Profile pieces as files hold them: numbered from 1 with the count of pieces.
TEST(JpegMetadata, ProfileChainsAreCheckedPieceByPiece) {
  const auto with_pieces = [](const std::vector<std::pair<int, int>>& pieces) {
    std::vector<uint8_t> file{0xFF, 0xD8};
    for (const auto& [number, total] : pieces) {
      std::vector<uint8_t> payload{'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, uint8_t(number), uint8_t(total)};
      payload.push_back(uint8_t('a' + number));
      file.insert(file.end(), {0xFF, 0xE2, 0, uint8_t(payload.size() + 2)});
      file.insert(file.end(), payload.begin(), payload.end());
    }
    file.insert(file.end(), {0xFF, 0xD9});
    return file;
  };
  struct TCase {
    const char* name;
    std::vector<std::pair<int, int>> pieces;
    std::string profile;  // empty: a problem instead
  };
  const TCase cases[] = {
      {"in order", {{1, 2}, {2, 2}}, "bc"},
      {"out of order", {{2, 3}, {3, 3}, {1, 3}}, "bcd"},
      {"one missing", {{1, 3}, {3, 3}}, ""},
      {"repeated", {{1, 2}, {1, 2}, {2, 2}}, ""},
      {"counts disagree", {{1, 2}, {2, 3}}, ""},
      {"number past the count", {{1, 1}, {2, 1}}, ""},
      {"number 0", {{0, 1}}, ""},
  };
  for (const TCase& c : cases) {
    const std::vector<uint8_t> file = with_pieces(c.pieces);
    const TImageMetadata m = ReadJpegMetadata(file.data(), file.size());
    EXPECT_EQ(std::string(m.IccProfile.begin(), m.IccProfile.end()), c.profile) << c.name;
    EXPECT_EQ(m.ProfileProblems.size(), c.profile.empty() ? 1u : 0u) << c.name;
  }
}

// A damaged marker structure ends the search with what was found, never reads past the end.
TEST(JpegMetadata, DamagedStructureEndsTheSearch) {
  TImageMetadata in;
  in.Exif = Numbered(40, 2);
  const std::vector<uint8_t> file = Compressed(in);
  for (size_t cut = 0; cut < 80; ++cut) {
    const std::vector<uint8_t> part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
    const TImageMetadata m = ReadJpegMetadata(part.data(), part.size());
    EXPECT_TRUE(m.Exif.empty() || m.Exif == in.Exif) << cut;
  }
  std::vector<uint8_t> bad_length = file;
  bad_length[4] = 0xFF;  // the first segment claims more than the file holds
  EXPECT_TRUE(ReadJpegMetadata(bad_length.data(), bad_length.size()).Exif.empty());
}

}  // namespace
}  // namespace pellavo
