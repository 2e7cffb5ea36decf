#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/bmp/bitmap.h"
#include "formats/graphic.h"
#include "formats/png/chunks.h"
#include "formats/png/png_errors.h"

namespace pellavo {

// Row filter types, and the set the encoder may choose from (bit n = filter type n).
enum TPNGFilter : uint8_t { pfNone = 0, pfSub = 1, pfUp = 2, pfAverage = 3, pfPaeth = 4 };
using TPNGFilters = uint8_t;
constexpr TPNGFilters FilterBit(TPNGFilter f) { return static_cast<TPNGFilters>(1u << f); }

// How an image covers what it is drawn on.
enum TPNGTransparencyMode : uint8_t {
  ptmNone,     // opaque
  ptmBit,      // one colour (or palette entry) left out
  ptmPartial,  // blended by alpha
};

// A PNG image kept as its list of chunks in file order; the header chunk holds the decoded
// image.
class TPNGObject : public TGraphic {
  PELLAVO_GRAPHIC_CLASS()

 public:
  static constexpr uint32_t kMinIdatBytes = 65535;

  TPNGObject();
  TPNGObject(const TPNGObject&) = delete;
  TPNGObject& operator=(const TPNGObject&) = delete;

  // Settings of the encoder.
  TPNGFilters RowFilters() const { return row_filters_; }
  void SetRowFilters(TPNGFilters filters) { row_filters_ = filters & 0x1F; }
  int DeflateLevel() const { return deflate_level_; }
  // Kept within zlib's 0 to 9.
  void SetDeflateLevel(int level);
  uint32_t MaxIdatBytes() const { return max_idat_bytes_; }
  // Values below 65535 store 65535.
  void SetMaxIdatBytes(uint32_t bytes);
  // 0 none, 1 Adam7: what the header written says and how the encoder lays the rows out.
  uint8_t Interlacing() const { return interlacing_; }
  void SetInterlacing(uint8_t method) { interlacing_ = method ? 1 : 0; }

  // Sample value read from the file to displayed value.
  const std::array<uint8_t, 256>& GammaTable() const { return gamma_; }

  const std::vector<std::unique_ptr<TChunk>>& Chunks() const { return chunks_; }
  // The header chunk; raises EPNGHeaderNotPresent when there is none.
  TChunkIHDR& Header();
  const TChunkIHDR& Header() const;
  bool HasHeader() const;
  // The first chunk of class T, or nullptr.
  template <class T>
  T* Find() const {
    for (const auto& c : chunks_)
      if (auto* t = dynamic_cast<T*>(c.get())) return t;
    return nullptr;
  }

  TPNGTransparencyMode TransparencyMode() const;

  // Taking over a 32-bit bitmap then keeps its fourth byte as an alpha channel (colour type 6)
  // when any pixel is not opaque. Off, as by default, the fourth byte is dropped.
  bool KeepsAlpha() const { return keep_alpha_; }
  void SetKeepAlpha(bool on) { keep_alpha_ = on; }
  // Adds chunks for the blocks, right after the header: iCCP for the profile, eXIf, and an iTXt
  // "XML:com.adobe.xmp" for XMP. Raises EPNGHeaderNotPresent without a header.
  void AddMetadata(const TImageMetadata& metadata);

  // Gives the image a new size, keeping the pixels that stay inside it; the new area is zero.
  // Raises EPNGInvalidNewSize for a size below 1 or above 65535.
  void Resize(int32_t width, int32_t height);

  // TGraphic
  void Assign(const TGraphic& source) override;
  // Copies the image into a TBitmap: 1 bit per pixel for depth 1, 4 for depths 2 and 4, 8 for
  // 8-bit palettes, 24 for the rest and for every image with partial transparency.
  bool AssignTo(TGraphic& dest) const override;
  void Draw(const TPixels32& target, const TRect& rect) override;
  void DrawUncomposed(const TPixels32& target) override;
  // From iCCP, eXIf and an iTXt "XML:com.adobe.xmp"; a profile that does not inflate is a
  // problem, not a profile.
  TImageMetadata EmbeddedMetadata() const override;
  bool Empty() const override;
  // The decoded image at its own depth (eight bytes a pixel for 16-bit RGBA) and every chunk kept.
  uint64_t HeldBytes() const override;
  int32_t Width() const override;
  int32_t Height() const override;
  void SetWidth(int32_t width) override { Resize(width, Height()); }
  void SetHeight(int32_t height) override { Resize(Width(), height); }
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;

  // Rebuilds the gamma table for a file gamma of value / 100000; 0 leaves it alone.
  void ApplyGamma(uint32_t value);

  // The image's row y as displayed: gamma applied, alpha 255 where the pixel is opaque, 0 for a
  // left-out colour and the stored alpha for partial transparency.
  void ReadRow32(uint32_t y, TColor32* out) const;

 private:
  friend class TPNGRowImage;

  // The steps of LoadFromStream, which the row-by-row reader takes apart. Reads the signature
  // and the chunks up to the head of the first IDAT: true with the stream at its data and its
  // length, false after an IEND without one.
  bool LoadUntilImage(TStream& stream, uint32_t& idat_length);
  // After the image data: every chunk up to IEND, then the checks of a whole file.
  void LoadAfterImage(TStream& stream);
  void ClearChunks();
  void AssignBitmap(const TBitmap& bitmap);
  void AssignPng(const TPNGObject& source);
  template <class T>
  T& Add();

  std::array<uint8_t, 256> gamma_{};
  TPNGFilters row_filters_ = FilterBit(pfSub);
  int deflate_level_ = 7;
  uint32_t max_idat_bytes_ = kMinIdatBytes;
  uint8_t interlacing_ = 0;
  bool keep_alpha_ = false;
  std::vector<std::unique_ptr<TChunk>> chunks_;
};

}  // namespace pellavo
