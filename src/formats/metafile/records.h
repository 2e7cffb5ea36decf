#pragma once
// Record numbers, little-endian access and bounds-checked views shared by the metafile reader,
// writers and player.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/bytes.h"
#include "formats/bmp/bitmap.h"
#include "formats/metafile/gdi_constants.h"

namespace pellavo::metafile {

constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableSize = 22;
constexpr size_t kEmfHeaderMin = 88;

// Enhanced metafile records.
enum EmfRecord : uint32_t {
  EMR_HEADER = 1, EMR_POLYBEZIER = 2, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6, EMR_POLYPOLYLINE = 7, EMR_POLYPOLYGON = 8, EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10, EMR_SETVIEWPORTEXTEX = 11, EMR_SETVIEWPORTORGEX = 12, EMR_SETBRUSHORGEX = 13,
  EMR_EOF = 14, EMR_SETPIXELV = 15, EMR_SETMAPPERFLAGS = 16, EMR_SETMAPMODE = 17, EMR_SETBKMODE = 18,
  EMR_SETPOLYFILLMODE = 19, EMR_SETROP2 = 20, EMR_SETSTRETCHBLTMODE = 21, EMR_SETTEXTALIGN = 22,
  EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR = 25, EMR_OFFSETCLIPRGN = 26, EMR_MOVETOEX = 27,
  EMR_EXCLUDECLIPRECT = 29, EMR_INTERSECTCLIPRECT = 30, EMR_SCALEVIEWPORTEXTEX = 31,
  EMR_SCALEWINDOWEXTEX = 32, EMR_SAVEDC = 33, EMR_RESTOREDC = 34, EMR_SETWORLDTRANSFORM = 35,
  EMR_MODIFYWORLDTRANSFORM = 36, EMR_SELECTOBJECT = 37, EMR_CREATEPEN = 38, EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40, EMR_ANGLEARC = 41, EMR_ELLIPSE = 42, EMR_RECTANGLE = 43, EMR_ROUNDRECT = 44,
  EMR_ARC = 45, EMR_CHORD = 46, EMR_PIE = 47, EMR_LINETO = 54, EMR_ARCTO = 55, EMR_POLYDRAW = 56,
  EMR_SETARCDIRECTION = 57, EMR_SETMITERLIMIT = 58, EMR_BEGINPATH = 59, EMR_ENDPATH = 60,
  EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62, EMR_STROKEANDFILLPATH = 63, EMR_STROKEPATH = 64,
  EMR_FLATTENPATH = 65, EMR_WIDENPATH = 66, EMR_SELECTCLIPPATH = 67, EMR_ABORTPATH = 68,
  EMR_GDICOMMENT = 70, EMR_FILLRGN = 71, EMR_FRAMERGN = 72, EMR_PAINTRGN = 74, EMR_EXTSELECTCLIPRGN = 75,
  EMR_BITBLT = 76, EMR_STRETCHBLT = 77, EMR_MASKBLT = 78, EMR_PLGBLT = 79, EMR_SETDIBITSTODEVICE = 80,
  EMR_STRETCHDIBITS = 81, EMR_EXTCREATEFONTINDIRECTW = 82, EMR_EXTTEXTOUTA = 83, EMR_EXTTEXTOUTW = 84,
  EMR_POLYBEZIER16 = 85, EMR_POLYGON16 = 86, EMR_POLYLINE16 = 87, EMR_POLYBEZIERTO16 = 88,
  EMR_POLYLINETO16 = 89, EMR_POLYPOLYLINE16 = 90, EMR_POLYPOLYGON16 = 91, EMR_POLYDRAW16 = 92,
  EMR_CREATEMONOBRUSH = 93, EMR_CREATEDIBPATTERNBRUSHPT = 94, EMR_EXTCREATEPEN = 95,
  EMR_SETICMMODE = 98, EMR_ALPHABLEND = 114, EMR_TRANSPARENTBLT = 116,
};

// Windows metafile records (the function numbers of the record headers).
enum WmfRecord : uint16_t {
  META_EOF = 0x0000, META_SAVEDC = 0x001E, META_REALIZEPALETTE = 0x0035, META_SETPALENTRIES = 0x0037,
  META_SETBKMODE = 0x0102, META_SETMAPMODE = 0x0103, META_SETROP2 = 0x0104, META_SETRELABS = 0x0105,
  META_SETPOLYFILLMODE = 0x0106, META_SETSTRETCHBLTMODE = 0x0107, META_SETTEXTCHAREXTRA = 0x0108,
  META_RESTOREDC = 0x0127, META_SELECTPALETTE = 0x0234, META_SETTEXTALIGN = 0x012E,
  META_SELECTCLIPREGION = 0x012C, META_SELECTOBJECT = 0x012D, META_DELETEOBJECT = 0x01F0,
  META_SETBKCOLOR = 0x0201, META_SETTEXTCOLOR = 0x0209, META_SETTEXTJUSTIFICATION = 0x020A,
  META_SETWINDOWORG = 0x020B, META_SETWINDOWEXT = 0x020C, META_SETVIEWPORTORG = 0x020D,
  META_SETVIEWPORTEXT = 0x020E, META_OFFSETWINDOWORG = 0x020F, META_OFFSETVIEWPORTORG = 0x0211,
  META_LINETO = 0x0213, META_MOVETO = 0x0214, META_OFFSETCLIPRGN = 0x0220, META_FILLREGION = 0x0228,
  META_SETMAPPERFLAGS = 0x0231, META_CREATEPENINDIRECT = 0x02FA, META_CREATEFONTINDIRECT = 0x02FB,
  META_CREATEBRUSHINDIRECT = 0x02FC, META_POLYGON = 0x0324, META_POLYLINE = 0x0325,
  META_SCALEWINDOWEXT = 0x0410, META_SCALEVIEWPORTEXT = 0x0412, META_EXCLUDECLIPRECT = 0x0415,
  META_INTERSECTCLIPRECT = 0x0416, META_ELLIPSE = 0x0418, META_FLOODFILL = 0x0419, META_RECTANGLE = 0x041B,
  META_SETPIXEL = 0x041F, META_FRAMEREGION = 0x0429, META_TEXTOUT = 0x0521, META_POLYPOLYGON = 0x0538,
  META_EXTFLOODFILL = 0x0548, META_ROUNDRECT = 0x061C, META_PATBLT = 0x061D, META_ESCAPE = 0x0626,
  META_CREATEREGION = 0x06FF, META_ARC = 0x0817, META_PIE = 0x081A, META_CHORD = 0x0830,
  META_BITBLT = 0x0922, META_DIBBITBLT = 0x0940, META_EXTTEXTOUT = 0x0A32, META_STRETCHBLT = 0x0B23,
  META_DIBSTRETCHBLT = 0x0B41, META_SETDIBTODEV = 0x0D33, META_STRETCHDIB = 0x0F43,
  META_DIBCREATEPATTERNBRUSH = 0x0142, META_CREATEPALETTE = 0x00F7,
};

// The fixed parts of the enhanced bitmap records, before their bitmap.
constexpr size_t kEmrBitBltSize = 100, kEmrStretchBltSize = 108, kEmrStretchDiBitsSize = 80,
                 kEmrSetDiBitsToDeviceSize = 76;

inline int16_t GetS16(const uint8_t* p) { return static_cast<int16_t>(Get16(p)); }
inline int32_t GetS32(const uint8_t* p) { return static_cast<int32_t>(Get32(p)); }
inline float GetFloat(const uint8_t* p) {
  const uint32_t v = Get32(p);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}

// A record's bytes. Every read is checked against the record's length; a read past it reports
// failure instead of touching memory outside the record.
class TRecordView {
 public:
  TRecordView() = default;
  TRecordView(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t Size() const { return size_; }
  const uint8_t* Data() const { return data_; }
  bool Has(size_t offset, size_t count) const { return offset <= size_ && count <= size_ - offset; }
  // count elements of elem bytes each from offset, with the multiplication checked as well.
  bool HasArray(size_t offset, uint64_t count, size_t elem) const {
    return offset <= size_ && count <= (size_ - offset) / elem;
  }
  uint16_t U16(size_t offset) const { return Has(offset, 2) ? Get16(data_ + offset) : 0; }
  int16_t S16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }
  uint32_t U32(size_t offset) const { return Has(offset, 4) ? Get32(data_ + offset) : 0; }
  int32_t S32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
  float F32(size_t offset) const { return Has(offset, 4) ? GetFloat(data_ + offset) : 0.0f; }
  const uint8_t* At(size_t offset) const { return data_ + offset; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Whether the DIB whose information header starts at bmi_at stores its rows bottom-up, as every
// DIB does unless its header holds a negative height.
inline bool DibBottomUp(const TRecordView& r, size_t bmi_at) {
  return !(r.U32(bmi_at) >= kSignedHeightHeaderMin && r.S32(bmi_at + 8) < 0);
}

// Little-endian output into a byte vector.
class TByteWriter {
 public:
  explicit TByteWriter(std::vector<uint8_t>& out) : out_(out) {}
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) {
    out_.push_back(uint8_t(v));
    out_.push_back(uint8_t(v >> 8));
  }
  void S16(int16_t v) { U16(static_cast<uint16_t>(v)); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(uint8_t(v >> (8 * i)));
  }
  void S32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void F32(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    U32(v);
  }
  void Bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  size_t Size() const { return out_.size(); }
  void Patch32(size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) out_[offset + i] = uint8_t(v >> (8 * i));
  }
  void Patch16(size_t offset, uint16_t v) {
    out_[offset] = uint8_t(v);
    out_[offset + 1] = uint8_t(v >> 8);
  }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace pellavo::metafile

namespace pellavo::metafile {

// The reference device our enhanced metafiles are recorded for: 96 pixels per inch exactly on
// both axes (1920 x 1440 pixels on 508 x 381 mm), so that frames convert without drift.
constexpr int32_t kRefDeviceWidth = 1920, kRefDeviceHeight = 1440;
constexpr int32_t kRefDeviceMmWidth = 508, kRefDeviceMmHeight = 381;
constexpr size_t kEmfHeaderSize = 108;  // with the micrometre extension
constexpr size_t kEmfEofSize = 20;

// The header record of an enhanced metafile. bounds: device pixels, inclusive; frame: 0.01 mm.
std::vector<uint8_t> EmfHeader(const int32_t bounds[4], const int32_t frame[4], uint64_t total_bytes,
                               uint32_t records, uint16_t handles);
void AppendEmfEof(std::vector<uint8_t>& out);

// The information header (and masks and colour table) and the bits of a bitmap as a DIB.
struct TDibParts {
  std::vector<uint8_t> Info;
  const std::vector<uint8_t>* Bits = nullptr;  // the bitmap's stored rows, bottom row first
};
// The DIB of a bitmap: 32, 24 and the palette formats keep their pixels as stored; 16-bit 5-6-5
// pixels carry their masks.
TDibParts DibOf(const TBitmap& b);
}  // namespace pellavo::metafile
