#include "formats/png/png_object.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <typeinfo>

#include "core/limits.h"
#include "formats/png/png_io.h"
#include "formats/png/png_layout.h"
#include "formats/png/row_reader.h"

namespace pellavo {

using namespace png_detail;

namespace {

// Whether any fourth byte of a 32-bit bitmap is below 255.
bool AnyTranslucent(const TBitmap& bitmap) {
  std::vector<TColor32> line(static_cast<size_t>(bitmap.Width()));
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    bitmap.ReadRow32(y, line.data());
    for (TColor32 c : line)
      if (AlphaOf(c) != 255) return true;
  }
  return false;
}

}  // namespace

PELLAVO_DEFINE_GRAPHIC(TPNGObject, TGraphic)

TPNGObject::TPNGObject() { ClearChunks(); }

void TPNGObject::SetDeflateLevel(int level) { deflate_level_ = std::clamp(level, 0, 9); }

void TPNGObject::SetMaxIdatBytes(uint32_t bytes) { max_idat_bytes_ = std::clamp(bytes, kMinIdatBytes, kMaxPngChunkLength); }

bool TPNGObject::HasHeader() const { return Find<TChunkIHDR>() != nullptr; }

TChunkIHDR& TPNGObject::Header() {
  if (TChunkIHDR* h = Find<TChunkIHDR>()) return *h;
  throw EPNGHeaderNotPresent();
}

const TChunkIHDR& TPNGObject::Header() const {
  if (const TChunkIHDR* h = Find<TChunkIHDR>()) return *h;
  throw EPNGHeaderNotPresent();
}

uint64_t TPNGObject::HeldBytes() const {
  uint64_t bytes = 0;
  for (const auto& c : chunks_) bytes += c->Data().size();
  if (HasHeader()) bytes += Header().ImageData().size();
  return bytes;
}

bool TPNGObject::Empty() const { return Width() == 0 || Height() == 0; }
int32_t TPNGObject::Width() const { return HasHeader() ? static_cast<int32_t>(Header().Width()) : 0; }
int32_t TPNGObject::Height() const { return HasHeader() ? static_cast<int32_t>(Header().Height()) : 0; }

void TPNGObject::ClearChunks() {
  chunks_.clear();
  for (size_t i = 0; i < gamma_.size(); ++i) gamma_[i] = uint8_t(i);
}

void TPNGObject::ApplyGamma(uint32_t value) {
  if (value == 0) return;
  const double exponent = 1.0 / (value / 100000.0 * 2.2);
  for (int i = 0; i < 256; ++i)
    gamma_[size_t(i)] = uint8_t(std::clamp(std::lround(255.0 * std::pow(i / 255.0, exponent)), 0L, 255L));
}

template <class T>
T& TPNGObject::Add() {
  chunks_.push_back(std::make_unique<T>(*this));
  return static_cast<T&>(*chunks_.back());
}

TPNGTransparencyMode TPNGObject::TransparencyMode() const {
  if (!HasHeader()) return ptmNone;
  const TChunkIHDR& h = Header();
  if (h.ColorType() == COLOR_GRAYSCALEALPHA || h.ColorType() == COLOR_RGBALPHA) return ptmPartial;
  const TChunktRNS* trns = Find<TChunktRNS>();
  if (!trns) return ptmNone;
  uint16_t v;
  if (h.ColorType() == COLOR_GRAYSCALE) return trns->KeySample(0, v) ? ptmBit : ptmNone;
  if (h.ColorType() == COLOR_RGB) return trns->KeySample(2, v) ? ptmBit : ptmNone;
  // A palette: one entry left out entirely is a colour key; any other alpha blends.
  size_t count = trns->Data().size();
  if (const TChunkPLTE* plte = Find<TChunkPLTE>()) count = std::min(count, plte->Count());
  size_t below = 0, clear = 0;
  for (size_t i = 0; i < count; ++i) {
    below += trns->Data()[i] < 255;
    clear += trns->Data()[i] == 0;
  }
  if (below == 0) return ptmNone;
  return below == 1 && clear == 1 ? ptmBit : ptmPartial;
}

void TPNGObject::ReadRow32(uint32_t y, TColor32* out) const {
  const TChunkIHDR& h = Header();
  if (y >= h.Height()) return;
  if (!h.HasImage()) {
    std::fill_n(out, h.Width(), TColor32{0});
    return;
  }
  TRowReader(*this).Read(h.Row(y), out);
}

// ---- Reading and writing

