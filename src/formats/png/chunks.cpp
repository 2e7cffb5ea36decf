#include "formats/png/chunks.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <typeinfo>

#include "core/limits.h"
#include "formats/png/png_io.h"
#include "formats/png/png_object.h"
#include "formats/png/zstream.h"

namespace pellavo {

using namespace png_detail;

namespace {

bool ValidDepth(uint8_t color_type, uint8_t depth) {
  switch (color_type) {
    case COLOR_GRAYSCALE: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case COLOR_PALETTE: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case COLOR_RGB:
    case COLOR_GRAYSCALEALPHA:
    case COLOR_RGBALPHA: return depth == 8 || depth == 16;
    default: return false;
  }
}

// The text before the first zero byte, and where the rest starts.
std::string Keyword(const std::vector<uint8_t>& data, size_t& rest) {
  const auto zero = std::find(data.begin(), data.end(), uint8_t{0});
  rest = zero == data.end() ? data.size() : size_t(zero - data.begin()) + 1;
  return std::string(data.begin(), zero);
}

}  // namespace

// ---- TChunk

TChunk::TChunk(TPNGObject& owner, std::string_view name) : owner_(owner), name_(name) {}

bool TChunk::IsCritical(std::string_view name) { return name.empty() || !(name[0] >= 'a' && name[0] <= 'z'); }

void TChunk::LoadFromStream(TStream& stream, uint32_t length) {
  data_ = ReadChunkData(stream, length);
  CheckCrc(stream, data_.data(), data_.size());
}

void TChunk::CheckCrc(TStream& stream, const uint8_t* data, size_t size) const {
  uint8_t stored[4];
  ReadExact(stream, stored, 4);
  if (GetBE32(stored) != Crc(name_, data, size)) throw EPngInvalidCRC();
}

uint32_t TChunk::Crc(std::string_view name, const uint8_t* data, size_t size) {
  // libdeflate's CRC-32 is zlib's, several times faster over the large IDAT chunks.
  uint32_t crc = libdeflate_crc32(0, name.data(), 4);
  if (size) crc = libdeflate_crc32(crc, data, size);
  return crc;
}

void TChunk::WriteChunk(TStream& stream, const uint8_t* data, size_t size) const {
  uint8_t head[8];
  PutBE32(head, static_cast<uint32_t>(size));
  std::copy_n(name_.data(), 4, head + 4);
  uint8_t tail[4];
  PutBE32(tail, Crc(name_, data, size));
  stream.Write(head, 8);
  if (size) stream.Write(data, size);
  stream.Write(tail, 4);
}

void TChunk::SaveToStream(TStream& stream) { WriteChunk(stream, data_.data(), data_.size()); }

void TChunk::Assign(const TChunk& source) {
  if (typeid(*this) != typeid(source) || name_ != source.name_) throw EPngError(kPngIncompatibleChunks);
  data_ = source.data_;
}

// ---- TChunkIHDR

int TChunkIHDR::Channels() const {
  switch (color_type_) {
    case COLOR_RGB: return 3;
    case COLOR_GRAYSCALEALPHA: return 2;
    case COLOR_RGBALPHA: return 4;
    default: return 1;
  }
}

uint64_t TChunkIHDR::RowBytesFor(uint64_t width) const { return (width * uint64_t(BitsPerPixel()) + 7) / 8; }

size_t TChunkIHDR::RowBytes() const { return static_cast<size_t>(RowBytesFor(width_)); }

void TChunkIHDR::Validate() const {
  if (width_ > kMaxPngSide || height_ > kMaxPngSide) throw EPNGSizeExceeds();
  if (compression_method_ != 0) throw EPNGUnknownCompression();
  if (interlace_method_ > 1) throw EPNGUnknownInterlace();
  if (width_ == 0 || height_ == 0 || filter_method_ != 0 || !ValidDepth(color_type_, bit_depth_))
    throw EPngInvalidIHDR();
  // The decoded image is refused before anything is read into it.
  if (RowBytesFor(width_) * height_ > kMaxPixelBlockBytes) throw EPNGOutMemory();
}

void TChunkIHDR::LoadFromStream(TStream& stream, uint32_t length) {
  TChunk::LoadFromStream(stream, length);
  if (data_.size() < 13) throw EPngInvalidIHDR();
  width_ = GetBE32(&data_[0]);
  height_ = GetBE32(&data_[4]);
  bit_depth_ = data_[8];
  color_type_ = data_[9];
  compression_method_ = data_[10];
  filter_method_ = data_[11];
  interlace_method_ = data_[12];
  image_.clear();
  Validate();
  // Holds the image at its own depth, 16-bit samples included: up to eight bytes a pixel (the
  // image data is inflated and unfiltered a little at a time, into the image itself).
  CheckImageSize(Owner().DecodeLimits(), width_, height_);
  ClaimBytes(Owner().DecodeLimits(),
             std::max<uint64_t>(DecodedImageBytes(width_, height_), uint64_t{RowBytes()} * height_));
  Owner().SetInterlacing(interlace_method_);
}

void TChunkIHDR::SetHeader(uint32_t width, uint32_t height, uint8_t bit_depth, uint8_t color_type,
                           uint8_t interlace) {
  width_ = width;
  height_ = height;
  bit_depth_ = bit_depth;
  color_type_ = color_type;
  compression_method_ = 0;
  filter_method_ = 0;
  interlace_method_ = interlace;
  image_.clear();
  Validate();
}

void TChunkIHDR::SaveToStream(TStream& stream) {
  uint8_t d[13];
  PutBE32(d, width_);
  PutBE32(d + 4, height_);
  d[8] = bit_depth_;
  d[9] = color_type_;
  d[10] = compression_method_;
  d[11] = filter_method_;
  d[12] = Owner().Interlacing();
  data_.assign(d, d + 13);
  WriteChunk(stream, d, 13);
}

void TChunkIHDR::Assign(const TChunk& source) {
  TChunk::Assign(source);
  const auto& s = static_cast<const TChunkIHDR&>(source);
  width_ = s.width_;
  height_ = s.height_;
  bit_depth_ = s.bit_depth_;
  color_type_ = s.color_type_;
  compression_method_ = s.compression_method_;
  filter_method_ = s.filter_method_;
  interlace_method_ = s.interlace_method_;
  image_ = s.image_;
}

void TChunkIHDR::AllocateImage() {
  try {
    image_.assign(RowBytes() * height_, 0);
  } catch (const std::bad_alloc&) {
    throw EPNGOutMemory();
  }
}

// ---- TChunkPLTE

void TChunkPLTE::LoadFromStream(TStream& stream, uint32_t length) {
  if (length % 3 != 0 || length == 0 || length / 3 > 256) throw EPNGInvalidPalette();
  TChunk::LoadFromStream(stream, length);
}

void TChunkPLTE::SetEntries(const std::vector<TEntry>& entries) {
  if (entries.empty() || entries.size() > 256) throw EPNGInvalidPalette();
  data_.clear();
  for (const TEntry& e : entries) data_.insert(data_.end(), {e.Red, e.Green, e.Blue});
}

TChunkPLTE::TEntry TChunkPLTE::Item(size_t index) const {
  if (index >= Count()) throw EPngError(kPngNoSuchPaletteEntry);
  return {data_[3 * index], data_[3 * index + 1], data_[3 * index + 2]};
}

// ---- TChunkgAMA

void TChunkgAMA::LoadFromStream(TStream& stream, uint32_t length) {
  TChunk::LoadFromStream(stream, length);
  Owner().ApplyGamma(Gamma());
}

uint32_t TChunkgAMA::Gamma() const { return data_.size() >= 4 ? GetBE32(data_.data()) : 0; }

// ---- TChunktRNS

void TChunktRNS::LoadFromStream(TStream& stream, uint32_t length) {
  if (length > 256) throw EPNGInvalidPalette();
  TChunk::LoadFromStream(stream, length);
}

void TChunktRNS::SetData(std::vector<uint8_t> data) {
  if (data.size() > 256) throw EPNGInvalidPalette();
  data_ = std::move(data);
}

bool TChunktRNS::KeySample(int i, uint16_t& value) const {
  const size_t at = size_t(i) * 2;
  if (at + 2 > data_.size()) return false;
  value = GetBE16(&data_[at]);
  return true;
}

// ---- TChunkpHYs, TChunktIME

uint32_t TChunkpHYs::PPUnitX() const { return data_.size() >= 9 ? GetBE32(&data_[0]) : 0; }
uint32_t TChunkpHYs::PPUnitY() const { return data_.size() >= 9 ? GetBE32(&data_[4]) : 0; }
uint8_t TChunkpHYs::UnitType() const { return data_.size() >= 9 ? data_[8] : 0; }

std::array<int, 6> TChunktIME::Time() const {
  if (data_.size() < 7) return {};
  return {GetBE16(&data_[0]), data_[2], data_[3], data_[4], data_[5], data_[6]};
}

// ---- TChunktEXt, TChunkzTXt

std::string TChunktEXt::Keyword() const {
  size_t rest;
  return pellavo::Keyword(data_, rest);
}

std::string TChunktEXt::Text() const {
  size_t rest;
  pellavo::Keyword(data_, rest);
  return std::string(data_.begin() + static_cast<std::ptrdiff_t>(rest), data_.end());
}

std::string TChunkzTXt::Keyword() const {
  size_t rest;
  return pellavo::Keyword(data_, rest);
}

std::string TChunkzTXt::Text(size_t max_bytes) const {
  size_t rest;
  pellavo::Keyword(data_, rest);
  // One byte names the compression method; only deflate (0) exists.
  if (rest >= data_.size() || data_[rest] != 0) return {};
  ++rest;
  TInflater z;
  std::string text(std::min<size_t>(max_bytes, 64 * 1024), '\0');
  z->next_in = const_cast<Bytef*>(data_.data() + rest);
  z->avail_in = static_cast<uInt>(data_.size() - rest);
  size_t produced = 0;
  for (;;) {
    if (produced == text.size()) {
      if (text.size() >= max_bytes) break;
      text.resize(std::min(max_bytes, text.size() * 2));
    }
    z->next_out = reinterpret_cast<Bytef*>(text.data() + produced);
    z->avail_out = static_cast<uInt>(text.size() - produced);
    const int rc = inflate(z.get(), Z_NO_FLUSH);
    produced = text.size() - z->avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK) return {};
  }
  text.resize(produced);
  return text;
}

