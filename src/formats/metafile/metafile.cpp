#include "formats/metafile/metafile.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "core/files.h"
#include "core/muldiv.h"
#include "core/paths.h"
#include "formats/metafile/playback.h"
#include "formats/metafile/records.h"

namespace pellavo {

using namespace metafile;

namespace {

[[noreturn]] void Invalid() { throw EInvalidGraphic("Metafile is not valid"); }

int32_t NonNegative(int32_t v) { return std::max(v, 0); }

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
      InstallEmf(std::move(emf));
      enhanced_ = true;
      return;
    }
    stream.Seek(start);
  }

  Invalid();
}

void TMetafile::Draw(const TPixels32& target, const TRect& rect) {
  if (!data_ || !target.Bits || IsRectEmpty(rect)) return;
  TRect area;
  if (!IntersectRect(area, rect, Rect(0, 0, target.Width, target.Height)) || IsRectEmpty(area)) return;

  // Cairo's image surfaces hold premultiplied alpha, the target does not: play onto an opaque
  // copy of the area and take back only the pixels that changed.
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, area.Width(), area.Height());
  struct TSurfaceGuard {
    cairo_surface_t* s;
    ~TSurfaceGuard() { cairo_surface_destroy(s); }
  } guard{surface};
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) throw EOutOfMemory("Out of memory");
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const auto row = [&](int32_t y) { return reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride); };
  cairo_surface_flush(surface);
  for (int32_t y = 0; y < area.Height(); ++y) {
    const TColor32* src = target.Row(area.Top + y) + area.Left;
    uint32_t* dst = row(y);
    for (int32_t x = 0; x < area.Width(); ++x) dst[x] = src[x] | kOpaque;
  }
  cairo_surface_mark_dirty(surface);
  cairo_surface_set_device_offset(surface, -area.Left, -area.Top);

  cairo_t* cr = cairo_create(surface);
  struct TContextGuard {
    cairo_t* c;
    ~TContextGuard() { cairo_destroy(c); }
  } cr_guard{cr};
  PlayEmf(*data_, cr, area, rect);
  cairo_surface_flush(surface);

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
  SaveAsEmf(stream);
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
  SaveAsEmf(out.Stream());
  out.Commit();
}

}  // namespace pellavo
