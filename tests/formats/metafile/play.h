#pragma once
// Loading and playing metafiles in the tests.
#include <cstdint>
#include <vector>

#include "core/stream.h"
#include "formats/metafile/metafile.h"

namespace pellavo::test {

inline TMetafile LoadMetafile(const std::vector<uint8_t>& bytes) {
  TMemoryStream s(bytes);
  TMetafile mf;
  mf.LoadFromStream(s);
  return mf;
}

// The metafile drawn at its own size onto pixels of one colour.
inline std::vector<TColor32> Play(TMetafile& mf, TColor32 background) {
  std::vector<TColor32> px(size_t(mf.Width()) * size_t(mf.Height()), background);
  mf.Draw(TPixels32{px.data(), mf.Width(), mf.Height()}, Rect(0, 0, mf.Width(), mf.Height()));
  return px;
}

// What the engine does after drawing a graphic onto transparent black: every alpha to 255.
inline std::vector<TColor32> Opaque(std::vector<TColor32> px) {
  for (TColor32& c : px) c |= kOpaque;
  return px;
}

inline std::vector<uint8_t> EmfOf(const TBitmap& b) {
  TMemoryStream s;
  SaveBitmapAsEmf(b, s);
  return s.Take();
}

}  // namespace pellavo::test
