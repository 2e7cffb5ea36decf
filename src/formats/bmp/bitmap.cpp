#include "formats/bmp/bitmap.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/errors.h"
#include "core/limits.h"

namespace pellavo {
namespace {

TColor32 QuadColor(const TRGBQuad& q) { return ArgbColor(0xFF, q.Red, q.Green, q.Blue); }

// The 16 colours of the classic 4-bit palette.
const std::vector<TRGBQuad>& SixteenColors() {
  static const std::vector<TRGBQuad> colors = [] {
    const uint32_t rgb[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0x808080,
                              0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    std::vector<TRGBQuad> v;
    for (uint32_t c : rgb) v.push_back({uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0});
    return v;
  }();
  return colors;
}

// A 6 x 7 x 6 colour cube: an even spread for reducing to 8 bits.
const std::vector<TRGBQuad>& CubePalette() {
  static const std::vector<TRGBQuad> colors = [] {
    std::vector<TRGBQuad> v;
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 7; ++g)
        for (int b = 0; b < 6; ++b) v.push_back({uint8_t(b * 51), uint8_t(g * 255 / 6), uint8_t(r * 51), 0});
    return v;
  }();
  return colors;
}

uint8_t NearestIndex(const std::vector<TRGBQuad>& palette, TColor32 c) {
  int best = 0;
  int64_t best_d = std::numeric_limits<int64_t>::max();
  for (size_t i = 0; i < palette.size(); ++i) {
    const int dr = int{RedOf(c)} - palette[i].Red, dg = int{GreenOf(c)} - palette[i].Green,
              db = int{BlueOf(c)} - palette[i].Blue;
    const int64_t d = int64_t{dr} * dr + int64_t{dg} * dg + int64_t{db} * db;
    if (d < best_d) {
      best_d = d;
      best = static_cast<int>(i);
    }
  }
  return static_cast<uint8_t>(best);
}

TColor32 Expand5(uint32_t v5r, uint32_t v5g_or_6, uint32_t v5b, bool six_green) {
  const uint32_t r = (v5r << 3) | (v5r >> 2);
  const uint32_t g = six_green ? ((v5g_or_6 << 2) | (v5g_or_6 >> 4)) : ((v5g_or_6 << 3) | (v5g_or_6 >> 2));
  const uint32_t b = (v5b << 3) | (v5b >> 2);
  return ArgbColor(0xFF, uint8_t(r), uint8_t(g), uint8_t(b));
}

}  // namespace

PELLAVO_DEFINE_GRAPHIC(TBitmap, TGraphic)

TBitmap::TBitmap(int32_t width, int32_t height, TPixelFormat format) {
  if (BitsPerPixel(format) == 0) throw EInvalidGraphic("Invalid pixel format");
  Allocate(width, height, format);
}

int TBitmap::BitsPerPixel(TPixelFormat format) {
  switch (format) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit: return 16;
    case TPixelFormat::pf24bit: return 24;
    case TPixelFormat::pf32bit: return 32;
    default: return 0;
  }
}

void TBitmap::Allocate(int32_t width, int32_t height, TPixelFormat format) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  const uint64_t row = ((uint64_t(width) * BitsPerPixel(format) + 31) / 32) * 4;
  if (row * uint64_t(height) > kMaxPixelBlockBytes)
    throw EOutOfMemory("Out of memory: a " + std::to_string(width) + " x " + std::to_string(height) +
                       " bitmap is too large");
  std::vector<uint8_t> pixels(row * uint64_t(height));
  pixels_.swap(pixels);
  format_ = format;
  width_ = width;
  height_ = height;
  row_bytes_ = static_cast<size_t>(row);
  if (BitsPerPixel(format) <= 8) {
    if (palette_.size() != (size_t{1} << BitsPerPixel(format))) {
      if (format == TPixelFormat::pf1bit)
        palette_ = {{0, 0, 0, 0}, {255, 255, 255, 0}};
      else if (format == TPixelFormat::pf4bit)
        palette_ = SixteenColors();
      else
        palette_ = CubePalette();
    }
  } else {
    palette_.clear();
  }
  Changed();
}

void TBitmap::SetSize(int32_t width, int32_t height) { Allocate(width, height, format_); }

uint8_t* TBitmap::ScanLine(int32_t y) {
  Changed();
  return pixels_.data() + static_cast<size_t>(height_ - 1 - y) * row_bytes_;
}

const uint8_t* TBitmap::ScanLine(int32_t y) const {
  return pixels_.data() + static_cast<size_t>(height_ - 1 - y) * row_bytes_;
}

void TBitmap::SetPalette(std::vector<TRGBQuad> palette) {
  palette_ = std::move(palette);
  Changed();
}

bool TBitmap::AllOpaque() const {
  if (format_ != TPixelFormat::pf32bit) return true;
  for (int32_t y = 0; y < height_; ++y) {
    const uint8_t* row = ScanLine(y);
    for (int32_t x = 0; x < width_; ++x)
      if (row[size_t(x) * 4 + 3] != 0xFF) return false;
  }
  return true;
}

