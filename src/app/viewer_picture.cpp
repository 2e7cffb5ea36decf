#include "app/viewer_picture.h"

#include "app/gif_animation.h"
#include "app/picture_to_qimage.h"
#include "app/viewer_geometry.h"
#include "formats/gif/gif_image.h"
#include "formats/jpeg/jpeg.h"
#include "formats/picture.h"

namespace pellavo {
namespace {

TJPEGImage* AsJpeg(TPicture& picture) {
  TGraphic* g = picture.Graphic();
  return g && g->Is(TJPEGImage::StaticClass()) ? static_cast<TJPEGImage*>(g) : nullptr;
}

const TGIFImage* AsAnimatedGif(const TPicture& picture) {
  const TGraphic* g = picture.Graphic();
  if (!g || !g->Is(TGIFImage::StaticClass())) return nullptr;
  const auto* gif = static_cast<const TGIFImage*>(g);
  return gif->FrameCount() > 1 ? gif : nullptr;
}

}  // namespace

TViewerPicture::TViewerPicture(const std::string& path, QSize shown, QSize largest, TColor32 background)
    : picture_(std::make_unique<TPicture>()), background_(background) {
  picture_->ReadFromFile(path);
  if (TJPEGImage* jpeg = AsJpeg(*picture_)) {
    // The caption gives the stored size, which a reduced decoding does not change.
    const auto& data = jpeg->Data();
    full_size_ = data ? QSize(data->Width, data->Height) : QSize(jpeg->Width(), jpeg->Height());
    jpeg->SetDecodeScale(JpegScaleFor(full_size_, FitPicture(full_size_, shown)));
    image_ = DrawToImage(*jpeg, QSize(jpeg->Width(), jpeg->Height()), background_);
    return;
  }
  full_size_ = QSize(picture_->Width(), picture_->Height());
  const QSize drawn = FitPicture(full_size_, largest);
  if (const TGIFImage* gif = AsAnimatedGif(*picture_)) {
    animation_ = std::make_unique<TGifAnimation>(*gif, drawn.width(), drawn.height(), background_);
    image_ = ImageView(animation_->Pixels(), animation_->Width(), animation_->Height());
    return;
  }
  image_ = DrawToImage(*picture_->Graphic(), drawn, background_);
}

TViewerPicture::~TViewerPicture() = default;

bool TViewerPicture::ShowAt(QSize shown) {
  TJPEGImage* jpeg = AsJpeg(*picture_);
  if (!jpeg) return false;
  const QSize wanted = FitPicture(full_size_, shown);
  if (image_.width() >= wanted.width() && image_.height() >= wanted.height()) return false;
  jpeg->SetDecodeScale(JpegScaleFor(full_size_, wanted));
  image_ = DrawToImage(*jpeg, QSize(jpeg->Width(), jpeg->Height()), background_);
  return true;
}

int TViewerPicture::Frame() const { return animation_ ? animation_->Frame() : 0; }

std::optional<int> TViewerPicture::FrameDelayMs() const { return animation_ ? animation_->DelayMs() : std::nullopt; }

void TViewerPicture::NextFrame() {
  if (animation_) animation_->Advance();
}

}  // namespace pellavo
