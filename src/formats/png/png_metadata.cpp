#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "core/limits.h"
#include "formats/png/png_object.h"
#include "formats/png/zstream.h"

namespace pellavo {

using namespace png_detail;

namespace {

constexpr std::string_view kXmpKeyword = "XML:com.adobe.xmp";
constexpr std::string_view kProfileName = "ICC Profile";

// A whole zlib stream inflated, or why not.
struct TInflated {
  std::optional<std::vector<uint8_t>> Bytes;  // none when the stream is damaged or too large
  bool TooLarge = false;                      // it would inflate to more than was allowed
};

// Inflates a whole zlib stream of at most max_bytes.
TInflated InflateAll(const uint8_t* data, size_t size, size_t max_bytes) {
  TInflater z;
  std::vector<uint8_t> out(std::min<size_t>(max_bytes, 64 * 1024));
  z->next_in = const_cast<Bytef*>(data);
  z->avail_in = static_cast<uInt>(size);
  size_t produced = 0;
  for (;;) {
    if (produced == out.size()) {
      if (out.size() >= max_bytes) return {std::nullopt, true};
      out.resize(std::min(max_bytes, out.size() * 2));
    }
    z->next_out = out.data() + produced;
    z->avail_out = static_cast<uInt>(out.size() - produced);
    const int rc = inflate(z.get(), Z_NO_FLUSH);
    produced = out.size() - z->avail_out;
    if (rc == Z_STREAM_END) break;
    // Z_BUF_ERROR with input left over cannot happen while there is room; without input the
    // stream ended early.
    if (rc != Z_OK) return {};
  }
  out.resize(produced);
  return {std::move(out)};
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<uint8_t> out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_BEST_COMPRESSION) != Z_OK)
    throw EPNGOutMemory();
  out.resize(size);
  return out;
}

// The position after the zero byte that ends a text field starting at from; none without one.
std::optional<size_t> AfterZero(const std::vector<uint8_t>& data, size_t from) {
  if (from > data.size()) return std::nullopt;
  const auto zero = std::find(data.begin() + static_cast<std::ptrdiff_t>(from), data.end(), uint8_t{0});
  if (zero == data.end()) return std::nullopt;
  return size_t(zero - data.begin()) + 1;
}

// The text of an iTXt chunk with the XMP keyword; none for other keywords or damaged chunks.
std::optional<std::string> XmpOfItxt(const std::vector<uint8_t>& d) {
  const std::optional<size_t> flags = AfterZero(d, 0);
  if (!flags || *flags - 1 != kXmpKeyword.size() || std::memcmp(d.data(), kXmpKeyword.data(), kXmpKeyword.size()) != 0)
    return std::nullopt;
  if (*flags + 2 > d.size()) return std::nullopt;
  const bool compressed = d[*flags] != 0;
  const std::optional<size_t> translated = AfterZero(d, *flags + 2);  // after the language tag
  const std::optional<size_t> text = translated ? AfterZero(d, *translated) : std::nullopt;
  if (!text) return std::nullopt;
  if (!compressed) return std::string(d.begin() + static_cast<std::ptrdiff_t>(*text), d.end());
  if (d[*flags + 1] != 0) return std::nullopt;  // deflate is the only method
  const std::optional<std::vector<uint8_t>> inflated = InflateAll(d.data() + *text, d.size() - *text, kMaxXmpBytes).Bytes;
  if (!inflated) return std::nullopt;
  return std::string(inflated->begin(), inflated->end());
}

}  // namespace

TImageMetadata TPNGObject::EmbeddedMetadata() const {
  TImageMetadata out;
  if (HasHeader() && (Header().ColorType() == COLOR_GRAYSCALE || Header().ColorType() == COLOR_GRAYSCALEALPHA))
    out.Colours = TStoredColours::Gray;
  for (const auto& chunk : chunks_) {
    const std::vector<uint8_t>& d = chunk->Data();
    if (chunk->Name() == "iCCP" && out.IccProfile.empty()) {
      // A profile name, a zero byte, the compression method (0, deflate), the zlib stream.
      const std::optional<size_t> method = AfterZero(d, 0);
      TInflated profile;
      if (method && *method < d.size() && d[*method] == 0)
        profile = InflateAll(d.data() + *method + 1, d.size() - *method - 1, kMaxIccProfileBytes);
      if (profile.Bytes && !profile.Bytes->empty())
        out.IccProfile = std::move(*profile.Bytes);
      else if (profile.TooLarge)
        out.ProfileProblems.emplace_back("the colour profile (iCCP) is larger than " +
                                         std::to_string(kMaxIccProfileBytes >> 20) + " MiB, the most that is read");
      else
        out.ProfileProblems.emplace_back("the colour profile (iCCP) does not inflate");
    } else if (chunk->Name() == "eXIf" && out.Exif.empty()) {
      out.Exif = d;
    } else if (chunk->Name() == "iTXt" && out.Xmp.empty()) {
      if (std::optional<std::string> xmp = XmpOfItxt(d)) out.Xmp = std::move(*xmp);
    }
  }
  return out;
}

void TPNGObject::AddMetadata(const TImageMetadata& metadata) {
  Header();
  std::vector<std::unique_ptr<TChunk>> added;
  const auto add = [&](std::string_view name, std::vector<uint8_t> data) {
    added.push_back(CreateChunk(*this, name));
    added.back()->SetRawData(std::move(data));
  };
  if (!metadata.IccProfile.empty()) {
    std::vector<uint8_t> data(kProfileName.begin(), kProfileName.end());
    data.insert(data.end(), {0, 0});  // end of the name; deflate
    const std::vector<uint8_t> packed = Deflate(metadata.IccProfile);
    data.insert(data.end(), packed.begin(), packed.end());
    add("iCCP", std::move(data));
  }
  if (!metadata.Exif.empty()) add("eXIf", metadata.Exif);
  if (!metadata.Xmp.empty()) {
    std::vector<uint8_t> data(kXmpKeyword.begin(), kXmpKeyword.end());
    // End of the keyword, not compressed, method 0, empty language tag and translated keyword.
    data.insert(data.end(), {0, 0, 0, 0, 0});
    data.insert(data.end(), metadata.Xmp.begin(), metadata.Xmp.end());
    add("iTXt", std::move(data));
  }
  // The profile has to come before PLTE and IDAT; all of them go right after the header.
  const auto after_header = std::find_if(chunks_.begin(), chunks_.end(), [](const auto& c) { return c->Name() == "IHDR"; }) + 1;
  chunks_.insert(after_header, std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
}

}  // namespace pellavo
