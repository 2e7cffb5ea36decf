#include "formats/heif/heif_image.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/decode_limits.h"
#include "formats/image_metadata.h"

namespace pellavo {
namespace {

constexpr const char* kInvalid = "HEIF image is not valid: ";

struct TContextDeleter {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct THandleDeleter {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct TImageDeleter {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct TOptionsDeleter {
  void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

void Check(const heif_error& error) {
  if (error.code != heif_error_Ok) throw EHeifError(kInvalid + std::string(error.message ? error.message : "unknown error"));
}

// The library decodes a grid image at the size its grid says, which need not be the size the
// image says it has: a few hundred bytes can ask for gigabytes. Its limit on either side is set
// from the checked size, with room for a crop window and whole tiles.
void LimitDecodedSides(heif_context& context, int width, int height) {
  constexpr int kLeastLimit = 4096;
  heif_context_set_maximum_image_size_limit(&context, std::max(kLeastLimit, 2 * std::max(width, height)));
}

// The primary image's ICC profile, empty when it has none (or only colour signalling, which
// the library applies while it converts to RGB).
std::vector<uint8_t> IccProfile(const heif_image_handle& handle) {
  const heif_color_profile_type type = heif_image_handle_get_color_profile_type(&handle);
  if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC) return {};
  std::vector<uint8_t> icc(heif_image_handle_get_raw_color_profile_size(&handle));
  if (icc.empty() || heif_image_handle_get_raw_color_profile(&handle, icc.data()).code != heif_error_Ok) return {};
  return icc;
}

// The first metadata block of a type ("Exif", "mime") and, for "mime", of a content type.
std::vector<uint8_t> MetadataBlock(const heif_image_handle& handle, const char* type, const char* content_type) {
  const int count = heif_image_handle_get_number_of_metadata_blocks(&handle, type);
  if (count <= 0) return {};
  std::vector<heif_item_id> ids(static_cast<size_t>(count));
  heif_image_handle_get_list_of_metadata_block_IDs(&handle, type, ids.data(), count);
  for (const heif_item_id id : ids) {
    if (content_type) {
      const char* ct = heif_image_handle_get_metadata_content_type(&handle, id);
      if (!ct || std::string(ct) != content_type) continue;
    }
    std::vector<uint8_t> block(heif_image_handle_get_metadata_size(&handle, id));
    if (block.empty() || heif_image_handle_get_metadata(&handle, id, block.data()).code != heif_error_Ok) continue;
    return block;
  }
  return {};
}

// An EXIF item starts with the big-endian offset of its TIFF header from the end of that field.
std::vector<uint8_t> ExifOf(const heif_image_handle& handle) {
  const std::vector<uint8_t> item = MetadataBlock(handle, "Exif", nullptr);
  if (item.size() < 4) return {};
  const uint64_t offset = (uint64_t{item[0]} << 24) | (uint64_t{item[1]} << 16) | (uint64_t{item[2]} << 8) | item[3];
  if (offset > item.size() - 4) return {};
  return ExifFromPayload(item.data() + 4 + offset, item.size() - 4 - size_t(offset));
}

// Whether the file's 'meta' box holds a rotation ('irot') or mirroring ('imir') property. Both
// are 9-byte boxes, so their size and type together mark them; the library does not say whether
// it applied any.
bool HasOwnTransformations(const std::vector<uint8_t>& bytes) {
  const auto be32 = [&](size_t at) {
    return (uint64_t{bytes[at]} << 24) | (uint64_t{bytes[at + 1]} << 16) | (uint64_t{bytes[at + 2]} << 8) | bytes[at + 3];
  };
  size_t at = 0;
  while (bytes.size() - at >= 8) {
    uint64_t size = be32(at);
    size_t header = 8;
    if (size == 1) {
      if (bytes.size() - at < 16) return false;
      size = (be32(at + 8) << 32) | be32(at + 12);
      header = 16;
    } else if (size == 0) {
      size = bytes.size() - at;
    }
    if (size < header || size > bytes.size() - at) return false;
    if (std::memcmp(&bytes[at + 4], "meta", 4) == 0) {
      const auto first = bytes.begin() + std::ptrdiff_t(at + header), last = bytes.begin() + std::ptrdiff_t(at + size);
      for (const char* type : {"irot", "imir"}) {
        const uint8_t box[8] = {0, 0, 0, 9, uint8_t(type[0]), uint8_t(type[1]), uint8_t(type[2]), uint8_t(type[3])};
        if (std::search(first, last, std::begin(box), std::end(box)) != last) return true;
      }
      return false;
    }
    at += size_t(size);
  }
  return false;
}

TImageMetadata MetadataOf(const heif_image_handle& handle) {
  TImageMetadata m;
  m.IccProfile = IccProfile(handle);
  // A monochrome image has no chroma planes; its pixels come out grey in all three bytes.
  if (heif_image_handle_get_chroma_bits_per_pixel(&handle) <= 0) m.Colours = TStoredColours::Gray;
  m.Exif = ExifOf(handle);
  const std::vector<uint8_t> xmp = MetadataBlock(handle, "mime", "application/rdf+xml");
  m.Xmp.assign(xmp.begin(), xmp.end());
  return m;
}

}  // namespace

PELLAVO_DEFINE_GRAPHIC(THeifImage, TBitmap)

void THeifImage::LoadFromStream(TStream& stream) {
  const std::vector<uint8_t> bytes = stream.ReadToEnd();
  std::unique_ptr<heif_context, TContextDeleter> context(heif_context_alloc());
  if (!context) throw EHeifError("HEIF decoder cannot be created");
  // Tiles decode on this thread: the run's core gate already gave this file its one turn, and
  // libheif's own tile threads would take cores the other files hold.
  heif_context_set_max_decoding_threads(context.get(), 0);
  Check(heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr));
  heif_image_handle* raw_handle = nullptr;
  Check(heif_context_get_primary_image_handle(context.get(), &raw_handle));
  std::unique_ptr<heif_image_handle, THandleDeleter> handle(raw_handle);
  // The size the image has once its transformations are applied.
  const int claimed_width = heif_image_handle_get_width(handle.get());
  const int claimed_height = heif_image_handle_get_height(handle.get());
  AdmitImageWithPixels<EHeifError>(DecodeLimits(), claimed_width, claimed_height, kInvalid);
  LimitDecodedSides(*context, claimed_width, claimed_height);

