// The header record of an enhanced metafile: its bounds, frame and reference device.
#include <cmath>

#include "formats/metafile/playback.h"
#include "formats/metafile/records.h"

namespace pellavo::metafile {

bool ParseEmfHeader(const uint8_t* data, size_t size, TEmfInfo& info) {
  if (size < kEmfHeaderMin) return false;
  const TRecordView h(data, size);
  if (h.U32(0) != EMR_HEADER || h.U32(40) != kEmfSignature) return false;
  const uint32_t header_size = h.U32(4);
  if (header_size < kEmfHeaderMin || header_size > size) return false;
  for (int i = 0; i < 4; ++i) {
    info.Bounds[i] = h.S32(8 + 4 * i);
    info.Frame[i] = h.S32(24 + 4 * i);
  }
  info.HeaderSize = header_size;
  const int32_t dev_w = h.S32(72), dev_h = h.S32(76);
  double hmm_w = h.S32(80) * 100.0, hmm_h = h.S32(84) * 100.0;
  if (header_size >= kEmfHeaderSize && h.S32(100) > 0 && h.S32(104) > 0) {
    hmm_w = h.S32(100) / 10.0;
    hmm_h = h.S32(104) / 10.0;
  }
  if (dev_w > 0 && dev_h > 0 && hmm_w > 0 && hmm_h > 0) {
    info.DevicePerHmmX = dev_w / hmm_w;
    info.DevicePerHmmY = dev_h / hmm_h;
  }
  return true;
}

void EmfSizeHmm(const TEmfInfo& info, int32_t& w, int32_t& h) {
  const int64_t fw = int64_t{info.Frame[2]} - info.Frame[0], fh = int64_t{info.Frame[3]} - info.Frame[1];
  if (fw > 0 && fh > 0 && fw <= INT32_MAX && fh <= INT32_MAX) {
    w = static_cast<int32_t>(fw);
    h = static_cast<int32_t>(fh);
    return;
  }
  const int64_t bw = int64_t{info.Bounds[2]} - info.Bounds[0] + 1, bh = int64_t{info.Bounds[3]} - info.Bounds[1] + 1;
  w = bw > 0 ? static_cast<int32_t>(std::min<double>(std::round(bw / info.DevicePerHmmX), INT32_MAX)) : 0;
  h = bh > 0 ? static_cast<int32_t>(std::min<double>(std::round(bh / info.DevicePerHmmY), INT32_MAX)) : 0;
}

}  // namespace pellavo::metafile
