#include <jxl/decode.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/decode_limits.h"
#include "formats/image_metadata.h"
#include "formats/jxl/jxl_image.h"

namespace pellavo {
namespace {

constexpr const char* kInvalid = "JPEG XL image is not valid: ";

struct TDecoderDeleter {
  void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};

// Where the decoder's rows go: straight into the bitmap, red and blue swapped.
struct TOutput {
  TBitmap* Bitmap;
  size_t Channels;
};

void StoreRun(void* opaque, size_t x, size_t y, size_t count, const void* pixels) {
  const auto& out = *static_cast<const TOutput*>(opaque);
  if (y >= size_t(out.Bitmap->Height()) || x + count > size_t(out.Bitmap->Width())) return;
  const auto* in = static_cast<const uint8_t*>(pixels);
  uint8_t* row = out.Bitmap->ScanLine(int32_t(y)) + x * out.Channels;
  for (size_t i = 0; i < count; ++i, in += out.Channels, row += out.Channels) {
    row[0] = in[2];
    row[1] = in[1];
    row[2] = in[0];
    if (out.Channels == 4) row[3] = in[3];
  }
}

bool IsSrgb(const JxlColorEncoding& c) {
  return c.color_space == JXL_COLOR_SPACE_RGB && c.white_point == JXL_WHITE_POINT_D65 &&
         c.primaries == JXL_PRIMARIES_SRGB && c.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// The profile of the pixels the decoder hands out, none when they are sRGB already (which a
// profile-less output takes them as).
std::vector<uint8_t> ProfileOfPixels(const JxlDecoder* decoder) {
  JxlColorEncoding encoding;
  if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding) ==
          JXL_DEC_SUCCESS &&
      IsSrgb(encoding))
    return {};
  size_t size = 0;
  if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS ||
      size == 0)
    return {};
  std::vector<uint8_t> icc(size);
  if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, icc.data(), size) !=
      JXL_DEC_SUCCESS)
    return {};
  return icc;
}

// The orientation the codestream records. The decoder that turns the pixels reports them as
// upright, so a second one, which reads no further than the header, is asked.
JxlOrientation RecordedOrientation(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<JxlDecoder, TDecoderDeleter> decoder(JxlDecoderCreate(nullptr));
  JxlBasicInfo info{};
  if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO) != JXL_DEC_SUCCESS ||
      JxlDecoderSetKeepOrientation(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(decoder.get(), bytes.data(), bytes.size()) != JXL_DEC_SUCCESS)
    return JXL_ORIENT_IDENTITY;
  JxlDecoderCloseInput(decoder.get());
  if (JxlDecoderProcessInput(decoder.get()) != JXL_DEC_BASIC_INFO ||
      JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
    return JXL_ORIENT_IDENTITY;
  return info.orientation;
}

// A metadata box being read: its type and its bytes. The buffer offered to the decoder always
// ends at the end of Bytes, so what it left unused says how much it wrote. Boxes grow as the
// decoder asks for room, within a bound: EXIF and XMP are small, and a file may claim any size.
struct TBox {
  static constexpr size_t kMaxBytes = size_t{16} << 20;
  std::string Type;
  std::vector<uint8_t> Bytes;
};

}  // namespace

PELLAVO_DEFINE_GRAPHIC(TJxlImage, TBitmap)