void TPNGObject::LoadFromStream(TStream& stream) {
  uint32_t length = 0;
  if (LoadUntilImage(stream, length)) {
    std::unique_ptr<TChunk> idat = CreateChunk(*this, "IDAT");
    idat->LoadFromStream(stream, length);
    chunks_.push_back(std::move(idat));
  }
  LoadAfterImage(stream);
}

namespace {

// Reads the next chunk head; the first chunk must be IHDR, and none after it.
std::string ReadChunkHead(TStream& stream, bool first, uint32_t& length) {
  uint8_t head[8];
  ReadExact(stream, head, 8);
  length = GetBE32(head);
  std::string name(reinterpret_cast<const char*>(head + 4), 4);
  if (first != (name == "IHDR")) {
    if (first) throw EPNGIHDRNotFirst();
    throw EPngInvalidIHDR();  // a second header
  }
  return name;
}

void SkipChunk(TStream& stream, uint32_t length) {
  if (length > kMaxPngChunkLength || int64_t{length} + 4 > stream.Remaining()) throw EPngUnexpectedEnd();
  stream.Seek(stream.Position() + int64_t{length} + 4);
}

}  // namespace

bool TPNGObject::LoadUntilImage(TStream& stream, uint32_t& idat_length) {
  ClearChunks();
  interlacing_ = 0;
  uint8_t signature[8];
  if (stream.Read(signature, 8) != 8 || std::memcmp(signature, kSignature, 8) != 0) throw EPNGInvalidFileHeader();
  for (bool first = true;; first = false) {
    uint32_t length = 0;
    const std::string name = ReadChunkHead(stream, first, length);
    // Chromaticities are not kept.
    if (name == "cHRM") {
      SkipChunk(stream, length);
      continue;
    }
    if (name == "IDAT") {
      idat_length = length;
      return true;
    }
    std::unique_ptr<TChunk> chunk = CreateChunk(*this, name);
    const TChunk& created = *chunk;
    if (typeid(created) == typeid(TChunk) && TChunk::IsCritical(name)) throw EPNGUnknownCriticalChunk();
    chunk->LoadFromStream(stream, length);
    chunks_.push_back(std::move(chunk));
    if (name == "IEND") return false;
  }
}

void TPNGObject::LoadAfterImage(TStream& stream) {
  const bool have_idat = Find<TChunkIDAT>() != nullptr;
  if (have_idat) {
    for (;;) {
      uint32_t length = 0;
      const std::string name = ReadChunkHead(stream, false, length);
      // Image data after the first run of IDAT chunks is not image.
      if (name == "cHRM" || name == "IDAT") {
        SkipChunk(stream, length);
        continue;
      }
      std::unique_ptr<TChunk> chunk = CreateChunk(*this, name);
      const TChunk& created = *chunk;
      if (typeid(created) == typeid(TChunk) && TChunk::IsCritical(name)) throw EPNGUnknownCriticalChunk();
      chunk->LoadFromStream(stream, length);
      chunks_.push_back(std::move(chunk));
      if (name == "IEND") break;
    }
  }
  if (!have_idat) throw EPNGNoImageData();
  if (Header().ColorType() == COLOR_PALETTE && !Find<TChunkPLTE>()) throw EPNGInvalidPalette();
}

void TPNGObject::SaveToStream(TStream& stream) {
  Header();  // nothing to write without one
  stream.Write(kSignature, 8);
  for (const auto& chunk : chunks_) chunk->SaveToStream(stream);
}

// ---- Copying

void TPNGObject::Assign(const TGraphic& source) {
  if (source.Is(TPNGObject::StaticClass())) {
    AssignPng(static_cast<const TPNGObject&>(source));
  } else if (source.Is(TBitmap::StaticClass())) {
    AssignBitmap(static_cast<const TBitmap&>(source));
  } else {
    TGraphic::Assign(source);
  }
}

void TPNGObject::AssignPng(const TPNGObject& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<TChunk>> copies;
  for (const auto& c : source.chunks_) {
    copies.push_back(CreateChunk(*this, c->Name()));
    copies.back()->Assign(*c);
  }
  chunks_ = std::move(copies);
  gamma_ = source.gamma_;
  row_filters_ = source.row_filters_;
  deflate_level_ = source.deflate_level_;
  max_idat_bytes_ = source.max_idat_bytes_;
  interlacing_ = source.interlacing_;
}

