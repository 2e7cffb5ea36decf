#include "formats/jpeg2000/jpeg2000_bitmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "core/limits.h"
#include "formats/jpeg2000/jp2_boxes.h"
#include "formats/jpeg2000/opj_glue.h"

namespace pellavo {
namespace {

using namespace jp2detail;

constexpr char kUnknownFileType[] = "Unknown JPEG 2000 file type";
constexpr char kDecodingFailed[] = "JPEG 2000 image decoding failed";
constexpr char kCreateFailed[] = "Failed to create JPEG 2000 image struct for saving";
constexpr char kEncodingFailed[] = "JPEG 2000 image encoding failed";

constexpr int kResolutions = 6;

enum class TFileKind { Unknown, Jp2, Codestream };
enum class TColourSpace { Other, SRGB, Gray, YCbCr };

TFileKind DetectKind(const uint8_t (&magic)[8], size_t got) {
  static const uint8_t kJp2Signature[8] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20};
  static const uint8_t kCodestreamStart[4] = {0xFF, 0x4F, 0xFF, 0x51};
  // Anything shorter cannot hold either start, so it is no JPEG 2000 file at all.
  if (got < sizeof magic) return TFileKind::Unknown;
  if (std::memcmp(magic, kJp2Signature, 8) == 0) return TFileKind::Jp2;
  if (std::memcmp(magic, kCodestreamStart, 4) == 0) return TFileKind::Codestream;
  return TFileKind::Unknown;
}

TColourSpace FromEnumerated(uint32_t enumcs) {
  switch (enumcs) {
    case kEnumSRGB: return TColourSpace::SRGB;
    case kEnumGray: return TColourSpace::Gray;
    case kEnumSYCC: return TColourSpace::YCbCr;
    default: return TColourSpace::Other;
  }
}

TColourSpace FromCodec(OPJ_COLOR_SPACE space) {
  switch (space) {
    case OPJ_CLRSPC_SRGB: return TColourSpace::SRGB;
    case OPJ_CLRSPC_GRAY: return TColourSpace::Gray;
    case OPJ_CLRSPC_SYCC: return TColourSpace::YCbCr;
    default: return TColourSpace::Other;
  }
}

// Channel roles: 0 unknown, 1 red, 2 green, 3 blue, 4 luminance, 5 blue-difference chroma,
// 6 red-difference chroma, 7 opacity.
int RoleOf(const TChannelDef& def, TColourSpace space) {
  if (def.Type == kChannelOpacity && def.Association == 0) return 7;
  if (def.Type == kChannelColour && def.Association >= 1 && def.Association <= 3) {
    switch (space) {
      case TColourSpace::SRGB: return def.Association;
      case TColourSpace::Gray: return def.Association == 1 ? 4 : 0;
      case TColourSpace::YCbCr: return 3 + def.Association;
      default: return 0;
    }
  }
  return 0;
}

// The byte of a bitmap pixel (blue 0, green 1, red 2, fourth byte 3) that a channel fills.
int ByteOfRole(int role, int index, TColourSpace space) {
  switch (role) {
    case 1: return 2;
    case 2: return 1;
    case 3: return 0;
    case 4: return space == TColourSpace::YCbCr ? 2 : 0;
    case 5: return 1;
    case 6: return 0;
    case 7: return 3;
    // Unknown channels land as red, green, blue and then the fourth byte: the order colour
    // channels come in, and a codestream of RGBA has no channel definitions to say so.
    default: return index < 3 ? 2 - index : 3;
  }
}

// One channel of the image: a decoded component, or a palette column looked up through one.
struct TChannel {
  const opj_image_comp_t* Comp = nullptr;
  const TPalette* Palette = nullptr;
  size_t Column = 0;
  int Precision = 8;
  bool Signed = false;

