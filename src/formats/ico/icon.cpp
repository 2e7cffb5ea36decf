#include "formats/ico/icon.h"

#include <algorithm>
#include <cstring>

#include "core/bytes.h"
#include "core/errors.h"
#include "formats/registry.h"

namespace pellavo {
namespace {

[[noreturn]] void Invalid() { throw EInvalidGraphic("Icon image is not valid"); }


constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct TEntry {
  int32_t width, height;  // from the directory, 0 meaning 256
  uint32_t bpp;
  uint32_t size, offset;
};

TColor32 BlendChannelwise(TColor32 src, TColor32 dst) {
  const uint32_t a = AlphaOf(src);
  const auto mix = [a](uint32_t s, uint32_t d) { return (s * a + d * (255 - a) + 127) / 255; };
  return ArgbColor(0xFF, uint8_t(mix(RedOf(src), RedOf(dst))), uint8_t(mix(GreenOf(src), GreenOf(dst))),
                   uint8_t(mix(BlueOf(src), BlueOf(dst))));
}

}  // namespace

PELLAVO_DEFINE_GRAPHIC(TIcon, TGraphic)

TIcon::TIcon(const TIcon& other)
    : TGraphic(other),
      file_(other.file_),
      width_(other.width_),
      height_(other.height_),
      mode_(other.mode_),
      colors_(other.colors_),
      mask_(other.mask_) {
  if (other.embedded_) {
    embedded_ = other.embedded_->Class().Create();
    embedded_->Assign(*other.embedded_);
  }
}

int32_t TIcon::Width() const { return embedded_ ? embedded_->Width() : width_; }
int32_t TIcon::Height() const { return embedded_ ? embedded_->Height() : height_; }

void TIcon::Assign(const TGraphic& source) {
  if (source.Is(TIcon::StaticClass())) {
    TIcon copy(static_cast<const TIcon&>(source));
    file_ = std::move(copy.file_);
    width_ = copy.width_;
    height_ = copy.height_;
    mode_ = copy.mode_;
    colors_ = std::move(copy.colors_);
    mask_ = std::move(copy.mask_);
    embedded_ = std::move(copy.embedded_);
    return;
  }
  TGraphic::Assign(source);
}

void TIcon::LoadFromStream(TStream& stream) {
  std::vector<uint8_t> f = stream.ReadToEnd();
  if (f.size() < 6 || Get16(&f[0]) != 0 || (Get16(&f[2]) != 1 && Get16(&f[2]) != 2)) Invalid();
  const size_t count = Get16(&f[4]);
  if (count == 0 || 6 + 16 * count > f.size()) Invalid();

  // The largest image, then the deepest.
  const TEntry* best = nullptr;
  std::vector<TEntry> entries;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = &f[6 + 16 * i];
    TEntry entry{e[0] ? e[0] : 256, e[1] ? e[1] : 256, Get16(e + 6), Get32(e + 8), Get32(e + 12)};
    if (entry.offset >= f.size() || entry.size > f.size() - entry.offset || entry.size < 8) continue;
    entries.push_back(entry);
  }
  for (const TEntry& e : entries) {
    if (!best || int64_t{e.width} * e.height > int64_t{best->width} * best->height ||
        (int64_t{e.width} * e.height == int64_t{best->width} * best->height && e.bpp > best->bpp))
      best = &e;
  }
  if (!best) Invalid();