  const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
  // Holds at its peak the file's bytes and two images at once: the decoded planes (three colour
  // planes at full size at most, and alpha; one or two bytes a sample) beside the interleaved
  // RGB(A) they become, that beside its turned copy, or that beside the bitmap (measured:
  // bench/memory_peak).
  const uint64_t pixels = uint64_t(claimed_width) * uint64_t(claimed_height);
  const uint64_t sample = heif_image_handle_get_luma_bits_per_pixel(handle.get()) > 8 ? 2 : 1;
  const uint64_t channels = alpha ? 4 : 3;
  ClaimBytes(DecodeLimits(), bytes.size() + pixels * 4 * sample + 2 * pixels * channels);
  std::unique_ptr<heif_decoding_options, TOptionsDeleter> options(heif_decoding_options_alloc());
  if (!options) throw EHeifError("HEIF decoder cannot be created");
  options->ignore_transformations = 0;  // upright, as the file says it is shown
  options->convert_hdr_to_8bit = 1;
  heif_image* raw_image = nullptr;
  Check(heif_decode_image(handle.get(), &raw_image, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get()));
  std::unique_ptr<heif_image, TImageDeleter> image(raw_image);

  const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
  AdmitImageWithPixels<EHeifError>(DecodeLimits(), width, height, kInvalid);
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (!plane || stride <= 0) throw EHeifError(std::string(kInvalid) + "the decoder gave no pixels");

  TBitmap decoded(width, height, alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
  const size_t n = alpha ? 4 : 3;
  for (int y = 0; y < height; ++y) {
    const uint8_t* rgb = plane + size_t(y) * size_t(stride);
    uint8_t* bgr = decoded.ScanLine(y);
    for (int x = 0; x < width; ++x, rgb += n, bgr += n) {
      bgr[0] = rgb[2];
      bgr[1] = rgb[1];
      bgr[2] = rgb[0];
      if (alpha) bgr[3] = rgb[3];
    }
  }
  TImageMetadata metadata = MetadataOf(*handle);
  static_cast<TBitmap&>(*this) = std::move(decoded);
  metadata_ = std::move(metadata);
  turned_ = HasOwnTransformations(bytes);
}

void THeifImage::SaveToStream(TStream&) { throw EHeifError("Cannot write HEIF images"); }

}  // namespace pellavo
