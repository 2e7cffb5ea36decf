// Placeable Windows metafiles. A WMF that was read is written back as it came; an enhanced
// metafile whose records are bitmaps on an untransformed page (our own output) becomes one
// bitmap record per bitmap; any other is played into a bitmap that becomes the only record.
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/errors.h"
#include "formats/metafile/metafile.h"
#include "formats/metafile/playback.h"
#include "formats/metafile/records.h"

namespace pellavo {

using namespace metafile;

namespace {

struct TWmfBlit {
  double X0, Y0, X1, Y1;  // destination, EMF device units
  int32_t SrcX, SrcY, SrcW, SrcH;  // in the DIB's own terms (rows from the bottom when bottom-up)
  uint32_t Rop;
  std::vector<uint8_t> Dib;  // information header, colour table and bits, contiguous
};

// The height of a DIB from its information header, and whether its rows run bottom-up.
bool DibHeight(const uint8_t* bmi, size_t size, int32_t& height, bool& bottom_up) {
  if (size < kBitmapCoreHeaderSize) return false;
  const uint32_t header = Get32(bmi);
  if (header == kBitmapCoreHeaderSize) {
    height = Get16(bmi + 6);
    bottom_up = true;
    return true;
  }
  if (header < kSignedHeightHeaderMin || header > size) return false;
  const int32_t h = GetS32(bmi + 8);
  if (h == INT32_MIN) return false;
  bottom_up = h > 0;
  height = std::abs(h);
  return true;
}

// The bitmap records of an enhanced metafile, or false when it holds anything a bitmap record
// list cannot express.
bool CollectBlits(const std::vector<uint8_t>& emf, std::vector<TWmfBlit>& out) {
  size_t off = 0;
  bool ended = false;
  while (!ended && off + 8 <= emf.size()) {
    const uint32_t type = Get32(&emf[off]), size = Get32(&emf[off + 4]);
    if (size < 8 || size > emf.size() - off) return false;
    const TRecordView r(&emf[off], size);
    off += size;
    switch (type) {
      case EMR_HEADER:
      case EMR_SETSTRETCHBLTMODE:
      case EMR_SETBKCOLOR:
      case EMR_SETTEXTCOLOR:
      case EMR_SETBKMODE:
      case EMR_SETPOLYFILLMODE:
      case EMR_SETROP2:
      case EMR_SETTEXTALIGN:
      case EMR_SETBRUSHORGEX:
      case EMR_SETMITERLIMIT:
      case EMR_GDICOMMENT:
      case EMR_SAVEDC:
      case EMR_RESTOREDC:
      case EMR_SELECTOBJECT:
      case EMR_DELETEOBJECT:
      case EMR_CREATEPEN:
      case EMR_CREATEBRUSHINDIRECT:
      case EMR_EXTCREATEFONTINDIRECTW:
      case EMR_SETICMMODE:
        break;
      case EMR_SETMAPMODE:
        if (r.S32(8) != kMmText) return false;
        break;
      case EMR_EOF: ended = true; break;
      case EMR_BITBLT:
      case EMR_STRETCHBLT: {
        const bool stretch = type == EMR_STRETCHBLT;
        if (!r.Has(0, stretch ? kEmrStretchBltSize : kEmrBitBltSize)) return false;
        const float identity[6] = {1, 0, 0, 1, 0, 0};
        for (int i = 0; i < 6; ++i)
          if (r.F32(52 + 4 * i) != identity[i]) return false;
        const uint32_t off_bmi = r.U32(84), cb_bmi = r.U32(88), off_bits = r.U32(92), cb_bits = r.U32(96);
        int32_t height;
        bool bottom_up;
        if (cb_bmi == 0 || !r.Has(off_bmi, cb_bmi) || !r.Has(off_bits, cb_bits) ||
            !DibHeight(r.At(off_bmi), cb_bmi, height, bottom_up))
          return false;
        TWmfBlit b;
        b.X0 = r.S32(24), b.Y0 = r.S32(28);
        b.X1 = b.X0 + r.S32(32), b.Y1 = b.Y0 + r.S32(36);
        b.Rop = r.U32(40);
        b.SrcX = r.S32(44);
        b.SrcW = stretch ? r.S32(100) : r.S32(32);
        b.SrcH = stretch ? r.S32(104) : r.S32(36);
        const int64_t top = r.S32(48);
        b.SrcY = bottom_up ? static_cast<int32_t>(std::clamp<int64_t>(height - top - b.SrcH, INT32_MIN, INT32_MAX))
                           : static_cast<int32_t>(top);
        b.Dib.assign(r.At(off_bmi), r.At(off_bmi) + cb_bmi);
        b.Dib.insert(b.Dib.end(), r.At(off_bits), r.At(off_bits) + cb_bits);
        out.push_back(std::move(b));
        break;
      }
      case EMR_STRETCHDIBITS:
      case EMR_SETDIBITSTODEVICE: {
        const bool stretch = type == EMR_STRETCHDIBITS;
        if (!r.Has(0, stretch ? kEmrStretchDiBitsSize : kEmrSetDiBitsToDeviceSize)) return false;
        const uint32_t off_bmi = r.U32(48), cb_bmi = r.U32(52), off_bits = r.U32(56), cb_bits = r.U32(60);
        if (cb_bmi == 0 || !r.Has(off_bmi, cb_bmi) || !r.Has(off_bits, cb_bits)) return false;
        TWmfBlit b;
        b.X0 = r.S32(24), b.Y0 = r.S32(28);
        b.SrcX = r.S32(32), b.SrcY = r.S32(36), b.SrcW = r.S32(40), b.SrcH = r.S32(44);
        b.X1 = b.X0 + (stretch ? r.S32(72) : b.SrcW);
        b.Y1 = b.Y0 + (stretch ? r.S32(76) : b.SrcH);
        b.Rop = stretch ? r.U32(68) : kSrcCopy;
        b.Dib.assign(r.At(off_bmi), r.At(off_bmi) + cb_bmi);
        b.Dib.insert(b.Dib.end(), r.At(off_bits), r.At(off_bits) + cb_bits);
        out.push_back(std::move(b));
        break;
      }
      default: return false;
    }
  }
  return true;
}

[[noreturn]] void TooLarge() { throw EInvalidGraphic("Image is too large for a Windows metafile"); }

int16_t Coord(double v) {
  if (!std::isfinite(v)) TooLarge();
  v = std::round(v);
  if (v < INT16_MIN || v > INT16_MAX) TooLarge();
  return static_cast<int16_t>(v);
}

class TWmfWriter {
 public:
  explicit TWmfWriter(std::vector<uint8_t>& out) : out_(out), w_(out) {
    w_.U16(kWmfInMemory);
    w_.U16(kWmfHeaderWords);
    w_.U16(kWmfVersion3);
    w_.U32(0);  // size, patched
    w_.U16(0);  // no objects
    w_.U32(0);  // largest record, patched
    w_.U16(0);
  }