  int64_t Sample(size_t index) const {
    const int64_t v = Comp->data[index];
    if (!Palette) return v;
    return Palette->Value(static_cast<uint32_t>(std::clamp<int64_t>(v, 0, Palette->Entries - 1)), Column);
  }
};

[[noreturn]] void DecodingFailed() { throw EJpeg2000Error(kDecodingFailed); }

// Refuses headers that are inconsistent or would need absurd amounts of memory.
bool Plausible(const opj_image_t& image) {
  if (image.x1 <= image.x0 || image.y1 <= image.y0 || image.numcomps == 0 || !image.comps) return false;
  const uint64_t w = image.x1 - image.x0, h = image.y1 - image.y0;
  if (w > uint64_t(std::numeric_limits<int32_t>::max()) || h > uint64_t(std::numeric_limits<int32_t>::max()))
    return false;
  uint64_t samples = 0;
  for (OPJ_UINT32 i = 0; i < image.numcomps; ++i) {
    const opj_image_comp_t& c = image.comps[i];
    if (c.dx == 0 || c.dy == 0 || c.prec < 1 || c.prec > 38) return false;
    samples += uint64_t{c.w} * c.h;
    if (samples > kMaxJpeg2000DecodedSamples) return false;
  }
  return uint64_t{w} * h <= kMaxJpeg2000DecodedSamples;
}

std::vector<TChannel> Channels(const opj_image_t& image, const TJp2Header* header) {
  std::vector<TChannel> channels;
  const auto direct = [&](uint32_t index) {
    const opj_image_comp_t& c = image.comps[index];
    channels.push_back({&c, nullptr, 0, static_cast<int>(c.prec), c.sgnd != 0});
  };
  if (header && header->Palette) {
    // A palette image: each output channel is a component or a palette column of one.
    const TPalette& palette = *header->Palette;
    if (header->Mapping.empty()) DecodingFailed();
    for (const TComponentMapping& m : header->Mapping) {
      if (m.Component >= image.numcomps) DecodingFailed();
      if (m.Type == 0) {
        direct(m.Component);
      } else if (m.Type == 1 && m.Column < palette.Columns.size()) {
        const TPaletteColumn& column = palette.Columns[m.Column];
        channels.push_back({&image.comps[m.Component], &palette, m.Column, column.Precision, column.Signed});
      } else {
        DecodingFailed();
      }
    }
  } else {
    for (uint32_t i = 0; i < image.numcomps; ++i) direct(i);
  }
  return channels;
}

// Writes the channel into byte `byte` of every pixel; a subsampled channel repeats each sample
// over its dx x dy block, clipped to the image.
void Place(TBitmap& bitmap, const TChannel& channel, int byte, int pixel_bytes) {
  const opj_image_comp_t& c = *channel.Comp;
  const int64_t offset = channel.Signed ? int64_t{1} << (channel.Precision - 1) : 0;
  const int64_t max = (int64_t{1} << channel.Precision) - 1;
  const auto to_byte = [&](int64_t sample) -> uint8_t {
    sample += offset;
    if (channel.Precision == 8) return static_cast<uint8_t>(sample);
    return static_cast<uint8_t>(std::clamp<int64_t>(sample * 255 / max, 0, 255));
  };
  const int64_t w = bitmap.Width(), h = bitmap.Height();
  std::vector<uint8_t> values(c.w);
  for (uint32_t j = 0; j < c.h; ++j) {
    const int64_t y0 = int64_t{j} * c.dy;
    if (y0 >= h) break;
    for (uint32_t i = 0; i < c.w; ++i) values[i] = to_byte(channel.Sample(size_t{j} * c.w + i));
    for (int64_t y = y0; y < std::min<int64_t>(y0 + c.dy, h); ++y) {
      uint8_t* row = bitmap.ScanLine(static_cast<int32_t>(y));
      for (uint32_t i = 0; i < c.w; ++i) {
        const int64_t x0 = int64_t{i} * c.dx;
        if (x0 >= w) break;
        for (int64_t x = x0; x < std::min<int64_t>(x0 + c.dx, w); ++x) row[x * pixel_bytes + byte] = values[i];
      }
    }
  }
}

uint8_t RoundClamp(double v) { return static_cast<uint8_t>(std::clamp<long>(std::lround(v), 0, 255)); }

// Y at byte 2, Cb at 1, Cr at 0 become red, green, blue in the same places.
void ConvertYCbCr(TBitmap& bitmap, int pixel_bytes) {
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    uint8_t* p = bitmap.ScanLine(y);
    for (int32_t x = 0; x < bitmap.Width(); ++x, p += pixel_bytes) {
      const double luma = p[2], cb = p[1] - 128.0, cr = p[0] - 128.0;
      p[2] = RoundClamp(luma + 1.402 * cr);
      p[1] = RoundClamp(luma - 0.34414 * cb - 0.71414 * cr);
      p[0] = RoundClamp(luma + 1.772 * cb);
    }
  }
}

