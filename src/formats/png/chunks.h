#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/stream.h"

namespace pellavo {

class TPNGObject;

// IHDR colour types.
enum : uint8_t {
  COLOR_GRAYSCALE = 0,
  COLOR_RGB = 2,
  COLOR_PALETTE = 3,
  COLOR_GRAYSCALEALPHA = 4,
  COLOR_RGBALPHA = 6,
};

// One chunk of a PNG file: its four-letter name and its data. A chunk of a kind the object
// does not know keeps its data as read and writes it back unchanged.
class TChunk {
 public:
  TChunk(TPNGObject& owner, std::string_view name);
  virtual ~TChunk() = default;
  TChunk(const TChunk&) = delete;
  TChunk& operator=(const TChunk&) = delete;

  const std::string& Name() const { return name_; }
  TPNGObject& Owner() const { return owner_; }
  const std::vector<uint8_t>& Data() const { return data_; }
  // Replaces the data of a chunk kept as it is (one of a kind without its own class).
  void SetRawData(std::vector<uint8_t> data) { data_ = std::move(data); }

  // Reads length data bytes and the CRC after them (the length and name have been read) and
  // checks the CRC.
  virtual void LoadFromStream(TStream& stream, uint32_t length);
  // Writes the whole chunk: length, name, data and CRC.
  virtual void SaveToStream(TStream& stream);
  // Takes over a chunk of the same kind; raises EPngError for another kind.
  virtual void Assign(const TChunk& source);

  // Whether the name marks a chunk a reader must understand: anything but a lower-case first
  // letter (names that are not letters at all are not PNG chunks either).
  static bool IsCritical(std::string_view name);
  // Reads the CRC that follows data and compares it with that of name and data.
  void CheckCrc(TStream& stream, const uint8_t* data, size_t size) const;
  // The CRC-32 of a chunk's name and data, as stored after them.
  static uint32_t Crc(std::string_view name, const uint8_t* data, size_t size);

 protected:
  // Writes length, name, the given data and the CRC of name and data.
  void WriteChunk(TStream& stream, const uint8_t* data, size_t size) const;

  std::vector<uint8_t> data_;

 private:
  TPNGObject& owner_;
  std::string name_;
};

class TChunkIEND : public TChunk {
 public:
  explicit TChunkIEND(TPNGObject& owner) : TChunk(owner, "IEND") {}
};

// The header, and the decoded image: rows top first, each in the file's own sample layout
// (RowBytes bytes, no filter byte), so that saving writes exactly the samples that were read.
class TChunkIHDR : public TChunk {
 public:
  explicit TChunkIHDR(TPNGObject& owner) : TChunk(owner, "IHDR") {}

  void LoadFromStream(TStream& stream, uint32_t length) override;
  void SaveToStream(TStream& stream) override;
  void Assign(const TChunk& source) override;

  // Sets a new header (checked as a read one is) and drops the image.
  void SetHeader(uint32_t width, uint32_t height, uint8_t bit_depth, uint8_t color_type, uint8_t interlace);

  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint8_t BitDepth() const { return bit_depth_; }
  uint8_t ColorType() const { return color_type_; }
  uint8_t CompressionMethod() const { return compression_method_; }
  uint8_t FilterMethod() const { return filter_method_; }
  uint8_t InterlaceMethod() const { return interlace_method_; }

  int Channels() const;
  int BitsPerPixel() const { return Channels() * bit_depth_; }
  // Bytes of one image row.
  size_t RowBytes() const;
  // Bytes of width pixels of this layout, for the narrower rows of interlace passes.
  uint64_t RowBytesFor(uint64_t width) const;

  // Empty until the image has been decoded or given.
  bool HasImage() const { return !image_.empty(); }
  std::vector<uint8_t>& ImageData() { return image_; }
  const std::vector<uint8_t>& ImageData() const { return image_; }
  const uint8_t* Row(uint32_t y) const { return image_.data() + size_t{y} * RowBytes(); }
  uint8_t* Row(uint32_t y) { return image_.data() + size_t{y} * RowBytes(); }
  // Allocates the image, all samples zero. Raises EPNGOutMemory when it cannot be held.
  void AllocateImage();

