#include "formats/metafile/metafile.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/errors.h"
#include "core/files.h"
#include "core/muldiv.h"
#include "core/paths.h"
#include "formats/metafile/cairo_handles.h"
#include "formats/metafile/playback.h"
#include "formats/metafile/records.h"

namespace pellavo {

using namespace metafile;

namespace {

[[noreturn]] void Invalid() { throw EInvalidGraphic("Metafile is not valid"); }

int32_t NonNegative(int32_t v) { return std::max(v, 0); }

uint16_t PlaceableChecksum(const uint8_t* header) {
  uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= Get16(header + 2 * i);
  return sum;
}

}  // namespace

PELLAVO_DEFINE_GRAPHIC(TMetafile, TGraphic)

int32_t TMetafile::Width() const { return width_; }
int32_t TMetafile::Height() const { return height_; }

void TMetafile::SetWidth(int32_t width) {
  width_ = NonNegative(width);
  if (data_) mm_width_ = NonNegative(MulDiv(width_, 2540, 96));
}

void TMetafile::SetHeight(int32_t height) {
  height_ = NonNegative(height);
  if (data_) mm_height_ = NonNegative(MulDiv(height_, 2540, 96));
}

void TMetafile::Assign(const TGraphic& source) {
  if (source.Is(TMetafile::StaticClass())) {
    *this = static_cast<const TMetafile&>(source);  // the records are shared, never changed
    return;
  }
  TGraphic::Assign(source);
}

void TMetafile::InstallEmf(std::vector<uint8_t> emf) {
  TEmfInfo info;
  if (!ParseEmfHeader(emf.data(), emf.size(), info)) Invalid();
  EmfSizeHmm(info, mm_width_, mm_height_);
  width_ = NonNegative(MulDiv(mm_width_, 96, 2540));
  height_ = NonNegative(MulDiv(mm_height_, 96, 2540));
  data_ = std::make_shared<const std::vector<uint8_t>>(std::move(emf));
  data_is_emf_ = true;
}

void TMetafile::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  const int64_t remaining = stream.Remaining();
  if (remaining > 100) {
    uint8_t head[52];
    stream.ReadBuffer(head, sizeof head);
    if (Get32(head) == EMR_HEADER && Get32(head + 40) == kEmfSignature) {
      const uint32_t total = Get32(head + 48);
      if (total < kEmfHeaderMin || total > remaining) Invalid();
      std::vector<uint8_t> emf(total);
      std::memcpy(emf.data(), head, sizeof head);
      stream.ReadBuffer(emf.data() + sizeof head, total - sizeof head);
      TEmfInfo info;
      if (!ParseEmfHeader(emf.data(), emf.size(), info)) Invalid();
      // The frame is the surface the records are played onto.
      int32_t mm_width = 0, mm_height = 0;
      EmfSizeHmm(info, mm_width, mm_height);
      AdmitImage(DecodeLimits(), MulDiv(mm_width, 96, 2540), MulDiv(mm_height, 96, 2540));
      InstallEmf(std::move(emf));
      enhanced_ = true;
      return;
    }
    stream.Seek(start);
  }

  if (remaining < static_cast<int64_t>(kPlaceableSize + kWmfHeaderSize)) Invalid();
  uint8_t header[kPlaceableSize];
  stream.ReadBuffer(header, sizeof header);
  if (Get32(header) != kPlaceableKey || PlaceableChecksum(header) != Get16(header + 20)) Invalid();
  std::vector<uint8_t> wmf = stream.ReadToEnd();
  // The Windows metafile header that follows: memory or disk type, nine words long.
  if (wmf.size() < kWmfHeaderSize) Invalid();
  const uint16_t type = Get16(&wmf[0]), header_words = Get16(&wmf[2]);
  if ((type != kWmfInMemory && type != kWmfOnDisk) || header_words != kWmfHeaderWords) Invalid();
  const uint64_t words = Get32(&wmf[6]);
  if (words * 2 >= kWmfHeaderSize && words * 2 < wmf.size()) wmf.resize(static_cast<size_t>(words * 2));

  for (int i = 0; i < 4; ++i) bbox_[i] = GetS16(header + 6 + 2 * i);
  inch_ = Get16(header + 14);
  const int32_t inch = inch_ ? inch_ : 96;
  const int32_t w = std::abs(int32_t{bbox_[2]} - bbox_[0]), h = std::abs(int32_t{bbox_[3]} - bbox_[1]);
  AdmitImage(DecodeLimits(), MulDiv(w, 96, inch), MulDiv(h, 96, inch));
  mm_width_ = NonNegative(MulDiv(w, 2540, inch));
  mm_height_ = NonNegative(MulDiv(h, 2540, inch));
  width_ = NonNegative(MulDiv(w, 96, inch));
  height_ = NonNegative(MulDiv(h, 96, inch));
  data_ = std::make_shared<const std::vector<uint8_t>>(std::move(wmf));
  data_is_emf_ = false;
  enhanced_ = false;
}