void TPNGObject::AssignBitmap(const TBitmap& bitmap) {
  ClearChunks();
  interlacing_ = 0;
  const int32_t w = bitmap.Width(), h = std::abs(bitmap.Height());
  if (w <= 0 || h <= 0) return;
  const int bits = bitmap.BitsPerPixel();
  const bool indexed = bits < 16;
  const bool alpha = keep_alpha_ && bitmap.PixelFormat() == TPixelFormat::pf32bit && AnyTranslucent(bitmap);
  const uint8_t type = indexed ? COLOR_PALETTE : alpha ? COLOR_RGBALPHA : COLOR_RGB;

  TChunkIHDR& header = Add<TChunkIHDR>();
  header.SetHeader(uint32_t(w), uint32_t(h), uint8_t(indexed ? bits : 8), type, 0);
  header.AllocateImage();
  if (indexed) {
    // Packed indices have the same layout in both formats.
    for (int32_t y = 0; y < h; ++y) std::memcpy(header.Row(uint32_t(y)), bitmap.ScanLine(y), header.RowBytes());
  } else {
    const int step = alpha ? 4 : 3;
    std::vector<TColor32> line(static_cast<size_t>(w));
    for (int32_t y = 0; y < h; ++y) {
      bitmap.ReadRow32(y, line.data());
      uint8_t* out = header.Row(uint32_t(y));
      for (int32_t x = 0; x < w; ++x) {
        const TColor32 c = line[size_t(x)];
        out[step * x] = RedOf(c);
        out[step * x + 1] = GreenOf(c);
        out[step * x + 2] = BlueOf(c);
        if (alpha) out[step * x + 3] = AlphaOf(c);
      }
    }
  }

  std::vector<TChunkPLTE::TEntry> entries;
  if (indexed) {
    entries.assign(size_t{1} << bits, {0, 0, 0});
    const std::vector<TRGBQuad>& pal = bitmap.Palette();
    for (size_t i = 0; i < entries.size() && i < pal.size(); ++i) entries[i] = {pal[i].Red, pal[i].Green, pal[i].Blue};
    Add<TChunkPLTE>().SetEntries(entries);
  }

  if (bitmap.Transparent()) {
    TColor color = bitmap.TransparentColor();
    if (color < 0) color = SystemColor(color & 0xFF);
    const uint8_t r = uint8_t(color), g = uint8_t(color >> 8), b = uint8_t(color >> 16);
    if (!indexed) {
      Add<TChunktRNS>().SetData({0, r, 0, g, 0, b});
    } else {
      // Every entry before the transparent one opaque, that one clear. A colour the palette
      // does not hold leaves nothing to make transparent.
      for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].Red == r && entries[i].Green == g && entries[i].Blue == b) {
          std::vector<uint8_t> alpha(i + 1, 255);
          alpha[i] = 0;
          Add<TChunktRNS>().SetData(std::move(alpha));
          break;
        }
      }
    }
  }
  Add<TChunkIDAT>();
  Add<TChunkIEND>();
}

bool TPNGObject::AssignTo(TGraphic& dest) const {
  if (!dest.Is(TBitmap::StaticClass())) return false;
  TBitmap& bitmap = static_cast<TBitmap&>(dest);
  if (!HasHeader() || !Header().HasImage()) {
    bitmap.SetSize(0, 0);
    return true;
  }
  const TChunkIHDR& h = Header();
  const TPNGTransparencyMode mode = TransparencyMode();
  const uint8_t type = h.ColorType(), depth = h.BitDepth();
  const int32_t w = int32_t(h.Width()), ht = int32_t(h.Height());
  const bool indexed = mode != ptmPartial && (type == COLOR_PALETTE || (type == COLOR_GRAYSCALE && depth < 8));

  try {
    if (!indexed) {
      // Drawn onto black, the way partial transparency ends up on a fresh bitmap.
      TBitmap out(w, ht, TPixelFormat::pf24bit);
      std::vector<TColor32> pixels(static_cast<size_t>(w));
      TRowReader reader(*this);
      for (int32_t y = 0; y < ht; ++y) {
        reader.Read(h.Row(uint32_t(y)), pixels.data());
        uint8_t* row = out.ScanLine(y);
        for (int32_t x = 0; x < w; ++x) {
          TColor32 c = pixels[size_t(x)];
          c = AlphaOf(c) == 255 ? c : AlphaOf(c) == 0 ? 0 : Blend(c, 0);
          row[3 * x] = BlueOf(c);
          row[3 * x + 1] = GreenOf(c);
          row[3 * x + 2] = RedOf(c);
        }
      }
      bitmap = std::move(out);
      return true;
    }

    const TPixelFormat format = depth == 1 ? TPixelFormat::pf1bit : depth <= 4 ? TPixelFormat::pf4bit : TPixelFormat::pf8bit;
    TBitmap out(w, ht, format);
    TRowReader reader(*this);
    std::vector<TRGBQuad> palette(size_t{1} << TBitmap::BitsPerPixel(format));
    for (size_t i = 0; i < palette.size(); ++i) {
      const TColor32 c = reader.Lookup(unsigned(i));
      palette[i] = {BlueOf(c), GreenOf(c), RedOf(c), 0};
      if (mode == ptmBit && AlphaOf(c) == 0 && i < (size_t{1} << depth) && !out.Transparent()) {
        out.SetTransparent(true);
        out.SetTransparentColor(TColor(RedOf(c)) | TColor(GreenOf(c)) << 8 | TColor(BlueOf(c)) << 16);
      }
    }
    out.SetPalette(std::move(palette));
    for (int32_t y = 0; y < ht; ++y) {
      const uint8_t* src = h.Row(uint32_t(y));
      uint8_t* dst = out.ScanLine(y);
      if (depth == 2) {
        for (int32_t x = 0; x < w; ++x) {
          const unsigned v = (src[x / 4] >> (6 - 2 * (x % 4))) & 3;
          dst[x / 2] |= uint8_t(v << ((x % 2) ? 0 : 4));
        }
      } else {
        std::memcpy(dst, src, h.RowBytes());
      }
    }
    bitmap = std::move(out);
  } catch (const std::bad_alloc&) {
    throw EPNGOutMemory();
  }
  return true;
}

