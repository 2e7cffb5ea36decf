// Reading and writing of BMP files.
#include <algorithm>
#include <array>
#include <cstring>

#include "core/bytes.h"
#include "core/errors.h"
#include "core/limits.h"
#include "formats/bmp/bitmap.h"

namespace pellavo {
namespace {

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;

[[noreturn]] void Invalid() { throw EInvalidGraphic("Bitmap image is not valid"); }


// One channel described by a bit mask, scaled to 8 bits.
struct TMaskChannel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;

  explicit TMaskChannel(uint32_t m = 0) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    while (bits < 32 - shift && ((m >> (shift + bits)) & 1)) ++bits;
  }
  uint8_t Get(uint32_t v, uint8_t absent) const {
    if (!mask) return absent;
    const uint32_t x = (v & mask) >> shift;
    if (bits >= 8) return uint8_t(x >> (bits - 8));
    const uint32_t max = (1u << bits) - 1;
    return uint8_t((x * 255 + max / 2) / max);
  }
};

// The parts of a BMP file, checked against its length before anything is allocated.
class TBmpParser {
 public:
  TBmpParser(const std::vector<uint8_t>& file, const TDecodeLimits& limits) : f_(file), limits_(limits) {}

  // Fills out; the resolution goes back separately since it is private to the bitmap.
  void Parse(TBitmap& out, int32_t& xppm, int32_t& yppm) {
    if (f_.size() < 14 + 12 || f_[0] != 'B' || f_[1] != 'M') Invalid();
    const uint32_t data_offset = Get32(&f_[10]);
    const uint8_t* h = &f_[14];
    const uint32_t header_size = Get32(h);
    if (header_size < 12 || 14 + uint64_t(header_size) > f_.size()) Invalid();

    int64_t width, height;
    uint32_t planes, bpp, compression = kBiRgb, colors_used = 0;
    xppm = yppm = 0;
    std::array<uint32_t, 4> masks{};
    size_t palette_entry = 4;
    size_t after_header = 14 + header_size;
    if (header_size == 12) {
      // Both unsigned: an OS/2 1.x bitmap is always bottom-up.
      width = Get16(h + 4);
      height = Get16(h + 6);
      planes = Get16(h + 8);
      bpp = Get16(h + 10);
      palette_entry = 3;
    } else {
      if (header_size < 16) Invalid();
      width = static_cast<int32_t>(Get32(h + 4));
      height = static_cast<int32_t>(Get32(h + 8));
      planes = Get16(h + 12);
      bpp = Get16(h + 14);
      if (header_size >= 20) compression = Get32(h + 16);
      if (header_size >= 32) {
        xppm = static_cast<int32_t>(Get32(h + 24));
        yppm = static_cast<int32_t>(Get32(h + 28));
      }
      if (header_size >= 36) colors_used = Get32(h + 32);
      if (header_size >= 52) for (int i = 0; i < 3; ++i) masks[i] = Get32(h + 40 + 4 * i);
      if (header_size >= 56) masks[3] = Get32(h + 52);
      if (header_size == 40 && (compression == kBiBitfields || compression == kBiAlphaBitfields)) {
        const int n = compression == kBiBitfields ? 3 : 4;
        if (after_header + 4 * n > f_.size()) Invalid();
        for (int i = 0; i < n; ++i) masks[i] = Get32(&f_[after_header + 4 * i]);
        after_header += 4 * n;
      }
    }
    if (planes != 1 || width < 0) Invalid();
    const bool top_down = height < 0;
    if (top_down) height = -height;
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) Invalid();
    // Holds the pixels, 32 bits at most, and the whole file, which the bitmap keeps so that an
    // unchanged image is saved back byte for byte.
    CheckImageSize(limits_, width, height);
    ClaimBytes(limits_, DecodedImageBytes(uint64_t(width), uint64_t(height)) + f_.size());

    // The colour table.
    std::vector<TRGBQuad> palette;
    size_t table = 0;
    if (bpp <= 8) {
      const uint32_t full = 1u << bpp;
      table = colors_used == 0 || colors_used > full ? full : colors_used;
    } else if (colors_used > 0 && colors_used <= 256 && header_size != 12) {
      table = colors_used;  // kept only so that a re-save writes it back
    }
    if (after_header + table * palette_entry > f_.size()) table = (f_.size() - after_header) / palette_entry;
    for (size_t i = 0; i < table; ++i) {
      const uint8_t* e = &f_[after_header + i * palette_entry];
      palette.push_back({e[0], e[1], e[2], 0});
    }
    size_t data = after_header + table * palette_entry;
    if (data_offset >= data && data_offset < f_.size()) data = data_offset;

