// Enhanced metafile text records.
#include "formats/metafile/emf_records.h"

namespace pellavo::metafile {

void PlayEmfText(TPlayer& dc, const TRecordView& r, bool wide) {
  const size_t et = 36;  // the EMRTEXT part
  const double x = r.S32(et), y = r.S32(et + 4);
  const uint32_t chars = r.U32(et + 8), off_string = r.U32(et + 12), options = r.U32(et + 16);
  std::optional<TRect> rect;
  size_t off_dx_at = et + 36;
  if (options & kEtoNoRect) {  // the rectangle is left out
    off_dx_at = et + 20;
  } else {
    rect = Rect(r.S32(et + 20), r.S32(et + 24), r.S32(et + 28), r.S32(et + 32));
  }
  if (!r.HasArray(off_string, chars, wide ? 2 : 1)) return;
  std::u32string text;
  if (!(options & kEtoGlyphIndex)) {  // glyph indices cannot be mapped back to characters
    for (uint32_t i = 0; i < chars; ++i) {
      if (wide) {
        char32_t c = r.U16(off_string + 2 * size_t{i});
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < chars) {
          const char32_t lo = r.U16(off_string + 2 * size_t{i} + 2);
          if (lo >= 0xDC00 && lo < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
            ++i;
          }
        }
        text += c;
      } else {
        text += FromWindows1252(r.At(off_string + i), 1);
      }
    }
  }
  std::vector<double> dx;
  const uint32_t off_dx = r.U32(off_dx_at);
  const size_t step = (options & kEtoPdy) ? 2 : 1;  // x and y advances
  if (off_dx && r.HasArray(off_dx, uint64_t{chars} * step, 4)) {
    // Advances are per code unit; a surrogate pair's two add up.
    size_t unit = 0;
    for (char32_t c : text) {
      double a = r.S32(off_dx + 4 * step * unit);
      ++unit;
      if (wide && c >= 0x10000 && unit < chars) {
        a += r.S32(off_dx + 4 * step * unit);
        ++unit;
      }
      dx.push_back(a);
    }
  }
  dc.TextOut(x, y, text, options, rect, dx);
}

}  // namespace pellavo::metafile
