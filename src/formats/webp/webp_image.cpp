#include "formats/webp/webp_image.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/decode_limits.h"
#include "formats/image_metadata.h"
#include "formats/webp/webp_shared.h"

namespace pellavo {
namespace {

constexpr const char* kInvalid = "WebP image is not valid: ";

std::string StatusText(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_BITSTREAM_ERROR: return "the image data is damaged";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "it uses a feature the decoder does not support";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "the file ends too early";
    default: return "the decoder failed (status " + std::to_string(int{status}) + ")";
  }
}

std::string EncodingErrorText(WebPEncodingError error) {
  switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION: return "the image is too large for WebP";
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
    case VP8_ENC_ERROR_PARTITION_OVERFLOW: return "the image data does not fit the format's partitions";
    default: return "error " + std::to_string(int{error});
  }
}

struct TDemuxDeleter {
  void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};

// Owns a chunk iterator of a demuxer that outlives it.
struct TChunk {
  WebPChunkIterator it{};
  ~TChunk() { WebPDemuxReleaseChunkIterator(&it); }
};

// Owns a frame iterator of a demuxer that outlives it.
struct TFrame {
  WebPIterator it{};
  ~TFrame() { WebPDemuxReleaseIterator(&it); }
};

// Decodes one frame, or the top-left pixel of it, into w x h pixels of n bytes at `first`, rows
// `stride` bytes apart; with `flip` the rows go bottom up from there.
VP8StatusCode DecodeInto(const uint8_t* data, size_t size, WEBP_CSP_MODE mode, uint8_t* first, int w, int h,
                         size_t stride, bool flip, bool one_pixel) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) throw EWebPError("WebP decoder version mismatch");
  const size_t n = mode == MODE_BGR ? 3 : 4;
  config.options.flip = flip ? 1 : 0;
  if (one_pixel) {
    config.options.use_cropping = 1;
    config.options.crop_width = config.options.crop_height = 1;
    w = h = 1;
  }
  config.output.colorspace = mode;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = first;
  config.output.u.RGBA.stride = static_cast<int>(stride);
  config.output.u.RGBA.size = stride * size_t(h - 1) + size_t(w) * n;
  const VP8StatusCode status = WebPDecode(data, size, &config);
  WebPFreeDecBuffer(&config.output);
  return status;
}

// Decodes only the top left pixel. The library checks every header of the image (the frame's
// own size against the canvas, the partitions' lengths) before it decodes anything, so a few
// bytes that claim a huge image fail here, before the image's memory is allocated.
void ProbeHeaders(const uint8_t* data, size_t size) {
  uint8_t pixel[4];
  const VP8StatusCode status = DecodeInto(data, size, MODE_BGRA, pixel, 1, 1, sizeof pixel, false, true);
  if (status != VP8_STATUS_OK) throw EWebPError(kInvalid + StatusText(status));
}

// The first frame of an animation as the animation shows it: on a transparent canvas, which
// both of the frame's blending modes leave as the frame itself. Decoded straight into the
// bitmap, so the canvas is held once.
TBitmap FirstFrame(const std::vector<uint8_t>& bytes, int width, int height) {
  const WebPData data{bytes.data(), bytes.size()};
  std::unique_ptr<WebPDemuxer, TDemuxDeleter> demux(WebPDemux(&data));
  if (!demux) throw EWebPError(std::string(kInvalid) + "the animation cannot be read");
  if (int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH)) != width ||
      int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT)) != height)
    throw EWebPError(std::string(kInvalid) + "the animation's canvas does not match its header");
  TFrame frame;
  if (!WebPDemuxGetFrame(demux.get(), 1, &frame.it) || !frame.it.complete)
    throw EWebPError(std::string(kInvalid) + "the animation has no complete first frame");
  const WebPIterator& f = frame.it;
  // The demuxer keeps every frame inside the canvas.
  if (f.x_offset < 0 || f.y_offset < 0 || f.width <= 0 || f.height <= 0 || f.x_offset + f.width > width ||
      f.y_offset + f.height > height)
    throw EWebPError(std::string(kInvalid) + "the first frame lies outside the canvas");
  ProbeHeaders(f.fragment.bytes, f.fragment.size);
  TBitmap canvas(width, height, TPixelFormat::pf32bit);
  // Flipped, from the frame's bottom row: the bitmap stores its rows bottom up.
  uint8_t* first = canvas.ScanLine(f.y_offset + f.height - 1) + size_t(f.x_offset) * 4;
  const VP8StatusCode status = DecodeInto(f.fragment.bytes, f.fragment.size, MODE_BGRA, first, f.width, f.height,
                                          canvas.RowBytes(), true, false);
  if (status != VP8_STATUS_OK) throw EWebPError(kInvalid + StatusText(status));
  return canvas;
}