    TPixelFormat format;
    bool convert_masks = false;
    switch (bpp) {
      case 1: format = TPixelFormat::pf1bit; break;
      case 4: format = TPixelFormat::pf4bit; break;
      case 8: format = TPixelFormat::pf8bit; break;
      case 24: format = TPixelFormat::pf24bit; break;
      case 16:
      case 32: {
        const bool with_masks = compression == kBiBitfields || compression == kBiAlphaBitfields;
        if (!with_masks) {
          format = bpp == 16 ? TPixelFormat::pf15bit : TPixelFormat::pf32bit;
        } else if (bpp == 16 && masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F && !masks[3]) {
          format = TPixelFormat::pf15bit;
        } else if (bpp == 16 && masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F && !masks[3]) {
          format = TPixelFormat::pf16bit;
        } else if (bpp == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF &&
                   (masks[3] == 0 || masks[3] == 0xFF000000u)) {
          format = TPixelFormat::pf32bit;
        } else {
          if (!masks[0] && !masks[1] && !masks[2]) Invalid();
          format = TPixelFormat::pf32bit;  // unusual masks become plain blue, green, red, alpha
          convert_masks = true;
        }
        break;
      }
      default: Invalid();
    }
    const bool rle = compression == kBiRle8 || compression == kBiRle4;
    if (rle && (top_down || (compression == kBiRle8 ? bpp != 8 : bpp != 4))) Invalid();
    if (!rle && compression != kBiRgb && compression != kBiBitfields && compression != kBiAlphaBitfields) Invalid();

    const uint64_t file_row = ((uint64_t(width) * bpp + 31) / 32) * 4;
    if (!rle && file_row * uint64_t(height) > f_.size() - data) Invalid();
    // A run-length file cannot describe more than 255 pixels a byte; anything larger is a bomb.
    if (rle && uint64_t(width) * uint64_t(height) > (f_.size() - data) * 128 + 65536) Invalid();

    TBitmap bitmap(static_cast<int32_t>(width), static_cast<int32_t>(height), format);
    if (bpp <= 8) {
      palette.resize(size_t{1} << bpp);  // indices past a short table show black
      bitmap.SetPalette(std::move(palette));
    } else if (!palette.empty()) {
      bitmap.SetPalette(std::move(palette));
    }

    if (rle) {
      DecodeRle(bitmap, data, compression == kBiRle4);
    } else if (file_row != 0) {  // a bitmap 0 pixels wide has no rows to copy
      const size_t row = static_cast<size_t>(file_row);
      for (int64_t y = 0; y < height; ++y) {
        const int64_t file_y = top_down ? y : height - 1 - y;
        const uint8_t* src = &f_[data + static_cast<size_t>(file_y) * row];
        uint8_t* dst = bitmap.ScanLine(static_cast<int32_t>(y));
        if (convert_masks) {
          const TMaskChannel r(masks[0]), g(masks[1]), b(masks[2]), a(masks[3]);
          for (int64_t x = 0; x < width; ++x) {
            const uint32_t v = bpp == 16 ? Get16(src + 2 * x) : Get32(src + 4 * x);
            dst[4 * x] = b.Get(v, 0);
            dst[4 * x + 1] = g.Get(v, 0);
            dst[4 * x + 2] = r.Get(v, 0);
            dst[4 * x + 3] = a.Get(v, 0);
          }
        } else {
          std::memcpy(dst, src, bitmap.RowBytes());
        }
      }
    }
    out = std::move(bitmap);
  }

 private:
  // Run-length data: rows from the bottom; escapes end a line, the bitmap, or move the pen.
  void DecodeRle(TBitmap& b, size_t pos, bool four) {
    const int64_t w = b.Width(), h = b.Height();
    // 64 bits: runs without an end of line move the pen 127 pixels a byte, past 2^31 in a
    // file of 17 MB.
    int64_t x = 0, y = 0;  // y counts from the bottom row
    const auto put = [&](uint8_t index) {
      if (x < w && y < h) {
        uint8_t* row = b.ScanLine(static_cast<int32_t>(h - 1 - y));
        if (four)
          row[x >> 1] |= uint8_t((index & 0x0F) << ((x & 1) ? 0 : 4));
        else
          row[x] = index;
      }
      ++x;
    };
    while (pos + 1 < f_.size() && y < h) {
      const uint8_t count = f_[pos], value = f_[pos + 1];
      pos += 2;
      if (count > 0) {
        // What falls past the row's end is dropped in one step rather than pixel by pixel.
        const int inside = static_cast<int>(std::clamp<int64_t>(w - x, 0, count));
        for (int i = 0; i < inside; ++i) put(four ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
        x += count - inside;
      } else if (value == 0) {
        x = 0;
        ++y;
      } else if (value == 1) {
        return;
      } else if (value == 2) {
        if (pos + 1 >= f_.size()) return;
        x += f_[pos];
        y += f_[pos + 1];
        pos += 2;
      } else {
        const size_t bytes = four ? (value + 1) / 2 : value;
        if (pos + bytes > f_.size()) return;
        for (int i = 0; i < value; ++i) {
          const uint8_t v = four ? f_[pos + i / 2] : f_[pos + i];
          put(four ? ((i & 1) ? (v & 0x0F) : (v >> 4)) : v);
        }
        pos += (bytes + 1) & ~size_t{1};  // absolute runs are padded to 16 bits
      }
    }
  }

  const std::vector<uint8_t>& f_;
  const TDecodeLimits& limits_;
};

}  // namespace