TBitmap ToBitmap(const opj_image_t& image, const TJp2Header* header) {
  const std::vector<TChannel> channels = Channels(image, header);
  const TColourSpace space = header ? FromEnumerated(header->EnumeratedColourSpace) : FromCodec(image.color_space);
  const int count = static_cast<int>(channels.size());
  // Three channels make a 24-bit bitmap, four a 32-bit one; anything else is gray from the
  // first channel.
  const int used = (count == 3 || count == 4) ? count : 1;
  const TPixelFormat format = used == 4 ? TPixelFormat::pf32bit : used == 3 ? TPixelFormat::pf24bit : TPixelFormat::pf8bit;
  TBitmap bitmap(static_cast<int32_t>(image.x1 - image.x0), static_cast<int32_t>(image.y1 - image.y0), format);
  if (used == 1) {
    std::vector<TRGBQuad> gray(256);
    for (int i = 0; i < 256; ++i) gray[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    bitmap.SetPalette(std::move(gray));
  }

  std::vector<int> roles(channels.size(), 0);
  if (header)
    for (const TChannelDef& def : header->ChannelDefs)
      if (def.Channel < roles.size()) roles[def.Channel] = RoleOf(def, space);

  for (int i = 0; i < used; ++i) {
    const TChannel& channel = channels[size_t(i)];
    if (!channel.Comp->data) DecodingFailed();
    // A gray bitmap has one byte per pixel, whatever role its channel claims; a channel whose
    // role names a byte the pixel does not have (opacity of a three-channel image) is left out
    // rather than written into the neighbouring pixel.
    const int byte = used == 1 ? 0 : ByteOfRole(roles[size_t(i)], i, space);
    if (byte >= used) continue;
    Place(bitmap, channel, byte, used);
  }
  if (space == TColourSpace::YCbCr && used >= 3) ConvertYCbCr(bitmap, used);
  return bitmap;
}

// Each step halves the smallest side; the codec refuses more levels than the image can give.
int ResolutionsFor(int32_t width, int32_t height) {
  int levels = 1;
  while (levels < kResolutions && (std::min(width, height) >> levels) > 0) ++levels;
  return levels;
}

}  // namespace

PELLAVO_DEFINE_GRAPHIC(TJpeg2000Bitmap, TBitmap)

float TJpeg2000Bitmap::CompressionRatio(int32_t width, int32_t height, int components, bool lossless,
                                        uint8_t quality) {
  if (lossless) return 0.0f;
  const double samples = double(width) * double(height) * components;
  const int d = 115 - std::min<int>(quality, 100);
  const float k = 100.0f / static_cast<float>(d * d);
  // The fixed part allows for the file's own boxes and markers.
  const float budget = static_cast<float>(samples * k + 550.0 + 142.0 * (components - 1));
  return budget > 0 ? static_cast<float>(samples / budget) : 0.0f;
}

void TJpeg2000Bitmap::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t magic[8] = {};
  const size_t got = stream.Read(magic, sizeof magic);
  stream.Seek(start);
  const TFileKind kind = DetectKind(magic, got);
  if (kind == TFileKind::Unknown) throw EJpeg2000Error(kUnknownFileType);

  const std::vector<uint8_t> input = stream.ReadToEnd();
  std::optional<TJp2Header> header;
  if (kind == TFileKind::Jp2) {
    header = ReadJp2Header(input.data(), input.size());
    if (!header) DecodingFailed();
  }

  TCodecLog log(codec_messages_);
  TCodecPtr codec(opj_create_decompress(kind == TFileKind::Jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!codec) DecodingFailed();
  log.Attach(codec.get());
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  // Palettes and channel definitions are applied here by our own rules: the codec would
  // reorder the components before we could see which is which.
  if (kind == TFileKind::Jp2) parameters.flags |= OPJ_DPARAMETERS_IGNORE_PCLR_CMAP_CDEF_FLAG;
  if (!opj_setup_decoder(codec.get(), &parameters)) DecodingFailed();

  TMemoryInput in(input.data(), input.size());
  if (!in.Stream()) DecodingFailed();
  opj_image_t* raw = nullptr;
  const bool header_read = opj_read_header(in.Stream(), codec.get(), &raw);
  TImagePtr image(raw);
  if (!header_read || !image || image->x1 <= image->x0 || image->y1 <= image->y0) DecodingFailed();
  const int64_t width = int64_t{image->x1} - image->x0, height = int64_t{image->y1} - image->y0;
  CheckImageSize(DecodeLimits(), width, height);
  if (!Plausible(*image)) DecodingFailed();
  // Holds at its peak the codec's components, a 32-bit integer per sample, and the bitmap they
  // become, beside the file's bytes.
  uint64_t samples = 0;
  for (OPJ_UINT32 i = 0; i < image->numcomps; ++i) samples += uint64_t{image->comps[i].w} * image->comps[i].h;
  ClaimBytes(DecodeLimits(), samples * sizeof(OPJ_INT32) + DecodedImageBytes(uint64_t(width), uint64_t(height)) +
                                 input.size());
  if (!opj_decode(codec.get(), in.Stream(), image.get()) || !opj_end_decompress(codec.get(), in.Stream()))
    DecodingFailed();
  stream.Seek(start + static_cast<int64_t>(in.Consumed()));

  TBitmap decoded = ToBitmap(*image, header ? &*header : nullptr);
  static_cast<TBitmap&>(*this) = std::move(decoded);
}

