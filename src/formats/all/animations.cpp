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
};

// The formats whose animations are read and written frame by frame.
const std::array<TAnimatedFormat, 2> kAnimatedFormats = {{
    {&TGIFImage::StaticClass, TOutputFormat::Gif, &OpenGIFFrames},
    {&TWebPImage::StaticClass, TOutputFormat::Webp, &OpenWebPFrames},
}};

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

bool WritesAnimations(TOutputFormat format) {
  for (const TAnimatedFormat& f : kAnimatedFormats)
    if (f.Format == format) return true;
  return false;
}

std::unique_ptr<TFrameSink> MakeFrameSink(TOutputFormat format, TStream& out, int32_t width, int32_t height,
                                          TAnimationPlays plays, const TEncodeOptions& options, bool may_be_transparent) {
  switch (format) {
    case TOutputFormat::Gif: return MakeGIFFrameSink(out, width, height, plays, may_be_transparent);
    case TOutputFormat::Webp: return MakeWebPFrameSink(out, width, height, plays, options);
    default: return nullptr;
  }
}

}  // namespace pellavo
