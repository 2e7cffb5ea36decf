#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "formats/bmp/bitmap.h"
#include "formats/graphic.h"

namespace pellavo {

// Every failure of reading, drawing or writing a GIF.
class GIFException : public Exception {
 public:
  using Exception::Exception;
};

// How a true-colour image is brought down to the 256 colours a GIF can hold. The value is the
// one the setting has always had.
enum class TGIFReductionMode : uint8_t {
  // 20 fixed system colours at 0-9 and 246-255, up to 236 octree colours at 10-245.
  SystemOctreePalette = 8,
};

// What a viewer does with a frame before it paints the next one (bits 2-4 of the graphic
// control extension). Values 4 to 7 are undefined and kept as read.
enum class TGIFDisposal : uint8_t { dmNone = 0, dmNoDisposal = 1, dmBackground = 2, dmPrevious = 3 };

struct TGIFColor {
  uint8_t Red = 0, Green = 0, Blue = 0;
  friend bool operator==(const TGIFColor&, const TGIFColor&) = default;
};

// A colour table of at most 256 entries.
class TGIFColorMap {
 public:
  int Count() const { return static_cast<int>(colors_.size()); }
  bool Empty() const { return colors_.empty(); }
  const TGIFColor& operator[](int index) const { return colors_[static_cast<size_t>(index)]; }
  const std::vector<TGIFColor>& Colors() const { return colors_; }
  // Throws GIFException("Color table overflow") on a full map.
  void Add(TGIFColor color);
  void Clear() { colors_.clear(); sorted_ = false; }
  // 0 for an empty map, else the smallest b >= 1 with 2^b >= Count().
  int BitsPerPixel() const;
  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted) { sorted_ = sorted; }

 private:
  std::vector<TGIFColor> colors_;
  bool sorted_ = false;
};

// The logical screen descriptor with the global colour map.
// The screen is kept wider than 16 bits: a frame placed near the edge of a 65535-pixel screen
// grows it past what the field can hold, and the writer refuses such a screen.
struct TGIFHeader {
  int32_t ScreenWidth = 0;
  int32_t ScreenHeight = 0;
  uint8_t BackgroundIndex = 0;
  uint8_t AspectRatio = 0;
  TGIFColorMap GlobalMap;
};

// An extension block: everything between "!" and the next block. Each kind keeps its content so
// that a file written back carries it unchanged.
class TGIFExtension {
 public:
  virtual ~TGIFExtension() = default;
  virtual uint8_t Label() const = 0;
  virtual std::unique_ptr<TGIFExtension> Clone() const = 0;
  // Appends the bytes after the label, terminator included.
  virtual void WriteBody(std::vector<uint8_t>& out) const = 0;
};

using TGIFExtensionList = std::vector<std::unique_ptr<TGIFExtension>>;

class TGIFGraphicControlExtension final : public TGIFExtension {
 public:
  static constexpr uint8_t kLabel = 0xF9;
  uint8_t Label() const override { return kLabel; }
  std::unique_ptr<TGIFExtension> Clone() const override;
  void WriteBody(std::vector<uint8_t>& out) const override;

  bool Transparent() const { return (Packed & 0x01) != 0; }
  bool UserInput() const { return (Packed & 0x02) != 0; }
  TGIFDisposal Disposal() const { return static_cast<TGIFDisposal>((Packed >> 2) & 0x07); }

  uint8_t Packed = 0;
  uint16_t Delay = 0;  // hundredths of a second
  uint8_t TransparentIndex = 0;
};

class TGIFTextExtension final : public TGIFExtension {
 public:
  static constexpr uint8_t kLabel = 0x01;
  uint8_t Label() const override { return kLabel; }
  std::unique_ptr<TGIFExtension> Clone() const override;
  void WriteBody(std::vector<uint8_t>& out) const override;

  std::array<uint8_t, 13> Header{};  // block size (12) and the grid, cell and colour fields
  std::vector<std::string> Lines;    // one per sub-block
};