// ---- The registered kinds

std::unique_ptr<TChunk> CreateChunk(TPNGObject& owner, std::string_view name) {
  using TFactory = std::unique_ptr<TChunk> (*)(TPNGObject&);
  struct TKind {
    const char* Name;
    TFactory Create;
  };
  // In the order the kinds are registered.
  static constexpr TKind kKinds[] = {
      {"IEND", [](TPNGObject& o) -> std::unique_ptr<TChunk> { return std::make_unique<TChunkIEND>(o); }},
      {"IHDR", [](TPNGObject& o) -> std::unique_ptr<TChunk> { return std::make_unique<TChunkIHDR>(o); }},
      {"IDAT", [](TPNGObject& o) -> std::unique_ptr<TChunk> { return std::make_unique<TChunkIDAT>(o); }},
      {"PLTE", [](TPNGObject& o) -> std::unique_ptr<TChunk> { return std::make_unique<TChunkPLTE>(o); }},
      {"gAMA", [](TPNGObject& o) -> std::unique_ptr<TChunk> { return std::make_unique<TChunkgAMA>(o); }},
      {"tRNS", [](TPNGObject& o) -> std::unique_ptr<TChunk> { return std::make_unique<TChunktRNS>(o); }},
      {"pHYs", [](TPNGObject& o) -> std::unique_ptr<TChunk> { return std::make_unique<TChunkpHYs>(o); }},
      {"tIME", [](TPNGObject& o) -> std::unique_ptr<TChunk> { return std::make_unique<TChunktIME>(o); }},
      {"tEXt", [](TPNGObject& o) -> std::unique_ptr<TChunk> { return std::make_unique<TChunktEXt>(o); }},
      {"zTXt", [](TPNGObject& o) -> std::unique_ptr<TChunk> { return std::make_unique<TChunkzTXt>(o); }},
  };
  for (const TKind& k : kKinds)
    if (name == k.Name) return k.Create(owner);
  return std::make_unique<TChunk>(owner, name);
}

}  // namespace pellavo