// Kept out of the anonymous namespace: the parser fills private fields through this friend.
class TBmpReader {
 public:
  static void Read(TBitmap& bitmap, std::vector<uint8_t> bytes) {
    auto file = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    TBitmap loaded;
    int32_t xppm = 0, yppm = 0;
    TBmpParser(*file, bitmap.DecodeLimits()).Parse(loaded, xppm, yppm);
    loaded.x_pels_per_meter_ = xppm;
    loaded.y_pels_per_meter_ = yppm;
    loaded.file_bytes_ = std::move(file);
    bitmap = std::move(loaded);
  }
};

void TBitmap::LoadFromStream(TStream& stream) { TBmpReader::Read(*this, stream.ReadToEnd()); }

void TBitmap::SaveToStream(TStream& stream) {
  if (file_bytes_) {
    stream.Write(file_bytes_->data(), file_bytes_->size());
    return;
  }
  const bool bitfields = format_ == TPixelFormat::pf16bit;
  const size_t table = BitsPerPixel() <= 8 || !palette_.empty() ? palette_.size() : 0;
  const uint64_t header = 40 + (bitfields ? 12 : 0) + 4 * table;
  const uint64_t image = uint64_t(row_bytes_) * uint64_t(height_);
  if (14 + header + image > kMaxBmpFileBytes)
    throw EInvalidGraphic("Bitmap image is too large for a BMP file (4 GiB at most)");

  std::vector<uint8_t> head(static_cast<size_t>(14 + header), 0);
  head[0] = 'B';
  head[1] = 'M';
  Put32(&head[2], static_cast<uint32_t>(14 + header + image));
  Put32(&head[10], static_cast<uint32_t>(14 + header));
  uint8_t* info = &head[14];
  Put32(info, 40);
  Put32(info + 4, static_cast<uint32_t>(width_));
  Put32(info + 8, static_cast<uint32_t>(height_));
  Put16(info + 12, 1);
  Put16(info + 14, static_cast<uint32_t>(BitsPerPixel()));
  Put32(info + 16, bitfields ? kBiBitfields : kBiRgb);
  Put32(info + 20, static_cast<uint32_t>(image));
  Put32(info + 24, static_cast<uint32_t>(x_pels_per_meter_));
  Put32(info + 28, static_cast<uint32_t>(y_pels_per_meter_));
  Put32(info + 32, static_cast<uint32_t>(table));
  uint8_t* p = info + 40;
  if (bitfields) {
    Put32(p, 0xF800);
    Put32(p + 4, 0x07E0);
    Put32(p + 8, 0x001F);
    p += 12;
  }
  for (size_t i = 0; i < table; ++i, p += 4) {
    p[0] = palette_[i].Blue;
    p[1] = palette_[i].Green;
    p[2] = palette_[i].Red;
    p[3] = 0;
  }
  stream.Write(head.data(), head.size());
  stream.Write(pixels_.data(), pixels_.size());
}

}  // namespace pellavo
