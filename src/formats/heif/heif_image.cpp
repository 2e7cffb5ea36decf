#include "formats/heif/heif_image.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/limits.h"
#include "formats/heif/icc_to_srgb.h"

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

// The size check before anything is allocated for a decoded image of width x height.
void CheckDecodedSize(int width, int height) {
  if (width <= 0 || height <= 0) throw EHeifError(std::string(kInvalid) + "it has no pixels");
  if (uint64_t(width) * uint64_t(height) * 4 > kMaxPixelBlockBytes)
    throw EHeifError("HEIF image is too large: " + std::to_string(width) + " x " + std::to_string(height));
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

}  // namespace

PELLAVO_DEFINE_GRAPHIC(THeifImage, TBitmap)

void THeifImage::LoadFromStream(TStream& stream) {
  const std::vector<uint8_t> bytes = stream.ReadToEnd();
  std::unique_ptr<heif_context, TContextDeleter> context(heif_context_alloc());
  if (!context) throw EHeifError("HEIF decoder cannot be created");
  Check(heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr));
  heif_image_handle* raw_handle = nullptr;
  Check(heif_context_get_primary_image_handle(context.get(), &raw_handle));
  std::unique_ptr<heif_image_handle, THandleDeleter> handle(raw_handle);
  // The size the image has once its transformations are applied.
  const int claimed_width = heif_image_handle_get_width(handle.get());
  const int claimed_height = heif_image_handle_get_height(handle.get());
  CheckDecodedSize(claimed_width, claimed_height);
  LimitDecodedSides(*context, claimed_width, claimed_height);

  const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
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
  CheckDecodedSize(width, height);
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (!plane || stride <= 0) throw EHeifError(std::string(kInvalid) + "the decoder gave no pixels");

  TBitmap decoded(width, height, alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
  const TIccToSrgb to_srgb(IccProfile(*handle), alpha);
  for (int y = 0; y < height; ++y) to_srgb.Row(plane + size_t(y) * size_t(stride), decoded.ScanLine(y), width);
  static_cast<TBitmap&>(*this) = std::move(decoded);
}

void THeifImage::SaveToStream(TStream&) { throw EHeifError("Cannot write HEIF images"); }

}  // namespace pellavo
