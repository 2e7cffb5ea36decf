#include "app/picture_to_qimage.h"

#include "core/errors.h"
#include "formats/graphic.h"

namespace pellavo {

static_assert(sizeof(QRgb) == sizeof(TColor32));

QImage DrawToImage(TGraphic& graphic, QSize size, TColor32 background) {
  QImage image(size, kPixelFormat);
  if (image.isNull() && !size.isEmpty()) throw EOutOfMemory("Out of memory");
  if (image.isNull()) return image;
  // 32-bit rows need no padding, which is what lets the graphic take the image as its target.
  Q_ASSERT(image.bytesPerLine() == qsizetype{size.width()} * 4);
  image.fill(QRgb{background});
  auto* bits = reinterpret_cast<TColor32*>(image.bits());
  graphic.Draw(TPixels32{bits, size.width(), size.height()}, TRect{0, 0, size.width(), size.height()});
  // A 32-bit bitmap hands over its fourth byte as it is, and that byte means nothing on screen;
  // the image format wants it opaque.
  for (TColor32 *p = bits, *end = bits + qsizetype{size.width()} * size.height(); p != end; ++p) *p |= kOpaque;
  return image;
}

QImage ImageView(const TColor32* pixels, int32_t width, int32_t height) {
  return QImage(reinterpret_cast<const uchar*>(pixels), width, height, qsizetype{width} * 4, kPixelFormat);
}

}  // namespace pellavo