void TJxlImage::LoadFromStream(TStream& stream) {
  const std::vector<uint8_t> bytes = stream.ReadToEnd();
  std::unique_ptr<JxlDecoder, TDecoderDeleter> decoder(JxlDecoderCreate(nullptr));
  if (!decoder) throw EJxlError("JPEG XL decoder cannot be created");
  JxlDecoder* d = decoder.get();
  const auto fail = [](const std::string& why) { throw EJxlError(kInvalid + why); };
  if (JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE | JXL_DEC_BOX) !=
      JXL_DEC_SUCCESS)
    fail("the decoder refuses its settings");
  JxlDecoderSetDecompressBoxes(d, JXL_TRUE);
  // The bitmap holds straight colours, whatever the file stores.
  JxlDecoderSetUnpremultiplyAlpha(d, JXL_TRUE);
  if (JxlDecoderSetInput(d, bytes.data(), bytes.size()) != JXL_DEC_SUCCESS) fail("the decoder refuses the data");
  JxlDecoderCloseInput(d);

  JxlBasicInfo info{};
  TImageMetadata metadata;
  TBitmap decoded;
  TOutput output{&decoded, 3};
  JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  TBox box;
  // Takes what the decoder wrote into the box being read, if it is one that is kept.
  const auto finish_box = [&] {
    if (box.Type.empty()) return;
    box.Bytes.resize(box.Bytes.size() - JxlDecoderReleaseBoxBuffer(d));
    // An EXIF box starts with the offset of its TIFF header, which ExifFromPayload finds anyway.
    if (box.Type == "Exif" && box.Bytes.size() > 4 && metadata.Exif.empty())
      metadata.Exif = ExifFromPayload(box.Bytes.data() + 4, box.Bytes.size() - 4);
    if (box.Type == "xml " && metadata.Xmp.empty()) metadata.Xmp.assign(box.Bytes.begin(), box.Bytes.end());
    box = TBox{};
  };
  bool have_image = false;
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(d);
    // With the input closed, a file cut short is an error too.
    if (status == JXL_DEC_ERROR || status == JXL_DEC_NEED_MORE_INPUT) fail("the data is damaged or cut short");
    if (status == JXL_DEC_SUCCESS) break;
    if (status == JXL_DEC_BASIC_INFO) {
      if (JxlDecoderGetBasicInfo(d, &info) != JXL_DEC_SUCCESS) fail("its header cannot be read");
      AdmitImageWithPixels<EJxlError>(DecodeLimits(), info.xsize, info.ysize, kInvalid);
      // While it decodes, libjxl holds the image as 32-bit floating-point planes, one per channel,
      // beside the bitmap it fills.
      const uint64_t planes = uint64_t(info.num_color_channels) + info.num_extra_channels;
      ClaimBytes(DecodeLimits(), DecodedImageBytes(info.xsize, info.ysize) * (1 + planes));
      // The size it is shown at, after the codestream's turn.
      const int32_t w = int32_t(info.xsize), h = int32_t(info.ysize);
      format.num_channels = info.alpha_bits ? 4 : 3;
      output.Channels = format.num_channels;
      decoded = TBitmap(w, h, info.alpha_bits ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
      if (info.num_color_channels == 1) metadata.Colours = TStoredColours::Gray;
    } else if (status == JXL_DEC_COLOR_ENCODING) {
      metadata.IccProfile = ProfileOfPixels(d);
    } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
      if (JxlDecoderSetImageOutCallback(d, &format, StoreRun, &output) != JXL_DEC_SUCCESS)
        fail("the decoder cannot deliver 8-bit pixels");
    } else if (status == JXL_DEC_FULL_IMAGE) {
      // An animation gives its first frame.
      have_image = true;
      finish_box();
      break;
    } else if (status == JXL_DEC_BOX) {
      finish_box();
      JxlBoxType type;
      if (JxlDecoderGetBoxType(d, type, JXL_TRUE) != JXL_DEC_SUCCESS) continue;
      box.Type.assign(type, 4);
      if (box.Type != "Exif" && box.Type != "xml ") {
        box.Type.clear();
        continue;
      }
      box.Bytes.resize(4096);
      JxlDecoderSetBoxBuffer(d, box.Bytes.data(), box.Bytes.size());
    } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT) {
      const size_t written = box.Bytes.size() - JxlDecoderReleaseBoxBuffer(d);
      if (box.Bytes.size() * 2 > TBox::kMaxBytes) fail("a metadata box is too large");
      box.Bytes.resize(box.Bytes.size() * 2);
      JxlDecoderSetBoxBuffer(d, box.Bytes.data() + written, box.Bytes.size() - written);
    }
  }
  if (!have_image) fail("it holds no image");
  static_cast<TBitmap&>(*this) = std::move(decoded);
  Metadata = std::move(metadata);
  turned_ = RecordedOrientation(bytes) != JXL_ORIENT_IDENTITY;
}

}  // namespace pellavo
