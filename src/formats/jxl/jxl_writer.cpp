#include <jxl/encode.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/jxl/jxl_image.h"

namespace pellavo {
namespace {

// The encoder's default effort ("squirrel"): the balance of time and size cjxl chooses too.
constexpr int64_t kEffort = 7;
// The largest distance the encoder takes.
constexpr float kMaxDistance = 15.0f;

struct TEncoderDeleter {
  void operator()(JxlEncoder* e) const { JxlEncoderDestroy(e); }
};

std::string ErrorText(JxlEncoder* encoder) {
  switch (JxlEncoderGetError(encoder)) {
    case JXL_ENC_ERR_OOM: return "out of memory";
    case JXL_ENC_ERR_BAD_INPUT: return "the encoder refuses the image";
    case JXL_ENC_ERR_NOT_SUPPORTED: return "the encoder does not support the image";
    default: return "the encoder failed";
  }
}

}  // namespace

float TJxlImage::DistanceOf(int quality) {
  quality = std::clamp(quality, 1, 100);
  if (quality >= 30) return 0.1f + float(100 - quality) * 0.09f;
  return std::min(kMaxDistance, 6.4f + std::pow(2.5f, float(30 - quality) / 5.0f) / 6.25f);
}

void TJxlImage::SaveToStream(TStream& stream) {
  const int32_t w = Width(), h = Height();
  if (w <= 0 || h <= 0) throw EJxlError("Cannot write an empty image as JPEG XL");
  std::optional<TBitmap> converted;
  const TBitmap& source = RgbOrRgbaPixels(*this, converted);
  const size_t in_bytes = size_t(source.BitsPerPixel() / 8);
  const uint32_t channels = in_bytes == 4 && KeepAlpha && !source.AllOpaque() ? 4 : 3;
  const bool lossless = Quality >= 100;
  const auto fail = [](const std::string& why) { throw EJxlError("Cannot write JPEG XL: " + why); };

  std::unique_ptr<JxlEncoder, TEncoderDeleter> encoder(JxlEncoderCreate(nullptr));
  if (!encoder) fail("the encoder cannot be created");
  JxlEncoder* e = encoder.get();
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = uint32_t(w);
  info.ysize = uint32_t(h);
  info.bits_per_sample = 8;
  info.num_color_channels = 3;
  info.alpha_bits = channels == 4 ? 8 : 0;
  info.num_extra_channels = channels == 4 ? 1 : 0;
  // Lossless keeps the samples as they are; lossy works in the encoder's own colour space.
  info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
  if (JxlEncoderSetBasicInfo(e, &info) != JXL_ENC_SUCCESS) fail(ErrorText(e));
  if (!Metadata.IccProfile.empty()) {
    if (JxlEncoderSetICCProfile(e, Metadata.IccProfile.data(), Metadata.IccProfile.size()) != JXL_ENC_SUCCESS)
      fail("the colour profile is refused");
  } else {
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
    if (JxlEncoderSetColorEncoding(e, &srgb) != JXL_ENC_SUCCESS) fail(ErrorText(e));
  }
  if (!Metadata.Exif.empty() || !Metadata.Xmp.empty()) {
    if (JxlEncoderUseContainer(e, JXL_TRUE) != JXL_ENC_SUCCESS || JxlEncoderUseBoxes(e) != JXL_ENC_SUCCESS)
      fail(ErrorText(e));
    if (!Metadata.Exif.empty()) {
      // The box starts with the offset of the TIFF header that follows: none.
      std::vector<uint8_t> exif(4, 0);
      exif.insert(exif.end(), Metadata.Exif.begin(), Metadata.Exif.end());
      if (JxlEncoderAddBox(e, "Exif", exif.data(), exif.size(), JXL_FALSE) != JXL_ENC_SUCCESS) fail("the EXIF block is refused");
    }
    if (!Metadata.Xmp.empty() &&
        JxlEncoderAddBox(e, "xml ", reinterpret_cast<const uint8_t*>(Metadata.Xmp.data()), Metadata.Xmp.size(),
                         JXL_FALSE) != JXL_ENC_SUCCESS)
      fail("the XMP packet is refused");
    JxlEncoderCloseBoxes(e);
  }

  JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(e, nullptr);
  if (!settings) fail(ErrorText(e));
  JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, kEffort);
  const JxlEncoderStatus set = lossless ? JxlEncoderSetFrameLossless(settings, JXL_TRUE)
                                        : JxlEncoderSetFrameDistance(settings, DistanceOf(Quality));
  if (set != JXL_ENC_SUCCESS) fail(ErrorText(e));

  // Rows top first, red first.
  std::vector<uint8_t> pixels(size_t(w) * size_t(h) * channels);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* in = source.ScanLine(y);
    uint8_t* out = pixels.data() + size_t(y) * size_t(w) * channels;
    for (int32_t x = 0; x < w; ++x, in += in_bytes, out += channels) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      if (channels == 4) out[3] = in[3];
    }
  }
  const JxlPixelFormat format{channels, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  if (JxlEncoderAddImageFrame(settings, &format, pixels.data(), pixels.size()) != JXL_ENC_SUCCESS) fail(ErrorText(e));
  JxlEncoderCloseInput(e);

  std::vector<uint8_t> out(64 << 10);
  uint8_t* next = out.data();
  size_t avail = out.size();
  for (;;) {
    const JxlEncoderStatus status = JxlEncoderProcessOutput(e, &next, &avail);
    if (status == JXL_ENC_SUCCESS) break;
    if (status != JXL_ENC_NEED_MORE_OUTPUT) fail(ErrorText(e));
    const size_t used = size_t(next - out.data());
    out.resize(out.size() * 2);
    next = out.data() + used;
    avail = out.size() - used;
  }
  stream.Write(out.data(), size_t(next - out.data()));
}

}  // namespace pellavo