  void Record(uint16_t function, std::initializer_list<int16_t> params) {
    Begin(function, 2 * params.size());
    for (int16_t p : params) w_.S16(p);
  }

  void StretchDib(const int16_t dest[4], const TWmfBlit& b) {
    const uint64_t dib = (b.Dib.size() + 1) & ~uint64_t{1};
    Begin(META_STRETCHDIB, 4 + 2 + 16 + dib);
    w_.U32(b.Rop);
    w_.U16(kDibRgbColors);
    w_.S16(Coord(b.SrcH));
    w_.S16(Coord(b.SrcW));
    w_.S16(Coord(b.SrcY));
    w_.S16(Coord(b.SrcX));
    w_.S16(dest[3]);  // height
    w_.S16(dest[2]);  // width
    w_.S16(dest[1]);
    w_.S16(dest[0]);
    w_.Bytes(b.Dib.data(), b.Dib.size());
    if (b.Dib.size() & 1) w_.U8(0);
  }

  void Finish() {
    Begin(META_EOF, 0);
    if (out_.size() / 2 > std::numeric_limits<uint32_t>::max()) TooLarge();
    w_.Patch32(6, static_cast<uint32_t>(out_.size() / 2));
    w_.Patch32(12, max_words_);
  }

 private:
  void Begin(uint16_t function, uint64_t param_bytes) {
    const uint64_t words = 3 + param_bytes / 2;
    if (words > std::numeric_limits<uint32_t>::max()) TooLarge();
    max_words_ = std::max(max_words_, static_cast<uint32_t>(words));
    w_.U32(static_cast<uint32_t>(words));
    w_.U16(function);
  }

