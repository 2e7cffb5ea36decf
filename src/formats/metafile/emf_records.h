#pragma once
// The enhanced metafile records that take more than a few fields to decode: objects
// (emf_objects.cpp), bitmaps (emf_bitmap_records.cpp) and text (emf_text_records.cpp). A record
// whose counts and offsets do not fit inside it is skipped. Private to the EMF player.
#include <cstdint>
#include <optional>

#include "formats/bmp/bitmap.h"
#include "formats/metafile/player.h"
#include "formats/metafile/records.h"

namespace pellavo::metafile {

// A pen, brush or font of the object table; other objects only take their slot.
struct TEmfObject {
  enum class TKind : uint8_t { Other, Pen, Brush, Font } Kind = TKind::Other;
  TPen Pen;
  TBrush Brush;
  TFont Font;
};

// The stock object of a number (the object index without its stock bit); nullopt for a number
// that names none.
std::optional<TEmfObject> EmfStockObject(uint32_t number);
// The object a creation record of that type defines; nullopt when the record is too short.
std::optional<TEmfObject> EmfCreatedObject(uint32_t type, const TRecordView& r);

// The DIB a record holds: its information header and its bits, each at an offset in the record.
std::optional<TBitmap> EmfDib(const TRecordView& r, uint32_t off_bmi, uint32_t cb_bmi, uint32_t off_bits,
                              uint32_t cb_bits);

// BITBLT, STRETCHBLT, ALPHABLEND and TRANSPARENTBLT, which share one layout.
void PlayEmfBlt(TPlayer& dc, const TRecordView& r, uint32_t type);
void PlayEmfStretchDiBits(TPlayer& dc, const TRecordView& r);
void PlayEmfSetDiBitsToDevice(TPlayer& dc, const TRecordView& r);

// EXTTEXTOUTW (wide) and EXTTEXTOUTA.
void PlayEmfText(TPlayer& dc, const TRecordView& r, bool wide);

}  // namespace pellavo::metafile