void TBitmap::ReadRow32(int32_t y, TColor32* out) const {
  const uint8_t* row = ScanLine(y);
  const auto color = [this](size_t index) -> TColor32 {
    return index < palette_.size() ? QuadColor(palette_[index]) : kOpaque;
  };
  // Indices are size_t: a row may hold more than 2^31 bytes.
  const size_t w = static_cast<size_t>(width_);
  switch (format_) {
    case TPixelFormat::pf1bit:
      for (size_t x = 0; x < w; ++x) out[x] = color((row[x >> 3] >> (7 - (x & 7))) & 1);
      break;
    case TPixelFormat::pf4bit:
      for (size_t x = 0; x < w; ++x) out[x] = color((x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4));
      break;
    case TPixelFormat::pf8bit:
      for (size_t x = 0; x < w; ++x) out[x] = color(row[x]);
      break;
    case TPixelFormat::pf15bit:
      for (size_t x = 0; x < w; ++x) {
        const uint32_t v = row[2 * x] | (uint32_t{row[2 * x + 1]} << 8);
        out[x] = Expand5((v >> 10) & 31, (v >> 5) & 31, v & 31, false);
      }
      break;
    case TPixelFormat::pf16bit:
      for (size_t x = 0; x < w; ++x) {
        const uint32_t v = row[2 * x] | (uint32_t{row[2 * x + 1]} << 8);
        out[x] = Expand5((v >> 11) & 31, (v >> 5) & 63, v & 31, true);
      }
      break;
    case TPixelFormat::pf24bit:
      for (size_t x = 0; x < w; ++x) out[x] = ArgbColor(0xFF, row[3 * x + 2], row[3 * x + 1], row[3 * x]);
      break;
    case TPixelFormat::pf32bit:
      std::memcpy(out, row, w * 4);
      break;
    default:
      break;
  }
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == format_) return;
  if (BitsPerPixel(format) == 0) throw EInvalidGraphic("Invalid pixel format");
  TBitmap converted(width_, height_, format);
  converted.transparent_ = transparent_;
  converted.transparent_color_ = transparent_color_;
  converted.x_pels_per_meter_ = x_pels_per_meter_;
  converted.y_pels_per_meter_ = y_pels_per_meter_;
  const size_t w = static_cast<size_t>(width_);
  std::vector<TColor32> line(w);
  for (int32_t y = 0; y < height_; ++y) {
    ReadRow32(y, line.data());
    uint8_t* out = converted.ScanLine(y);
    for (size_t x = 0; x < w; ++x) {
      const TColor32 c = line[x];
      switch (format) {
        case TPixelFormat::pf1bit:
          if (NearestIndex(converted.palette_, c)) out[x >> 3] |= uint8_t(0x80 >> (x & 7));
          break;
        case TPixelFormat::pf4bit:
          out[x >> 1] |= uint8_t(NearestIndex(converted.palette_, c) << ((x & 1) ? 0 : 4));
          break;
        case TPixelFormat::pf8bit:
          out[x] = NearestIndex(converted.palette_, c);
          break;
        case TPixelFormat::pf15bit: {
          const uint32_t v = (uint32_t{RedOf(c)} >> 3) << 10 | (uint32_t{GreenOf(c)} >> 3) << 5 | BlueOf(c) >> 3;
          out[2 * x] = uint8_t(v);
          out[2 * x + 1] = uint8_t(v >> 8);
          break;
        }
        case TPixelFormat::pf16bit: {
          const uint32_t v = (uint32_t{RedOf(c)} >> 3) << 11 | (uint32_t{GreenOf(c)} >> 2) << 5 | BlueOf(c) >> 3;
          out[2 * x] = uint8_t(v);
          out[2 * x + 1] = uint8_t(v >> 8);
          break;
        }
        case TPixelFormat::pf24bit:
          out[3 * x] = BlueOf(c);
          out[3 * x + 1] = GreenOf(c);
          out[3 * x + 2] = RedOf(c);
          break;
        case TPixelFormat::pf32bit:
          // A blit into a 32-bit bitmap leaves the fourth byte 0.
          std::memcpy(out + 4 * x, &c, 4);
          out[4 * x + 3] = 0;
          break;
        default:
          break;
      }
    }
  }
  *this = std::move(converted);
}

void TBitmap::Assign(const TGraphic& source) {
  if (source.Is(TBitmap::StaticClass())) {
    *this = static_cast<const TBitmap&>(source);
    return;
  }
  TGraphic::Assign(source);
}

void TBitmap::Draw(const TPixels32& target, const TRect& rect) {
  if (Empty()) return;
  std::vector<TColor32> line(static_cast<size_t>(width_));
  int32_t loaded = -1;
  const TColor32 key = transparent_ ? (static_cast<TColor32>(transparent_color_) & 0xFFFFFF) : 0;
  // TColor keeps red in its low byte; compare in TColor32 order.
  const TColor32 key32 = ((key & 0xFF) << 16) | (key & 0xFF00) | ((key >> 16) & 0xFF);
  ForEachStretchedRow(target, rect, width_, height_,
                      [&](TColor32* dst, int32_t x0, int32_t count, int32_t sy, const int32_t* xs) {
                        if (sy != loaded) {
                          ReadRow32(sy, line.data());
                          loaded = sy;
                        }
                        for (int32_t i = 0; i < count; ++i) {
                          const TColor32 c = line[static_cast<size_t>(xs[i])];
                          if (transparent_ && (c & 0xFFFFFF) == key32) continue;
                          dst[x0 + i] = c;
                        }
                      });
}

const TBitmap& RgbOrRgbaPixels(const TBitmap& bitmap, std::optional<TBitmap>& holder) {
  if (bitmap.BitsPerPixel() == 24 || bitmap.BitsPerPixel() == 32) return bitmap;
  holder.emplace(bitmap);
  holder->SetPixelFormat(TPixelFormat::pf24bit);
  return *holder;
}

}  // namespace pellavo
