#include "formats/webp/webp_frames.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/mux.h>

#include <algorithm>
#include <string>

#include "formats/webp/webp_shared.h"

namespace pellavo {
namespace {

constexpr const char* kInvalid = "WebP image is not valid: ";

struct TAnimDecoderDeleter {
  void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

struct TAnimEncoderDeleter {
  void operator()(WebPAnimEncoder* e) const { WebPAnimEncoderDelete(e); }
};

struct TAssembledData {
  WebPData data{};
  ~TAssembledData() { WebPDataClear(&data); }
};

class TWebPFrames final : public TFrameSource {
 public:
  // bytes must stay where they are while the decoder reads them: the source owns them.
  TWebPFrames(std::vector<uint8_t> bytes, std::unique_ptr<WebPAnimDecoder, TAnimDecoderDeleter> decoder,
              const WebPAnimInfo& info)
      : bytes_(std::move(bytes)), decoder_(std::move(decoder)), info_(info) {}

  int32_t Width() const override { return int32_t(info_.canvas_width); }
  int32_t Height() const override { return int32_t(info_.canvas_height); }
  int FrameCount() const override { return int(info_.frame_count); }
  // WebP counts the showings, 0 for ever.
  TAnimationPlays Plays() const override { return int(std::min<uint32_t>(info_.loop_count, 0xFFFF)); }
  uint64_t WorkingBytes() const override {
    // The file, and the decoder's canvas and the copy it keeps of the one before.
    return bytes_.size() + 2 * DecodedImageBytes(info_.canvas_width, info_.canvas_height);
  }
  TImageMetadata EmbeddedMetadata() const override { return WebPMetadataOf(bytes_); }

  bool Next(TAnimationFrame& frame) override {
    if (!WebPAnimDecoderHasMoreFrames(decoder_.get())) return false;
    uint8_t* pixels = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder_.get(), &pixels, &timestamp))
      throw EWebPError(std::string(kInvalid) + "frame " + std::to_string(frames_ + 1) + " cannot be decoded");
    ++frames_;
    // Bytes blue, green, red, alpha: a TColor32 each.
    frame = TAnimationFrame{reinterpret_cast<const TColor32*>(pixels), Width(), Height(), std::max(timestamp - last_end_, 0)};
    last_end_ = timestamp;
    return true;
  }

 private:
  const std::vector<uint8_t> bytes_;
  std::unique_ptr<WebPAnimDecoder, TAnimDecoderDeleter> decoder_;
  const WebPAnimInfo info_;
  int frames_ = 0;
  int last_end_ = 0;  // the time the last frame ended, in milliseconds from the start
};

class TWebPFrameSink final : public TFrameSink {
 public:
  TWebPFrameSink(TStream& out, int32_t width, int32_t height, TAnimationPlays plays, const TEncodeOptions& options)
      : out_(out), width_(width), height_(height), config_(WebPConfigOf(uint8_t(std::clamp(options.Quality, 1, 100)))),
        metadata_(options.Metadata) {
    CheckWebPSize(width, height);
    WebPAnimEncoderOptions anim;
    if (!WebPAnimEncoderOptionsInit(&anim)) throw EWebPError("WebP encoder version mismatch");
    anim.anim_params.loop_count = std::max(plays, 0);
    encoder_.reset(WebPAnimEncoderNew(width, height, &anim));
    if (!encoder_) throw EWebPError("Cannot write WebP: the animation encoder cannot start");
  }

  void Add(const TBitmap& frame, int delay_ms, bool keep_alpha) override {
    if (frame.Width() != width_ || frame.Height() != height_)
      throw EWebPError("Cannot write WebP: animation frames must all have the canvas size");
    TWebPPicture picture;
    ImportWebPPicture(frame, keep_alpha, picture.pic);
    if (!WebPAnimEncoderAdd(encoder_.get(), &picture.pic, timestamp_, &config_))
      throw EWebPError("Cannot write WebP: " + ErrorText());
    timestamp_ += std::max(delay_ms, 0);
  }

  void Finish() override {
    // The end of the last frame closes the animation.
    if (!WebPAnimEncoderAdd(encoder_.get(), nullptr, timestamp_, nullptr))
      throw EWebPError("Cannot write WebP: " + ErrorText());
    TAssembledData assembled;
    if (!WebPAnimEncoderAssemble(encoder_.get(), &assembled.data)) throw EWebPError("Cannot write WebP: " + ErrorText());
    WriteWebPWithMetadata(out_, assembled.data.bytes, assembled.data.size, metadata_);
  }

 private:
  std::string ErrorText() const {
    const char* text = WebPAnimEncoderGetError(encoder_.get());
    return text && *text ? text : "the animation cannot be encoded";
  }

  TStream& out_;
  const int32_t width_, height_;
  const WebPConfig config_;
  const TImageMetadata metadata_;
  std::unique_ptr<WebPAnimEncoder, TAnimEncoderDeleter> encoder_;
  int timestamp_ = 0;  // where the next frame starts, in milliseconds
};

}  // namespace

std::unique_ptr<TFrameSource> OpenWebPFrames(std::vector<uint8_t> bytes, const TDecodeLimits& limits) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK || !features.has_animation) return nullptr;
  // The decoder allocates its canvases as it starts.
  AdmitImageWithPixels<EWebPError>(limits, features.width, features.height, kInvalid);
  if (WebPFrameCount(bytes) < 2) return nullptr;
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) throw EWebPError("WebP decoder version mismatch");
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  const WebPData data{bytes.data(), bytes.size()};
  std::unique_ptr<WebPAnimDecoder, TAnimDecoderDeleter> decoder(WebPAnimDecoderNew(&data, &options));
  if (!decoder) throw EWebPError(std::string(kInvalid) + "the animation cannot be read");
  WebPAnimInfo info;
  if (!WebPAnimDecoderGetInfo(decoder.get(), &info)) throw EWebPError(std::string(kInvalid) + "the animation cannot be read");
  if (int64_t(info.canvas_width) != features.width || int64_t(info.canvas_height) != features.height)
    throw EWebPError(std::string(kInvalid) + "the animation's canvas does not match its header");
  // The vector's buffer, which the decoder reads, moves with it into the source.
  return std::make_unique<TWebPFrames>(std::move(bytes), std::move(decoder), info);
}

std::unique_ptr<TFrameSink> MakeWebPFrameSink(TStream& out, int32_t width, int32_t height, TAnimationPlays plays,
                                              const TEncodeOptions& options) {
  return std::make_unique<TWebPFrameSink>(out, width, height, plays, options);
}

}  // namespace pellavo
