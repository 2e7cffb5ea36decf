#include "support/picture_file.h"

#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/decode_limits.h"
#include "core/errors.h"
#include "core/stream.h"
#include "formats/all/standard_formats.h"
#include "formats/bmp/bitmap.h"
#include "formats/picture.h"
#include "raster/bitmap32.h"

namespace pellavo::fuzz {
namespace {

// The round trip exercises the writer, which is the same for every image; beyond this many
// pixels it costs more time than it finds.
constexpr int64_t kMaxRoundTripPixels = int64_t{1} << 12;

// A few bytes may rightly decode to an image near the default limit (a lossless WebP of one
// repeated symbol: 36 bytes for 16144 x 7000 pixels), which under the sanitizers takes minutes
// and stalls the search. A smaller limit keeps each input quick and still reaches every check.
constexpr uint64_t kFuzzMaxImageBytes = uint64_t{64} << 20;

// One input file per process, in a private folder that goes when the process ends normally.
class TInputFile {
 public:
  explicit TInputFile(std::string_view ext) {
    std::string pattern = (std::filesystem::temp_directory_path() / "pellavo-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    folder_ = pattern;
    path_ = folder_ + "/input." + std::string(ext);
  }
  ~TInputFile() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;

  const std::string& Write(const uint8_t* data, size_t size) const {
    FILE* f = std::fopen(path_.c_str(), "wb");
    if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) std::abort();
    return path_;
  }

 private:
  std::string folder_;
  std::string path_;
};

void RoundTripThroughBmp(const TBitmap32& surface) {
  TBitmap out;
  surface.AssignTo(out);
  TMemoryStream stream;
  out.SaveToStream(stream);
  stream.Seek(0);
  TBitmap back;
  back.LoadFromStream(stream);  // what we wrote must read back
  TBitmap32 again;
  again.Assign(back);
  if (again.Width() != surface.Width() || again.Height() != surface.Height()) __builtin_trap();
  const size_t row = size_t(surface.Width()) * sizeof(TColor32);
  for (int32_t y = 0; y < surface.Height(); ++y)
    if (std::memcmp(again.ScanLine(y), surface.ScanLine(y), row) != 0) __builtin_trap();
}

}  // namespace

void ReadPictureFile(const uint8_t* data, size_t size, std::string_view ext) {
  static const TInputFile input(ext);
  RegisterStandardFormats();
  const std::string& path = input.Write(data, size);

  TPicture picture;
  try {
    picture.ReadFromFile(path, TDecodeLimits{kFuzzMaxImageBytes});
  } catch (const Exception&) {
    return;
  }
  TBitmap32 surface;
  try {
    surface.Assign(picture);
  } catch (const Exception&) {
    return;  // a surface too large for memory, or a format that decodes only when drawn
  }
  if (surface.Width() != picture.Width() || surface.Height() != picture.Height()) __builtin_trap();
  // An empty surface may still claim 2^31 rows of nothing; there is nothing to compare.
  if (!surface.Empty() && int64_t{surface.Width()} * surface.Height() <= kMaxRoundTripPixels)
    RoundTripThroughBmp(surface);
}

}  // namespace pellavo::fuzz
