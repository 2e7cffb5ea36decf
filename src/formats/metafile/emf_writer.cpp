// Recording of enhanced metafiles: the header, our bitmap records and the end record.
#include <algorithm>
#include <limits>

#include "core/errors.h"
#include "core/muldiv.h"
#include "formats/metafile/metafile.h"
#include "formats/metafile/records.h"

namespace pellavo {
namespace metafile {

std::vector<uint8_t> EmfHeader(const int32_t bounds[4], const int32_t frame[4], uint64_t total_bytes,
                               uint32_t records, uint16_t handles) {
  if (total_bytes > std::numeric_limits<uint32_t>::max())
    throw EInvalidGraphic("Image is too large for an enhanced metafile");
  std::vector<uint8_t> out;
  TByteWriter w(out);
  w.U32(EMR_HEADER);
  w.U32(kEmfHeaderSize);
  for (int i = 0; i < 4; ++i) w.S32(bounds[i]);
  for (int i = 0; i < 4; ++i) w.S32(frame[i]);
  w.U32(kEmfSignature);
  w.U32(kEmfVersion);
  w.U32(static_cast<uint32_t>(total_bytes));
  w.U32(records);
  w.U16(handles);
  w.U16(0);
  w.U32(0);  // no description
  w.U32(0);
  w.U32(0);  // no palette
  w.S32(kRefDeviceWidth);
  w.S32(kRefDeviceHeight);
  w.S32(kRefDeviceMmWidth);
  w.S32(kRefDeviceMmHeight);
  w.U32(0);  // no pixel format
  w.U32(0);
  w.U32(0);  // not OpenGL
  w.S32(kRefDeviceMmWidth * 1000);
  w.S32(kRefDeviceMmHeight * 1000);
  return out;
}

void AppendEmfEof(std::vector<uint8_t>& out) {
  TByteWriter w(out);
  w.U32(EMR_EOF);
  w.U32(kEmfEofSize);
  w.U32(0);   // no palette entries
  w.U32(16);  // where they would start
  w.U32(kEmfEofSize);
}

TDibParts DibOf(const TBitmap& b) {
  TDibParts parts;
  const bool masks = b.PixelFormat() == TPixelFormat::pf16bit;
  const size_t colors = b.BitsPerPixel() <= 8 ? b.Palette().size() : 0;
  TByteWriter w(parts.Info);
  w.U32(kBitmapInfoHeaderSize);
  w.S32(b.Width());
  w.S32(b.Height());
  w.U16(1);
  w.U16(static_cast<uint16_t>(b.BitsPerPixel()));
  w.U32(masks ? kBiBitfields : kBiRgb);
  w.U32(static_cast<uint32_t>(std::min<uint64_t>(b.StoredRows().size(), std::numeric_limits<uint32_t>::max())));
  w.U32(0);
  w.U32(0);
  w.U32(static_cast<uint32_t>(colors));
  w.U32(0);
  if (masks) {
    w.U32(0xF800);
    w.U32(0x07E0);
    w.U32(0x001F);
  }
  for (size_t i = 0; i < colors; ++i) {
    const TRGBQuad& q = b.Palette()[i];
    w.U8(q.Blue);
    w.U8(q.Green);
    w.U8(q.Red);
    w.U8(0);
  }
  parts.Bits = &b.StoredRows();
  return parts;
}

}  // namespace metafile

using namespace metafile;

// The header's place is kept at the front so that closing never copies the records.
TMetafileCanvas::TMetafileCanvas(TMetafile& metafile) : metafile_(&metafile), records_(kEmfHeaderSize) {}

TMetafileCanvas::~TMetafileCanvas() {
  try {
    Close();
  } catch (...) {
    // A canvas dropped while an error propagates installs what it can; Close() reports.
  }
}

void TMetafileCanvas::Draw(int32_t x, int32_t y, const TBitmap& bitmap) {
  StretchDraw(Rect(x, y, x + bitmap.Width(), y + bitmap.Height()), bitmap);
}

void TMetafileCanvas::StretchDraw(const TRect& rect, const TBitmap& bitmap) {
  if (!metafile_) throw EInvalidGraphicOperation("The metafile recording is closed");
  if (bitmap.Empty() || IsRectEmpty(rect)) return;
  const TDibParts dib = DibOf(bitmap);
  const uint64_t size = kEmrStretchBltSize + uint64_t(dib.Info.size()) + dib.Bits->size();
  if (records_.size() + size + kEmfEofSize > std::numeric_limits<uint32_t>::max())
    throw EInvalidGraphic("Image is too large for an enhanced metafile");
  records_.reserve(records_.size() + static_cast<size_t>(size));
  TByteWriter w(records_);
  w.U32(EMR_STRETCHBLT);
  w.U32(static_cast<uint32_t>(size));
  w.S32(rect.Left);  // bounds, inclusive
  w.S32(rect.Top);
  w.S32(rect.Right - 1);
  w.S32(rect.Bottom - 1);
  w.S32(rect.Left);
  w.S32(rect.Top);
  w.S32(rect.Width());
  w.S32(rect.Height());
  w.U32(kSrcCopy);
  w.S32(0);  // source origin
  w.S32(0);
  const float identity[6] = {1, 0, 0, 1, 0, 0};
  for (float f : identity) w.F32(f);
  w.U32(0);  // source background colour
  w.U32(kDibRgbColors);
  // The information header right after the record's fixed part, the bits after it.
  w.U32(kEmrStretchBltSize);
  w.U32(static_cast<uint32_t>(dib.Info.size()));
  w.U32(static_cast<uint32_t>(kEmrStretchBltSize + dib.Info.size()));
  w.U32(static_cast<uint32_t>(dib.Bits->size()));
  w.S32(bitmap.Width());
  w.S32(bitmap.Height());
  w.Bytes(dib.Info.data(), dib.Info.size());
  w.Bytes(dib.Bits->data(), dib.Bits->size());
  ++count_;
  if (!any_) {
    bounds_ = Rect(rect.Left, rect.Top, rect.Right - 1, rect.Bottom - 1);
    any_ = true;
  } else {
    bounds_ = Rect(std::min(bounds_.Left, rect.Left), std::min(bounds_.Top, rect.Top),
                   std::max(bounds_.Right, rect.Right - 1), std::max(bounds_.Bottom, rect.Bottom - 1));
  }
}

void TMetafileCanvas::Close() {
  if (!metafile_) return;
  TMetafile& mf = *metafile_;
  metafile_ = nullptr;
  const int32_t w = std::max(mf.Width(), 0), h = std::max(mf.Height(), 0);
  const int32_t frame[4] = {0, 0, std::max(MulDiv(w, kRefDeviceMmWidth * 100, kRefDeviceWidth), 0),
                            std::max(MulDiv(h, kRefDeviceMmHeight * 100, kRefDeviceHeight), 0)};
  const int32_t bounds[4] = {bounds_.Left, bounds_.Top, bounds_.Right, bounds_.Bottom};
  const uint64_t total = records_.size() + kEmfEofSize;
  const std::vector<uint8_t> header = EmfHeader(bounds, frame, total, count_ + 2, 1);
  std::copy(header.begin(), header.end(), records_.begin());
  AppendEmfEof(records_);
  std::vector<uint8_t> emf = std::move(records_);
  records_.clear();
  mf.InstallEmf(std::move(emf));
}

void SaveBitmapAsEmf(const TBitmap& bitmap, TStream& out) {
  TMetafile mf;
  mf.SetWidth(bitmap.Width());
  mf.SetHeight(bitmap.Height());
  {
    TMetafileCanvas canvas(mf);
    canvas.Draw(0, 0, bitmap);
    canvas.Close();
  }
  mf.SetEnhanced(true);
  mf.SaveToStream(out);
}

}  // namespace pellavo