void TJpeg2000Bitmap::SaveToStream(TStream& stream) {
  std::optional<TBitmap> converted;
  const TBitmap* source = &RgbOrRgbaPixels(*this, converted);
  const int components = source->BitsPerPixel() == 32 ? 4 : 3;
  const int pixel_bytes = components;
  const int32_t w = source->Width(), h = source->Height();

  opj_image_cmptparm_t parameters[4] = {};
  for (opj_image_cmptparm_t& p : parameters) {
    p.dx = p.dy = 1;
    p.w = static_cast<OPJ_UINT32>(w);
    p.h = static_cast<OPJ_UINT32>(h);
    p.prec = 8;
    p.sgnd = 0;
  }
  TImagePtr image(w > 0 && h > 0 ? opj_image_create(static_cast<OPJ_UINT32>(components), parameters, OPJ_CLRSPC_SRGB)
                                 : nullptr);
  if (!image) throw EJpeg2000Error(kCreateFailed);
  image->x0 = image->y0 = 0;
  image->x1 = static_cast<OPJ_UINT32>(w);
  image->y1 = static_cast<OPJ_UINT32>(h);
  if (components == 4) image->comps[3].alpha = 1;

  // Red, green, blue, then the fourth byte.
  static const int kByteOfComponent[4] = {2, 1, 0, 3};
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = source->ScanLine(y);
    const size_t base = size_t(y) * size_t(w);
    for (int c = 0; c < components; ++c) {
      OPJ_INT32* out = image->comps[c].data + base;
      const uint8_t* in = row + kByteOfComponent[c];
      for (int32_t x = 0; x < w; ++x) out[x] = in[size_t(x) * pixel_bytes];
    }
  }

  TCodecLog log(codec_messages_);
  // The codestream goes into JP2 boxes of our own: the codec's JP2 writer writes no channel
  // definitions for an RGB image without opacity.
  TCodecPtr codec(opj_create_compress(OPJ_CODEC_J2K));
  if (!codec) throw EJpeg2000Error(kEncodingFailed);
  log.Attach(codec.get());
  opj_cparameters_t settings;
  opj_set_default_encoder_parameters(&settings);
  settings.numresolution = ResolutionsFor(w, h);
  settings.tcp_numlayers = 1;
  settings.cp_disto_alloc = 1;
  settings.tcp_rates[0] = CompressionRatio(w, h, components, Jp2Lossless, Jp2Quality);
  settings.tcp_mct = 0;
  if (!opj_setup_encoder(codec.get(), &settings, image.get())) throw EJpeg2000Error(kEncodingFailed);

  TMemoryOutput out;
  if (!out.Stream() || !opj_start_compress(codec.get(), image.get(), out.Stream()) ||
      !opj_encode(codec.get(), out.Stream()) || !opj_end_compress(codec.get(), out.Stream()))
    throw EJpeg2000Error(kEncodingFailed);

  TJp2Layout layout;
  layout.Width = static_cast<uint32_t>(w);
  layout.Height = static_cast<uint32_t>(h);
  layout.Components = static_cast<uint16_t>(components);
  layout.EnumeratedColourSpace = kEnumSRGB;
  layout.ChannelDefs = {{0, kChannelColour, 1}, {1, kChannelColour, 2}, {2, kChannelColour, 3}};
  if (components == 4) layout.ChannelDefs.push_back({3, kChannelOpacity, 0});
  WriteJp2File(stream, layout, out.Bytes());
}

}  // namespace pellavo
