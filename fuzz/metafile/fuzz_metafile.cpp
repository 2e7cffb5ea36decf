// Reads any bytes as a metafile and, when they are accepted, plays them at a bounded size and
// writes them out again in both layouts. Seeds: tests/data/metafile/*.
//
//   fuzz_metafile -max_len=65536 -timeout=10 corpus/ tests/data/metafile/
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "core/stream.h"
#include "formats/metafile/metafile.h"

using namespace pellavo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMetafile mf;
  try {
    TMemoryStream in(std::vector<uint8_t>(data, data + size));
    mf.LoadFromStream(in);
  } catch (const Exception&) {
    return 0;
  }
  // Scaled into a small target, and at an offset that leaves part of the picture outside it.
  std::vector<TColor32> px(64 * 48, 0xFFFFFFFFu);
  const TPixels32 target{px.data(), 64, 48};
  mf.Draw(target, Rect(0, 0, 64, 48));
  mf.Draw(target, Rect(-20, 10, 90, 30));
  // The layouts convert by playing into a bitmap of the picture's own size: keep that small.
  if (int64_t{mf.Width()} * mf.Height() <= 256 * 256) {
    try {
      TMemoryStream emf, wmf;
      mf.SaveAsEmf(emf);
      mf.SaveAsWmf(wmf);
      TMetafile back;
      wmf.Seek(0);
      back.LoadFromStream(wmf);
    } catch (const Exception&) {
    }
  }
  return 0;
}