// A still image, decoded straight into the bitmap's rows: the decoder's vertical flip matches
// the bitmap's bottom-up storage.
TBitmap StillImage(const std::vector<uint8_t>& bytes, const WebPBitstreamFeatures& features) {
  ProbeHeaders(bytes.data(), bytes.size());
  const bool alpha = features.has_alpha != 0;
  TBitmap image(features.width, features.height, alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
  const VP8StatusCode status = DecodeInto(bytes.data(), bytes.size(), alpha ? MODE_BGRA : MODE_BGR,
                                          image.ScanLine(image.Height() - 1), image.Width(), image.Height(),
                                          image.RowBytes(), true, false);
  if (status != VP8_STATUS_OK) throw EWebPError(kInvalid + StatusText(status));
  return image;
}

}  // namespace

TImageMetadata WebPMetadataOf(const std::vector<uint8_t>& bytes) {
  TImageMetadata m;
  const WebPData data{bytes.data(), bytes.size()};
  std::unique_ptr<WebPDemuxer, TDemuxDeleter> demux(WebPDemux(&data));
  if (!demux) return m;
  const auto chunk = [&](const char* fourcc) -> std::vector<uint8_t> {
    TChunk c;
    if (!WebPDemuxGetChunk(demux.get(), fourcc, 1, &c.it)) return {};
    return {c.it.chunk.bytes, c.it.chunk.bytes + c.it.chunk.size};
  };
  m.IccProfile = chunk("ICCP");
  const std::vector<uint8_t> exif = chunk("EXIF");
  m.Exif = ExifFromPayload(exif.data(), exif.size());
  const std::vector<uint8_t> xmp = chunk("XMP ");
  m.Xmp.assign(xmp.begin(), xmp.end());
  return m;
}

int WebPFrameCount(const std::vector<uint8_t>& bytes) {
  const WebPData data{bytes.data(), bytes.size()};
  std::unique_ptr<WebPDemuxer, TDemuxDeleter> demux(WebPDemux(&data));
  return demux ? int(WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT)) : 0;
}

std::string WebPEncodingErrorText(WebPEncodingError error) { return EncodingErrorText(error); }

void CheckWebPSize(int32_t w, int32_t h) {
  if (w <= 0 || h <= 0) throw EWebPError("Cannot write an empty image as WebP");
  if (w > WEBP_MAX_DIMENSION || h > WEBP_MAX_DIMENSION)
    throw EWebPError("Cannot write a " + std::to_string(w) + " x " + std::to_string(h) + " image as WebP: at most " +
                     std::to_string(WEBP_MAX_DIMENSION) + " pixels on a side");
}

WebPConfig WebPConfigOf(uint8_t quality) {
  WebPConfig config;
  if (!WebPConfigInit(&config)) throw EWebPError("WebP encoder version mismatch");
  config.quality = static_cast<float>(std::clamp<int>(quality, 1, 100));
  return config;
}

void ImportWebPPicture(const TBitmap& bitmap, bool keep_alpha, WebPPicture& pic) {
  std::optional<TBitmap> converted;
  const TBitmap* source = &RgbOrRgbaPixels(bitmap, converted);
  pic.use_argb = 1;
  pic.width = bitmap.Width();
  pic.height = bitmap.Height();
  // The rows go in top first: from the last stored row, backwards through the block.
  const uint8_t* top = source->ScanLine(0);
  const int stride = -static_cast<int>(source->RowBytes());
  int imported = 0;
  if (source->BitsPerPixel() == 24)
    imported = WebPPictureImportBGR(&pic, top, stride);
  else if (!keep_alpha || source->AllOpaque())
    imported = WebPPictureImportBGRX(&pic, top, stride);
  else
    imported = WebPPictureImportBGRA(&pic, top, stride);
  if (!imported) throw EWebPError("Cannot write WebP: " + EncodingErrorText(pic.error_code));
}

