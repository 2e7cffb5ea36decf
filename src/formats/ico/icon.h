#pragma once
#include <memory>
#include <vector>

#include "formats/graphic.h"

namespace pellavo {

// An ICO file, read only. Of the images the file holds, the largest (then the deepest) is the
// icon's image at its own pixel size. Drawing paints through the icon's mask: masked-out pixels
// leave the target alone (or invert it, as the format defines), 32-bit images blend by alpha.
class TIcon : public TGraphic {
  PELLAVO_GRAPHIC_CLASS()

 public:
  TIcon() = default;
  TIcon(const TIcon&);

  int32_t Width() const override;
  int32_t Height() const override;
  bool Empty() const override { return Width() == 0 || Height() == 0; }
  bool UsesCoverageAlpha() const override { return true; }

  void Assign(const TGraphic& source) override;
  void Draw(const TPixels32& target, const TRect& rect) override;
  void LoadFromStream(TStream& stream) override;
  // Writes the file the icon was read from.
  void SaveToStream(TStream& stream) override;

 private:
  enum class TMode : uint8_t { Masked, Alpha };

  std::vector<uint8_t> file_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  TMode mode_ = TMode::Masked;
  std::vector<TColor32> colors_;  // top row first; alpha used in Alpha mode
  std::vector<uint8_t> mask_;     // 1 = keep (XOR with) the target, top row first
  std::unique_ptr<TGraphic> embedded_;  // an image stored as PNG, drawn by its own class
};

}  // namespace pellavo