// ---- Size

void TPNGObject::Resize(int32_t width, int32_t height) {
  if (width < 1 || height < 1 || uint32_t(width) > kMaxPngSide || uint32_t(height) > kMaxPngSide) throw EPNGInvalidNewSize();
  TChunkIHDR& h = Header();
  const uint32_t old_w = h.Width(), old_h = h.Height();
  std::vector<uint8_t> old = std::move(h.ImageData());
  const size_t old_row = h.RowBytes();
  const int bpp = h.BitsPerPixel();
  h.SetHeader(uint32_t(width), uint32_t(height), h.BitDepth(), h.ColorType(), h.InterlaceMethod());
  h.AllocateImage();
  if (old.empty()) return;
  const uint32_t cols = std::min(old_w, uint32_t(width)), rows = std::min(old_h, uint32_t(height));
  for (uint32_t y = 0; y < rows; ++y)
    for (uint32_t x = 0; x < cols; ++x) CopyPixel(old.data() + size_t{y} * old_row, x, h.Row(y), x, bpp);
}

// ---- Drawing

void TPNGObject::DrawUncomposed(const TPixels32& target) {
  if (!HasHeader() || !Header().HasImage()) return;
  const TChunkIHDR& h = Header();
  if (target.Width != int32_t(h.Width()) || target.Height != int32_t(h.Height())) return;
  try {
    TRowReader reader(*this);
    for (uint32_t y = 0; y < h.Height(); ++y) reader.Read(h.Row(y), target.Row(int32_t(y)));
  } catch (const std::bad_alloc&) {
    throw EPNGOutMemory();
  }
}

void TPNGObject::Draw(const TPixels32& target, const TRect& rect) {
  if (!HasHeader() || !Header().HasImage()) return;
  const TChunkIHDR& h = Header();
  try {
    TRowReader reader(*this);
    std::vector<TColor32> line(h.Width());
    int32_t loaded = -1;
    // Opaque pixels replace the target, left-out ones leave it and the rest blend; at alpha 0
    // and 255 the blend gives exactly those two, so the three drawing modes share this loop.
    ForEachStretchedRow(target, rect, int32_t(h.Width()), int32_t(h.Height()),
                        [&](TColor32* dst, int32_t x0, int32_t count, int32_t sy, const int32_t* xs) {
                          if (sy != loaded) {
                            reader.Read(h.Row(uint32_t(sy)), line.data());
                            loaded = sy;
                          }
                          for (int32_t i = 0; i < count; ++i) {
                            const TColor32 c = line[size_t(xs[i])];
                            const uint8_t a = AlphaOf(c);
                            if (a == 255)
                              dst[x0 + i] = c;
                            else if (a != 0)
                              dst[x0 + i] = Blend(c, dst[x0 + i]);
                          }
                        });
  } catch (const std::bad_alloc&) {
    throw EPNGOutMemory();
  }
}

}  // namespace pellavo