  std::vector<uint8_t>& out_;
  TByteWriter w_;
  uint32_t max_words_ = 3;
};

void WritePlaceable(TStream& stream, const int16_t bbox[4], uint16_t inch, const std::vector<uint8_t>& wmf) {
  std::vector<uint8_t> header;
  TByteWriter w(header);
  w.U32(kPlaceableKey);
  w.U16(0);
  for (int i = 0; i < 4; ++i) w.S16(bbox[i]);
  w.U16(inch);
  w.U32(0);
  uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= Get16(&header[2 * size_t(i)]);
  w.U16(sum);
  stream.WriteBuffer(header.data(), header.size());
  stream.WriteBuffer(wmf.data(), wmf.size());
}

}  // namespace

void TMetafile::SaveAsWmf(TStream& stream) {
  if (data_ && !data_is_emf_) {
    WritePlaceable(stream, bbox_, inch_, *data_);
    return;
  }
  // The bounding box is the picture's pixel size at 96 per inch. Bitmap records give their
  // source in 16-bit values too, so a larger picture cannot be written.
  const int32_t w = std::max(Width(), 1), h = std::max(Height(), 1);
  if (w > INT16_MAX || h > INT16_MAX) TooLarge();
  const int16_t bbox[4] = {0, 0, static_cast<int16_t>(w), static_cast<int16_t>(h)};

  std::vector<TWmfBlit> blits;
  TEmfInfo info;
  const bool direct = data_ && ParseEmfHeader(data_->data(), data_->size(), info) && CollectBlits(*data_, blits);
  if (!direct) {
    blits.clear();
    info = TEmfInfo{};
    info.Frame[2] = MMWidth();
    info.Frame[3] = MMHeight();
    info.DevicePerHmmX = info.DevicePerHmmY = 96.0 / 2540;
  }
  if (!direct && data_) {
    // Played onto white at the picture's size: what cannot be carried over record by record
    // is kept as it looks.
    const TBitmap picture = Rasterize();
    const TDibParts dib = DibOf(picture);
    TWmfBlit b{0, 0, double(w), double(h), 0, 0, picture.Width(), picture.Height(), kSrcCopy, dib.Info};
    b.Dib.insert(b.Dib.end(), dib.Bits->begin(), dib.Bits->end());
    blits.push_back(std::move(b));
  }
  // EMF device units to our units, the way playback maps the frame onto the picture.
  const double fx0 = info.Frame[0] * info.DevicePerHmmX, fy0 = info.Frame[1] * info.DevicePerHmmY;
  const double fx1 = info.Frame[2] * info.DevicePerHmmX, fy1 = info.Frame[3] * info.DevicePerHmmY;
  const double sx = fx1 > fx0 ? double(bbox[2]) / (fx1 - fx0) : 1.0;
  const double sy = fy1 > fy0 ? double(bbox[3]) / (fy1 - fy0) : 1.0;
  const double ox = fx1 > fx0 ? fx0 : 0, oy = fy1 > fy0 ? fy0 : 0;

  std::vector<uint8_t> wmf;
  TWmfWriter out(wmf);
  out.Record(META_SETWINDOWORG, {0, 0});
  out.Record(META_SETWINDOWEXT, {bbox[3], bbox[2]});
  for (const TWmfBlit& b : blits) {
    const int16_t x0 = Coord((b.X0 - ox) * sx), y0 = Coord((b.Y0 - oy) * sy);
    const int16_t x1 = Coord((b.X1 - ox) * sx), y1 = Coord((b.Y1 - oy) * sy);
    const int16_t dest[4] = {x0, y0, Coord(double(x1) - x0), Coord(double(y1) - y0)};
    out.StretchDib(dest, b);
  }
  out.Finish();
  WritePlaceable(stream, bbox, 96, wmf);
}

}  // namespace pellavo