void TMetafile::Draw(const TPixels32& target, const TRect& rect) {
  if (!data_ || !target.Bits || IsRectEmpty(rect)) return;
  TRect area;
  if (!IntersectRect(area, rect, Rect(0, 0, target.Width, target.Height)) || IsRectEmpty(area)) return;
  // Cairo stops compositing images onto surfaces as wide as its limit of 32767 pixels, so
  // large areas are played band by band.
  constexpr int32_t kBand = 8192;
  for (int32_t top = area.Top; top < area.Bottom; top += kBand)
    for (int32_t left = area.Left; left < area.Right; left += kBand)
      DrawArea(target, rect,
               Rect(left, top, left + std::min(kBand, area.Right - left), top + std::min(kBand, area.Bottom - top)));
}

void TMetafile::DrawArea(const TPixels32& target, const TRect& rect, const TRect& area) {
  // Cairo's image surfaces hold premultiplied alpha, the target does not: play onto an opaque
  // copy of the area and take back only the pixels that changed.
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, area.Width());
  std::vector<uint32_t> copy(static_cast<size_t>(stride / 4) * static_cast<size_t>(area.Height()));
  const auto row = [&](int32_t y) { return copy.data() + static_cast<size_t>(y) * static_cast<size_t>(stride / 4); };
  for (int32_t y = 0; y < area.Height(); ++y) {
    const TColor32* src = target.Row(area.Top + y) + area.Left;
    uint32_t* dst = row(y);
    for (int32_t x = 0; x < area.Width(); ++x) dst[x] = src[x] | kOpaque;
  }
  const TSurfacePtr surface(cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(copy.data()), CAIRO_FORMAT_ARGB32, area.Width(), area.Height(), stride));
  if (!SurfaceOk(surface)) throw EOutOfMemory("Out of memory");
  cairo_surface_set_device_offset(surface.get(), -area.Left, -area.Top);
  {
    const TContextPtr cr(cairo_create(surface.get()));
    if (data_is_emf_)
      PlayEmf(*data_, cr.get(), area, rect);
    else
      PlayWmf(*data_, bbox_, inch_, cr.get(), area, rect);
  }
  cairo_surface_flush(surface.get());

  for (int32_t y = 0; y < area.Height(); ++y) {
    TColor32* dst = target.Row(area.Top + y) + area.Left;
    const uint32_t* src = row(y);
    for (int32_t x = 0; x < area.Width(); ++x)
      if (src[x] != (dst[x] | kOpaque)) dst[x] = src[x] | kOpaque;
  }
}

TBitmap TMetafile::Rasterize() {
  const int32_t w = std::max(Width(), 1), h = std::max(Height(), 1);
  TBitmap out(w, h, TPixelFormat::pf32bit);
  std::vector<TColor32> pixels(static_cast<size_t>(w) * static_cast<size_t>(h), 0xFFFFFFFFu);
  Draw(TPixels32{pixels.data(), w, h}, Rect(0, 0, w, h));
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(out.ScanLine(y), pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w),
                static_cast<size_t>(w) * 4);
  return out;
}

void TMetafile::SaveToStream(TStream& stream) {
  if (enhanced_)
    SaveAsEmf(stream);
  else
    SaveAsWmf(stream);
}

void TMetafile::SaveAsEmf(TStream& stream) {
  if (data_ && data_is_emf_) {
    stream.WriteBuffer(data_->data(), data_->size());
    return;
  }
  TMetafile converted;
  converted.SetWidth(Width());
  converted.SetHeight(Height());
  {
    TMetafileCanvas canvas(converted);
    // A Windows metafile has no records of ours to carry over: it is played into a bitmap.
    if (data_) canvas.Draw(0, 0, Rasterize());
    canvas.Close();
  }
  // Keep the size in 0.01 mm that the metafile had.
  std::vector<uint8_t> emf = *converted.data_;
  if (data_ && emf.size() >= 40) {
    TByteWriter w(emf);
    w.Patch32(32, static_cast<uint32_t>(mm_width_));
    w.Patch32(36, static_cast<uint32_t>(mm_height_));
  }
  stream.WriteBuffer(emf.data(), emf.size());
}

void TMetafile::WriteToFile(const std::string& path) {
  TSafeOutput out(path, true);
  if (LowerAscii(ExtractFileExt(path)) == ".wmf")
    SaveAsWmf(out.Stream());
  else
    SaveAsEmf(out.Stream());
  out.Commit();
}

}  // namespace pellavo
