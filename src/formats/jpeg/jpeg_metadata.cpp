#include "formats/jpeg/jpeg_metadata.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "formats/output_formats.h"

namespace pellavo {
namespace {

constexpr int kApp1 = 0xE1, kApp2 = 0xE2;
// A segment's length field counts itself: 65535 - 2 bytes of payload at most.
constexpr size_t kMaxSegmentPayload = 65533;

constexpr std::string_view kExifId{"Exif\0\0", 6};
constexpr std::string_view kXmpId{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kIccId{"ICC_PROFILE\0", 12};
// The identifier, then the piece's number (from 1) and the count of pieces.
constexpr size_t kIccHeader = kIccId.size() + 2;

// The capacities the converter plans with are these segments' own.
static_assert(kJpegMetadataCapacity.Exif == kMaxSegmentPayload - kExifId.size());
static_assert(kJpegMetadataCapacity.Xmp == kMaxSegmentPayload - kXmpId.size());
static_assert(kJpegMetadataCapacity.IccProfile == 255 * (kMaxSegmentPayload - kIccHeader));

bool StartsWith(const uint8_t* p, size_t n, std::string_view id) {
  return n >= id.size() && std::memcmp(p, id.data(), id.size()) == 0;
}

}  // namespace

TImageMetadata ReadJpegMetadata(const uint8_t* data, size_t size) {
  TImageMetadata out;
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return out;

  // Pieces of the profile by number; a count of 0 means no piece was seen.
  std::array<std::vector<uint8_t>, 256> pieces;
  std::array<bool, 256> seen{};
  int count = 0;
  bool chain_broken = false;

  size_t pos = 2;
  while (pos + 4 <= size) {
    if (data[pos] != 0xFF) break;  // not a marker where one must be
    while (pos < size && data[pos] == 0xFF) ++pos;  // fill bytes
    if (pos >= size) break;
    const int marker = data[pos++];
    if (marker == 0xD9 || marker == 0xDA) break;  // end of image, start of scan: no more metadata
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // markers without a length
    if (pos + 2 > size) break;
    const size_t length = size_t{data[pos]} << 8 | data[pos + 1];
    if (length < 2 || pos + length > size) break;
    const uint8_t* p = data + pos + 2;
    const size_t n = length - 2;
    pos += length;

    if (marker == kApp1 && StartsWith(p, n, kExifId)) {
      if (out.Exif.empty()) out.Exif.assign(p + kExifId.size(), p + n);
    } else if (marker == kApp1 && StartsWith(p, n, kXmpId)) {
      if (out.Xmp.empty()) out.Xmp.assign(reinterpret_cast<const char*>(p) + kXmpId.size(), n - kXmpId.size());
    } else if (marker == kApp2 && StartsWith(p, n, kIccId)) {
      if (n < kIccHeader) {
        chain_broken = true;
        continue;
      }
      const int number = p[kIccId.size()], total = p[kIccId.size() + 1];
      if (number == 0 || total == 0 || number > total || (count != 0 && total != count) || seen[size_t(number)]) {
        chain_broken = true;
        continue;
      }
      count = total;
      seen[size_t(number)] = true;
      pieces[size_t(number)].assign(p + kIccHeader, p + n);
    }
  }

  if (count > 0 || chain_broken) {
    bool complete = !chain_broken;
    for (int i = 1; i <= count && complete; ++i) complete = seen[size_t(i)];
    if (complete) {
      for (int i = 1; i <= count; ++i)
        out.IccProfile.insert(out.IccProfile.end(), pieces[size_t(i)].begin(), pieces[size_t(i)].end());
    } else {
      out.ProfileProblems.emplace_back("the colour profile's APP2 segments are incomplete or out of order");
    }
  }
  return out;
}

std::vector<TJpegSegment> JpegMetadataSegments(const TImageMetadata& metadata) {
  std::vector<TJpegSegment> out;
  const auto with_id = [](std::string_view id, const uint8_t* p, size_t n) {
    std::vector<uint8_t> payload(id.begin(), id.end());
    payload.insert(payload.end(), p, p + n);
    return payload;
  };
  if (!metadata.Exif.empty() && kExifId.size() + metadata.Exif.size() <= kMaxSegmentPayload)
    out.push_back({kApp1, with_id(kExifId, metadata.Exif.data(), metadata.Exif.size())});
  if (!metadata.Xmp.empty() && kXmpId.size() + metadata.Xmp.size() <= kMaxSegmentPayload)
    out.push_back({kApp1, with_id(kXmpId, reinterpret_cast<const uint8_t*>(metadata.Xmp.data()), metadata.Xmp.size())});

  const std::vector<uint8_t>& icc = metadata.IccProfile;
  constexpr size_t kPiece = kMaxSegmentPayload - kIccHeader;
  const size_t total = (icc.size() + kPiece - 1) / kPiece;
  if (!icc.empty() && total <= 255) {
    for (size_t i = 0; i < total; ++i) {
      const size_t start = i * kPiece, n = std::min(kPiece, icc.size() - start);
      std::vector<uint8_t> payload = with_id(kIccId, nullptr, 0);
      payload.push_back(static_cast<uint8_t>(i + 1));
      payload.push_back(static_cast<uint8_t>(total));
      payload.insert(payload.end(), icc.begin() + static_cast<std::ptrdiff_t>(start),
                     icc.begin() + static_cast<std::ptrdiff_t>(start + n));
      out.push_back({kApp2, std::move(payload)});
    }
  }
  return out;
}

}  // namespace pellavo
