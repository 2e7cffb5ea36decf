#include "formats/metafile/dib.h"

#include <cstring>
#include <vector>

#include "core/errors.h"
#include "core/stream.h"
#include "formats/metafile/gdi_constants.h"

namespace pellavo::metafile {

std::optional<TBitmap> DecodeDib(const uint8_t* bmi, size_t bmi_size, const uint8_t* bits, size_t bits_size) {
  if (!bmi || bmi_size < kBitmapCoreHeaderSize) return std::nullopt;
  const uint64_t total = kBitmapFileHeaderSize + uint64_t(bmi_size) + bits_size;
  if (total > 0xFFFFFFFFu) return std::nullopt;
  // The BMP reader takes a file; give it one, the pixel data right after the header.
  std::vector<uint8_t> file(static_cast<size_t>(total));
  file[0] = 'B';
  file[1] = 'M';
  const auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(v >> (8 * i));
  };
  put32(2, static_cast<uint32_t>(total));
  put32(10, static_cast<uint32_t>(kBitmapFileHeaderSize + bmi_size));
  std::memcpy(file.data() + kBitmapFileHeaderSize, bmi, bmi_size);
  if (bits_size) std::memcpy(file.data() + kBitmapFileHeaderSize + bmi_size, bits, bits_size);
  try {
    TMemoryStream stream(std::move(file));
    TBitmap b;
    b.LoadFromStream(stream);
    if (b.Empty()) return std::nullopt;
    return b;
  } catch (const Exception&) {
    return std::nullopt;
  }
}

}  // namespace pellavo::metafile