namespace {

struct TMuxDeleter {
  void operator()(WebPMux* m) const { WebPMuxDelete(m); }
};

struct TAssembled {
  WebPData data{};
  ~TAssembled() { WebPDataClear(&data); }
};

struct TMemoryWriter {
  WebPMemoryWriter writer;
  TMemoryWriter() { WebPMemoryWriterInit(&writer); }
  ~TMemoryWriter() { WebPMemoryWriterClear(&writer); }
  TMemoryWriter(const TMemoryWriter&) = delete;
  TMemoryWriter& operator=(const TMemoryWriter&) = delete;
};

}  // namespace

PELLAVO_DEFINE_GRAPHIC(TWebPImage, TBitmap)

void TWebPImage::LoadFromStream(TStream& stream) {
  const std::vector<uint8_t> bytes = stream.ReadToEnd();
  WebPBitstreamFeatures features;
  const VP8StatusCode status = WebPGetFeatures(bytes.data(), bytes.size(), &features);
  if (status != VP8_STATUS_OK) throw EWebPError(kInvalid + StatusText(status));
  // Holds the decoded image once, as 32-bit pixels at most: an animation's canvas with its first
  // frame decoded straight into it, or a still image straight into the bitmap's rows (the file's
  // bytes and the decoder's own buffers, at most one frame's, besides). The converter adds what it
  // holds beside the picture (the surface it copies it onto) to the claim.
  AdmitImageWithPixels<EWebPError>(DecodeLimits(), features.width, features.height, kInvalid);
  TBitmap decoded =
      features.has_animation ? FirstFrame(bytes, features.width, features.height) : StillImage(bytes, features);
  TImageMetadata metadata = WebPMetadataOf(bytes);
  // An animation is converted here as its first frame; the metadata says how many there are.
  if (features.has_animation)
    if (const int frames = WebPFrameCount(bytes); frames > 1) metadata.LeftOutFramesOf = frames;
  static_cast<TBitmap&>(*this) = std::move(decoded);
  Metadata = std::move(metadata);
}

void TWebPImage::SaveToStream(TStream& stream) {
  CheckWebPSize(Width(), Height());
  const WebPConfig config = WebPConfigOf(Quality);
  TWebPPicture picture;
  ImportWebPPicture(*this, KeepAlpha, picture.pic);
  TMemoryWriter out;
  picture.pic.writer = WebPMemoryWrite;
  picture.pic.custom_ptr = &out.writer;
  if (!WebPEncode(&config, &picture.pic))
    throw EWebPError("Cannot write WebP: " + EncodingErrorText(picture.pic.error_code));
  WriteWebPWithMetadata(stream, out.writer.mem, out.writer.size, Metadata);
}

void WriteWebPWithMetadata(TStream& stream, const uint8_t* bytes, size_t size, const TImageMetadata& metadata) {
  if (metadata.Empty()) {
    stream.Write(bytes, size);
    return;
  }
  // The chunks go in through the muxer, which also writes the extended header that announces them.
  const WebPData image{bytes, size};
  std::unique_ptr<WebPMux, TMuxDeleter> mux(WebPMuxCreate(&image, 0));
  if (!mux) throw EWebPError("Cannot write WebP: the encoded image cannot be given its metadata");
  const auto set = [&](const char* fourcc, const void* chunk_bytes, size_t chunk_size) {
    if (chunk_size == 0) return;
    const WebPData chunk{static_cast<const uint8_t*>(chunk_bytes), chunk_size};
    if (WebPMuxSetChunk(mux.get(), fourcc, &chunk, 0) != WEBP_MUX_OK)
      throw EWebPError(std::string("Cannot write WebP: the ") + fourcc + " chunk is refused");
  };
  set("ICCP", metadata.IccProfile.data(), metadata.IccProfile.size());
  set("EXIF", metadata.Exif.data(), metadata.Exif.size());
  set("XMP ", metadata.Xmp.data(), metadata.Xmp.size());
  TAssembled assembled;
  if (WebPMuxAssemble(mux.get(), &assembled.data) != WEBP_MUX_OK)
    throw EWebPError("Cannot write WebP: the file cannot be assembled with its metadata");
  stream.Write(assembled.data.bytes, assembled.data.size);
}

}  // namespace pellavo