 private:
  void Validate() const;

  uint32_t width_ = 0, height_ = 0;
  uint8_t bit_depth_ = 0, color_type_ = 0, compression_method_ = 0, filter_method_ = 0, interlace_method_ = 0;
  std::vector<uint8_t> image_;
};

// The image data. Reading the first IDAT decodes the whole image, going on through the IDAT
// chunks that follow it; writing encodes the image into as many IDAT chunks as it takes.
class TChunkIDAT : public TChunk {
 public:
  explicit TChunkIDAT(TPNGObject& owner) : TChunk(owner, "IDAT") {}

  void LoadFromStream(TStream& stream, uint32_t length) override;
  void SaveToStream(TStream& stream) override;
};

class TChunkPLTE : public TChunk {
 public:
  struct TEntry {
    uint8_t Red, Green, Blue;
  };
  explicit TChunkPLTE(TPNGObject& owner) : TChunk(owner, "PLTE") {}

  void LoadFromStream(TStream& stream, uint32_t length) override;
  void SetEntries(const std::vector<TEntry>& entries);
  size_t Count() const { return data_.size() / 3; }
  // Raises EPngError for an index past the end.
  TEntry Item(size_t index) const;
};

class TChunkgAMA : public TChunk {
 public:
  explicit TChunkgAMA(TPNGObject& owner) : TChunk(owner, "gAMA") {}

  void LoadFromStream(TStream& stream, uint32_t length) override;
  // The file's gamma times 100000; 0 when the chunk is too short to hold one.
  uint32_t Gamma() const;
};

class TChunktRNS : public TChunk {
 public:
  explicit TChunktRNS(TPNGObject& owner) : TChunk(owner, "tRNS") {}

  void LoadFromStream(TStream& stream, uint32_t length) override;
  void SetData(std::vector<uint8_t> data);
  // The alpha of palette entry index: 255 past the end of the chunk.
  uint8_t PaletteAlpha(size_t index) const { return index < data_.size() ? data_[index] : 255; }
  // The 16-bit value at sample position i of a gray (i = 0) or RGB (i = 0..2) key; false when
  // the chunk is too short for one.
  bool KeySample(int i, uint16_t& value) const;
};

class TChunkpHYs : public TChunk {
 public:
  explicit TChunkpHYs(TPNGObject& owner) : TChunk(owner, "pHYs") {}
  // Pixels per unit in x and y and the unit (1 = metre); all 0 for a short chunk.
  uint32_t PPUnitX() const;
  uint32_t PPUnitY() const;
  uint8_t UnitType() const;
};

class TChunktIME : public TChunk {
 public:
  explicit TChunktIME(TPNGObject& owner) : TChunk(owner, "tIME") {}
  // Year, month, day, hour, minute, second; all 0 for a short chunk.
  std::array<int, 6> Time() const;
};

class TChunktEXt : public TChunk {
 public:
  explicit TChunktEXt(TPNGObject& owner) : TChunk(owner, "tEXt") {}
  std::string Keyword() const;
  std::string Text() const;
};

class TChunkzTXt : public TChunk {
 public:
  explicit TChunkzTXt(TPNGObject& owner) : TChunk(owner, "zTXt") {}
  std::string Keyword() const;
  // The inflated text, at most max_bytes of it; empty when the data cannot be inflated.
  std::string Text(size_t max_bytes = 1 << 20) const;
};

// Creates the registered class for name (IEND, IHDR, IDAT, PLTE, gAMA, tRNS, pHYs, tIME,
// tEXt, zTXt), or a plain TChunk for any other name.
std::unique_ptr<TChunk> CreateChunk(TPNGObject& owner, std::string_view name);

}  // namespace pellavo
