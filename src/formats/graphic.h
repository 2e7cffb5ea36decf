#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "core/color.h"
#include "core/decode_limits.h"
#include "core/rect.h"
#include "core/stream.h"
#include "formats/image_metadata.h"

namespace pellavo {

class TGraphic;

// What the registry knows of a graphic class: its name, its base and how to make one.
struct TGraphicClass {
  const char* Name;
  const TGraphicClass* Parent;  // nullptr for TGraphic itself
  std::unique_ptr<TGraphic> (*Create)();

  bool DerivesFrom(const TGraphicClass& base) const;
};

// The abstract image: every format is a class derived from it.
class TGraphic {
 public:
  static const TGraphicClass& StaticClass();

  virtual ~TGraphic() = default;
  virtual const TGraphicClass& Class() const = 0;
  bool Is(const TGraphicClass& cls) const { return Class().DerivesFrom(cls); }

  // Copies the image of source. A class takes the sources it knows; otherwise the source is
  // asked to copy itself into this graphic (AssignTo); otherwise EInvalidGraphic is raised.
  virtual void Assign(const TGraphic& source);
  // Copies this image into dest when this class knows how; returns whether it did.
  virtual bool AssignTo(TGraphic& dest) const;

  // Draws the image into rect of target, stretched to rect's size and clipped to target. The
  // graphic composes with what is there the way its format means: an opaque bitmap replaces
  // the pixels, a transparent GIF leaves its transparent pixels alone, a PNG blends by alpha.
  // Not const: a graphic may decode on first need.
  virtual void Draw(const TPixels32& target, const TRect& rect) = 0;

  // True for graphics that paint only what they cover (icons, metafiles): a surface then works
  // out their alpha by drawing them once on white and once on blue.
  virtual bool UsesCoverageAlpha() const { return false; }

  // Draws the whole image at its own size into target, which holds exactly Width() x Height()
  // pixels, all transparent black: colour left straight (not multiplied by alpha) and alpha
  // kept, where Draw would compose them onto what is there. The default is Draw, which is this
  // already for a graphic that paints opaque pixels and leaves the others out.
  virtual void DrawUncomposed(const TPixels32& target) { Draw(target, TRect{0, 0, Width(), Height()}); }

  // The colour profile, EXIF and XMP blocks the loaded file carried; none for formats that hold
  // none.
  virtual TImageMetadata EmbeddedMetadata() const { return {}; }
  // True when the decoder has already turned the pixels by the file's own rotation and mirroring
  // (as HEIF and AVIF files may hold): an EXIF orientation in the metadata then describes the
  // stored image, and applying it again would turn the picture twice.
  virtual bool DecodedUpright() const { return false; }

  virtual bool Empty() const = 0;
  // What the loaded image holds in memory, for the run's budget: its size as 32-bit pixels
  // unless the class keeps more (samples of 16 bits, the file itself).
  virtual uint64_t HeldBytes() const;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  virtual void SetWidth(int32_t width);
  virtual void SetHeight(int32_t height);

  // Reads the image from the stream's position, within DecodeLimits().
  virtual void LoadFromStream(TStream& stream) = 0;
  // Writes the image at the stream's position. Not const: an encoder may cache its output.
  virtual void SaveToStream(TStream& stream) = 0;

  // Opens the file for reading and loads it; the file is closed in every case.
  void ReadFromFile(const std::string& path);
  // Writes the file through TSafeOutput (the old file is replaced only after a complete write).
  // Virtual because a metafile chooses its layout by the path's extension.
  virtual void WriteToFile(const std::string& path);

  // What decoding may cost: every reader checks the size its header claims against these before
  // allocating, and a graphic that decodes on first draw checks again then. Set before loading.
  const TDecodeLimits& DecodeLimits() const { return decode_limits_; }
  void SetDecodeLimits(const TDecodeLimits& limits) { decode_limits_ = limits; }

 protected:
  TGraphic() = default;
  // Limits do not travel with an image: a copy starts with the defaults and an assigned-to
  // graphic keeps its own, so no graphic holds another's budget claim, whose owner may be gone
  // by the time the copy decodes.
  TGraphic(const TGraphic&) {}
  TGraphic& operator=(const TGraphic&) { return *this; }

 private:
  TDecodeLimits decode_limits_;
};

// Declares the class descriptor members of a graphic class; define with PELLAVO_DEFINE_GRAPHIC.
#define PELLAVO_GRAPHIC_CLASS()                                      \
 public:                                                             \
  static const ::pellavo::TGraphicClass& StaticClass();              \
  const ::pellavo::TGraphicClass& Class() const override { return StaticClass(); }

#define PELLAVO_DEFINE_GRAPHIC(Type, Base)                                                  \
  const ::pellavo::TGraphicClass& Type::StaticClass() {                                     \
    static const ::pellavo::TGraphicClass cls{                                              \
        #Type, &Base::StaticClass(),                                                        \
        []() -> std::unique_ptr<::pellavo::TGraphic> { return std::make_unique<Type>(); }}; \
    return cls;                                                                             \
  }

// Maps rect, clipped to target, onto a sw x sh source by nearest neighbour (top-left aligned,
// as a stretch blit does) and calls emit(dst row, first dst x, count, source row, source x of
// each pixel) once per target row. The source x table is shared between rows.
template <class Emit>
void ForEachStretchedRow(const TPixels32& target, const TRect& rect, int32_t sw, int32_t sh, Emit&& emit);

}  // namespace pellavo

#include "formats/graphic_stretch.inl"
