#pragma once
#include <memory>
#include <string>

#include "formats/bmp/bitmap.h"
#include "formats/graphic.h"

namespace pellavo {

// Owns at most one graphic.
class TPicture {
 public:
  TPicture() = default;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // Chooses the class by the path's extension alone and loads the file with a new instance.
  // On failure the error propagates and the picture keeps its previous graphic. The graphic keeps
  // limits for a decode it does later (a JPEG decodes on first draw).
  void ReadFromFile(const std::string& path, const TDecodeLimits& limits = {});

  TGraphic* Graphic() const { return graphic_.get(); }
  void SetGraphic(std::unique_ptr<TGraphic> graphic) { graphic_ = std::move(graphic); }
  int32_t Width() const { return graphic_ ? graphic_->Width() : 0; }
  int32_t Height() const { return graphic_ ? graphic_->Height() : 0; }

  // The graphic when it is a bitmap; otherwise it is replaced by a new, empty bitmap (the old
  // image is not converted).
  TBitmap& Bitmap();
  // Holds a new graphic of source's class with a copy of its image.
  void Assign(const TGraphic& source);

 private:
  std::unique_ptr<TGraphic> graphic_;
};

}  // namespace pellavo