  const uint8_t* data = &f[best->offset];
  const size_t size = best->size;
  TIcon icon;
  if (std::memcmp(data, kPngSignature, 8) == 0) {
    const TGraphicClass* png = FindByExtension("png");
    if (!png) Invalid();
    icon.embedded_ = png->Create();
    icon.embedded_->SetDecodeLimits(DecodeLimits());
    TMemoryStream bytes(std::vector<uint8_t>(data, data + size));
    icon.embedded_->LoadFromStream(bytes);
  } else {
    if (size < 40) Invalid();
    const uint32_t header = Get32(data);
    if (header < 40 || header > size) Invalid();
    const int32_t w = static_cast<int32_t>(Get32(data + 4));
    const int32_t h2 = static_cast<int32_t>(Get32(data + 8));
    const uint32_t bpp = Get16(data + 14);
    const uint32_t compression = Get32(data + 16);
    uint32_t colors_used = Get32(data + 32);
    if (w <= 0 || w > 4096 || h2 <= 0 || h2 > 8192 || compression != 0) Invalid();
    const int32_t h = h2 / 2 > 0 ? h2 / 2 : h2;
    AdmitImage(DecodeLimits(), w, h);
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) Invalid();
    std::vector<TColor32> palette;
    size_t pos = header;
    if (bpp <= 8) {
      if (colors_used == 0 || colors_used > (1u << bpp)) colors_used = 1u << bpp;
      if (pos + 4 * size_t{colors_used} > size) Invalid();
      for (uint32_t i = 0; i < colors_used; ++i, pos += 4)
        palette.push_back(ArgbColor(0xFF, data[pos + 2], data[pos + 1], data[pos]));
      palette.resize(size_t{1} << bpp, kOpaque);
    }
    const size_t xor_row = ((size_t(w) * bpp + 31) / 32) * 4;
    const size_t and_row = ((size_t(w) + 31) / 32) * 4;
    if (pos + xor_row * size_t(h) > size) Invalid();
    const uint8_t* xor_bits = data + pos;
    // Some 32-bit icons omit the mask; they are then drawn by alpha alone.
    const bool has_mask = pos + xor_row * size_t(h) + and_row * size_t(h) <= size;
    const uint8_t* and_bits = has_mask ? xor_bits + xor_row * size_t(h) : nullptr;

    icon.width_ = w;
    icon.height_ = h;
    icon.colors_.resize(size_t(w) * size_t(h));
    icon.mask_.assign(size_t(w) * size_t(h), 0);
    bool any_alpha = false;
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* row = xor_bits + size_t(h - 1 - y) * xor_row;
      const uint8_t* mrow = has_mask ? and_bits + size_t(h - 1 - y) * and_row : nullptr;
      for (int32_t x = 0; x < w; ++x) {
        TColor32 c;
        switch (bpp) {
          case 1: c = palette[(row[x >> 3] >> (7 - (x & 7))) & 1]; break;
          case 4: c = palette[(x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)]; break;
          case 8: c = palette[row[x]]; break;
          case 24: c = ArgbColor(0xFF, row[3 * x + 2], row[3 * x + 1], row[3 * x]); break;
          default:
            c = ArgbColor(row[4 * x + 3], row[4 * x + 2], row[4 * x + 1], row[4 * x]);
            any_alpha = any_alpha || AlphaOf(c) != 0;
            break;
        }
        const size_t i = size_t(y) * size_t(w) + size_t(x);
        icon.colors_[i] = c;
        if (has_mask) icon.mask_[i] = (mrow[x >> 3] >> (7 - (x & 7))) & 1;
      }
    }
    icon.mode_ = bpp == 32 && any_alpha ? TMode::Alpha : TMode::Masked;
  }
  icon.file_ = std::move(f);
  Assign(icon);
}

void TIcon::SaveToStream(TStream& stream) { stream.Write(file_.data(), file_.size()); }

void TIcon::Draw(const TPixels32& target, const TRect& rect) {
  if (embedded_) {
    embedded_->Draw(target, rect);
    return;
  }
  ForEachStretchedRow(target, rect, width_, height_,
                      [&](TColor32* dst, int32_t x0, int32_t count, int32_t sy, const int32_t* xs) {
                        const size_t base = size_t(sy) * size_t(width_);
                        for (int32_t i = 0; i < count; ++i) {
                          const size_t s = base + size_t(xs[i]);
                          TColor32& d = dst[x0 + i];
                          if (mode_ == TMode::Alpha) {
                            if (AlphaOf(colors_[s])) d = BlendChannelwise(colors_[s], d);
                          } else if (mask_[s]) {
                            d ^= colors_[s] & 0x00FFFFFF;
                          } else {
                            d = colors_[s] | kOpaque;
                          }
                        }
                      });
}

}  // namespace pellavo