class TGIFCommentExtension final : public TGIFExtension {
 public:
  static constexpr uint8_t kLabel = 0xFE;
  uint8_t Label() const override { return kLabel; }
  std::unique_ptr<TGIFExtension> Clone() const override;
  void WriteBody(std::vector<uint8_t>& out) const override;

  std::vector<std::string> Lines;  // one per sub-block
};

class TGIFApplicationExtension : public TGIFExtension {
 public:
  static constexpr uint8_t kLabel = 0xFF;
  uint8_t Label() const override { return kLabel; }

  // Identifier and authentication code: 11 bytes, or 10 in files that use the short form.
  std::string Identifier;
};

// The looping extension ("NETSCAPE2.0" / "ANIMEXTS1.0").
class TGIFAppExtNSLoop final : public TGIFApplicationExtension {
 public:
  std::unique_ptr<TGIFExtension> Clone() const override;
  void WriteBody(std::vector<uint8_t>& out) const override;

  uint16_t Loops = 0;  // 0 = for ever
  bool HasBufferSize = false;
  uint32_t BufferSize = 0;
};

class TGIFUnknownAppExtension final : public TGIFApplicationExtension {
 public:
  std::unique_ptr<TGIFExtension> Clone() const override;
  void WriteBody(std::vector<uint8_t>& out) const override;

  std::vector<std::vector<uint8_t>> Blocks;  // data sub-blocks as read
};

// One entry of the file: extensions, and normally an image. An entry that ended before an image
// descriptor holds only its extensions (HasImage() is false).
//
// The pixel indices are kept in the order the data stores them (interlaced passes included) and
// only as far as the data reached: a frame whose data was cut short keeps its fill value for the
// rest without holding it in memory, so a descriptor's size alone never decides an allocation.
class TGIFSubImage {
 public:
  TGIFSubImage() = default;
  TGIFSubImage(const TGIFSubImage& other);
  TGIFSubImage& operator=(const TGIFSubImage& other);
  TGIFSubImage(TGIFSubImage&&) noexcept = default;
  TGIFSubImage& operator=(TGIFSubImage&&) noexcept = default;

  bool HasImage() const { return has_image_; }
  bool Empty() const { return !has_image_ || width_ == 0 || height_ == 0; }
  int32_t Left() const { return left_; }
  int32_t Top() const { return top_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  bool Interlaced() const { return interlaced_; }

  TGIFColorMap& ColorMap() { return local_map_; }
  const TGIFColorMap& ColorMap() const { return local_map_; }
  TGIFExtensionList& Extensions() { return extensions_; }
  const TGIFExtensionList& Extensions() const { return extensions_; }

  // The frame's own graphic control extension (the first one among its extensions), or nullptr.
  const TGIFGraphicControlExtension* GraphicControl() const;
  // Set when any of the frame's graphic control extensions has its transparency bit.
  bool Transparent() const;
  uint8_t TransparentIndex() const;
  uint16_t Delay() const;  // hundredths of a second, 0 without a graphic control extension
  TGIFDisposal Disposal() const;

  // Makes the entry an image of that place and size whose indices are all fill.
  void SetImage(int32_t left, int32_t top, int32_t width, int32_t height, bool interlaced, uint8_t fill);
  // Takes indices in stored order; fewer than Width() x Height() leave the rest at the fill value.
  void SetIndices(std::vector<uint8_t> indices);
  // Allocates every index (row order, not interlaced) and returns them for writing.
  uint8_t* AllocateIndices();
  // How many indices the data held (at most Width() x Height()).
  size_t StoredCount() const { return indices_.size(); }

  // Row y of the image (0 = top) as indices, width bytes.
  void ReadIndexRow(int32_t y, uint8_t* out) const;
  uint8_t Index(int32_t x, int32_t y) const;

  // Copies a bitmap into the entry as a 256-colour image reduced with mode. The bitmap must fit
  // the format's 16-bit sizes.
  // With keep_alpha, pixels of a 32-bit bitmap whose fourth byte is below 128 become the
  // transparent index (kAlphaKeyIndex), named by a graphic control extension.
  void Assign(const TBitmap& bitmap, TGIFReductionMode mode, bool keep_alpha = false);

 private:
  // The stored row that holds image row y.
  int32_t StoredRow(int32_t y) const;

  bool has_image_ = false;
  int32_t left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool interlaced_ = false;
  uint8_t fill_ = 0;
  TGIFColorMap local_map_;
  TGIFExtensionList extensions_;
  std::vector<uint8_t> indices_;
};

// A GIF file: the logical screen, its global colours and the entries in file order. Reads GIF87a
// and GIF89a with every extension kept; writes one GIF87a image per bitmap assigned.
class TGIFImage : public TGraphic {
  PELLAVO_GRAPHIC_CLASS()

