#include "formats/all/animations.h"

#include <array>

#include "core/paths.h"
#include "formats/gif/gif_frames.h"
#include "formats/gif/gif_image.h"
#include "formats/registry.h"
#include "formats/webp/webp_frames.h"
#include "formats/webp/webp_image.h"

namespace pellavo {
namespace {

struct TAnimatedFormat {
  const TGraphicClass& (*Class)();
  TOutputFormat Format;
  std::unique_ptr<TFrameSource> (*Open)(std::vector<uint8_t> bytes, const TDecodeLimits& limits);
  std::unique_ptr<TFrameSink> (*Make)(TStream& out, int32_t width, int32_t height, TAnimationPlays plays,
                                      const TEncodeOptions& options, bool may_be_transparent);
};

// The formats whose animations are read and written frame by frame.
const std::array<TAnimatedFormat, 2> kAnimatedFormats = {{
    {&TGIFImage::StaticClass, TOutputFormat::Gif, &OpenGIFFrames,
     [](TStream& out, int32_t width, int32_t height, TAnimationPlays plays, const TEncodeOptions&, bool may_be_transparent) {
       return MakeGIFFrameSink(out, width, height, plays, may_be_transparent);
     }},
    {&TWebPImage::StaticClass, TOutputFormat::Webp, &OpenWebPFrames,
     [](TStream& out, int32_t width, int32_t height, TAnimationPlays plays, const TEncodeOptions& options, bool) {
       return MakeWebPFrameSink(out, width, height, plays, options);
     }},
}};

const TAnimatedFormat* Written(TOutputFormat format) {
  for (const TAnimatedFormat& f : kAnimatedFormats)
    if (f.Format == format) return &f;
  return nullptr;
}

}  // namespace

std::unique_ptr<TFrameSource> OpenFrameSource(const std::string& path, const TDecodeLimits& limits) {
  std::string ext = ExtractFileExt(path);
  if (!ext.empty()) ext.erase(0, 1);
  const TGraphicClass* cls = FindByExtension(ext);
  if (!cls) return nullptr;
  for (const TAnimatedFormat& f : kAnimatedFormats)
    if (cls == &f.Class()) return f.Open(TFileStream::OpenRead(path).ReadToEnd(), limits);
  return nullptr;
}

bool WritesAnimations(TOutputFormat format) { return Written(format) != nullptr; }

std::unique_ptr<TFrameSink> MakeFrameSink(TOutputFormat format, TStream& out, int32_t width, int32_t height,
                                          TAnimationPlays plays, const TEncodeOptions& options, bool may_be_transparent) {
  const TAnimatedFormat* f = Written(format);
  return f ? f->Make(out, width, height, plays, options, may_be_transparent) : nullptr;
}

}  // namespace pellavo