 public:
  TGIFImage() = default;
  TGIFImage(const TGIFImage&) = default;
  TGIFImage& operator=(const TGIFImage&) = default;

  TGIFReductionMode ReductionMode() const { return reduction_; }
  void SetReductionMode(TGIFReductionMode mode) { reduction_ = mode; }
  // Taking over a 32-bit bitmap then keeps its fourth byte as transparency (see
  // TGIFSubImage::Assign). Off by default: the bitmap is opaque.
  bool KeepsAlpha() const { return keep_alpha_; }
  void SetKeepAlpha(bool on) { keep_alpha_ = on; }

  // Receives the reader's warnings; unset, warnings only steer the recovery.
  std::function<void(const std::string&)> OnWarning;

  const TGIFHeader& Header() const { return header_; }
  TGIFHeader& Header() { return header_; }
  // Every entry in file order, those holding only extensions included.
  const std::vector<TGIFSubImage>& Images() const { return images_; }
  std::vector<TGIFSubImage>& Images() { return images_; }

  // The entries that hold an image: what an animation shows, in order.
  int FrameCount() const;
  const TGIFSubImage& Frame(int index) const;
  // The loop count of the first looping extension (0 = for ever); none when the file has none.
  std::optional<uint16_t> LoopCount() const;
  // Paints frame index at its place on the logical screen mapped onto rect. Transparent pixels
  // and everything outside the frame are left as they are, so a viewer can compose an animation
  // by calling this frame after frame on one canvas.
  void DrawFrame(int index, const TPixels32& target, const TRect& rect) const;

  int32_t Width() const override { return header_.ScreenWidth; }
  int32_t Height() const override { return header_.ScreenHeight; }
  bool Empty() const override { return images_.empty(); }

  // Takes a TGIFImage (a copy) or a TBitmap (reduced with ReductionMode()).
  void Assign(const TGraphic& source) override;
  // Renders the first frame into a TBitmap as a 32-bit image, transparent pixels zero.
  bool AssignTo(TGraphic& dest) const override;
  // Draws the first frame as a still image.
  void Draw(const TPixels32& target, const TRect& rect) override;

  void LoadFromStream(TStream& stream) override;
  // An animation is converted as its first frame; the metadata says how many there are.
  TImageMetadata EmbeddedMetadata() const override;
  void SaveToStream(TStream& stream) override;

 private:
  void Warning(const std::string& text) const {
    if (OnWarning) OnWarning(text);
  }
  friend class TGIFReader;

  TGIFReductionMode reduction_ = TGIFReductionMode::SystemOctreePalette;
  bool keep_alpha_ = false;
  TGIFHeader header_;
  std::vector<TGIFSubImage> images_;
};

// The 256-colour palette and indices of a bitmap reduced with SystemOctreePalette.
struct TReducedImage {
  std::vector<TGIFColor> Palette;  // 256 entries
  std::vector<uint8_t> Indices;    // width x height, top row first
};
// With alpha_key, pixels whose fourth byte is below 128 take no part in choosing the colours
// and get index kAlphaKeyIndex, the last of the chosen ones, which is kept free for them.
TReducedImage ReduceSystemOctree(const TBitmap& bitmap, bool alpha_key = false);
inline constexpr uint8_t kAlphaKeyIndex = 245;
inline constexpr uint8_t kAlphaKeyThreshold = 128;

}  // namespace pellavo
