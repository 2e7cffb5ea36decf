#include "formats/gif/gif_image.h"

#include <algorithm>
#include <cstring>

#include "core/limits.h"
#include "core/muldiv.h"

namespace pellavo {

PELLAVO_DEFINE_GRAPHIC(TGIFImage, TGraphic)

namespace {

void PutSubBlocks(std::vector<uint8_t>& out, const uint8_t* data, size_t size) {
  while (size > 0) {
    const size_t n = std::min<size_t>(size, 255);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), data, data + n);
    data += n;
    size -= n;
  }
}

void PutLines(std::vector<uint8_t>& out, const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    PutSubBlocks(out, reinterpret_cast<const uint8_t*>(line.data()), line.size());
  out.push_back(0);
}

void PutIdentifier(std::vector<uint8_t>& out, const std::string& id) {
  // The reader only keeps 10 or 11 bytes; anything else is written in the long form.
  std::string fixed = id;
  if (fixed.size() != 10) fixed.resize(11, ' ');
  out.push_back(static_cast<uint8_t>(fixed.size()));
  out.insert(out.end(), fixed.begin(), fixed.end());
}

}  // namespace

// --- colour maps ---------------------------------------------------------------------------

void TGIFColorMap::Add(TGIFColor color) {
  if (colors_.size() >= 256) throw GIFException("Color table overflow");
  colors_.push_back(color);
}

int TGIFColorMap::BitsPerPixel() const {
  if (colors_.empty()) return 0;
  int bits = 1;
  while ((size_t{1} << bits) < colors_.size()) ++bits;
  return bits;
}

// --- extensions ----------------------------------------------------------------------------

std::unique_ptr<TGIFExtension> TGIFGraphicControlExtension::Clone() const {
  return std::make_unique<TGIFGraphicControlExtension>(*this);
}

void TGIFGraphicControlExtension::WriteBody(std::vector<uint8_t>& out) const {
  out.insert(out.end(), {4, Packed, static_cast<uint8_t>(Delay), static_cast<uint8_t>(Delay >> 8),
                         TransparentIndex, 0});
}

std::unique_ptr<TGIFExtension> TGIFTextExtension::Clone() const {
  return std::make_unique<TGIFTextExtension>(*this);
}

void TGIFTextExtension::WriteBody(std::vector<uint8_t>& out) const {
  out.insert(out.end(), Header.begin(), Header.end());
  PutLines(out, Lines);
}

std::unique_ptr<TGIFExtension> TGIFCommentExtension::Clone() const {
  return std::make_unique<TGIFCommentExtension>(*this);
}

void TGIFCommentExtension::WriteBody(std::vector<uint8_t>& out) const { PutLines(out, Lines); }

std::unique_ptr<TGIFExtension> TGIFAppExtNSLoop::Clone() const { return std::make_unique<TGIFAppExtNSLoop>(*this); }

void TGIFAppExtNSLoop::WriteBody(std::vector<uint8_t>& out) const {
  PutIdentifier(out, Identifier);
  out.insert(out.end(), {3, 1, static_cast<uint8_t>(Loops), static_cast<uint8_t>(Loops >> 8)});
  if (HasBufferSize) {
    out.insert(out.end(), {5, 2, static_cast<uint8_t>(BufferSize), static_cast<uint8_t>(BufferSize >> 8),
                           static_cast<uint8_t>(BufferSize >> 16), static_cast<uint8_t>(BufferSize >> 24)});
  }
  out.push_back(0);
}

std::unique_ptr<TGIFExtension> TGIFUnknownAppExtension::Clone() const {
  return std::make_unique<TGIFUnknownAppExtension>(*this);
}

void TGIFUnknownAppExtension::WriteBody(std::vector<uint8_t>& out) const {
  PutIdentifier(out, Identifier);
  for (const auto& block : Blocks) PutSubBlocks(out, block.data(), block.size());
  out.push_back(0);
}

// --- sub-images ----------------------------------------------------------------------------

TGIFSubImage::TGIFSubImage(const TGIFSubImage& other)
    : has_image_(other.has_image_),
      left_(other.left_),
      top_(other.top_),
      width_(other.width_),
      height_(other.height_),
      interlaced_(other.interlaced_),
      fill_(other.fill_),
      local_map_(other.local_map_),
      indices_(other.indices_) {
  for (const auto& e : other.extensions_) extensions_.push_back(e->Clone());
}

TGIFSubImage& TGIFSubImage::operator=(const TGIFSubImage& other) {
  if (this != &other) *this = TGIFSubImage(other);
  return *this;
}

const TGIFGraphicControlExtension* TGIFSubImage::GraphicControl() const {
  for (const auto& e : extensions_)
    if (e->Label() == TGIFGraphicControlExtension::kLabel) return static_cast<const TGIFGraphicControlExtension*>(e.get());
  return nullptr;
}

bool TGIFSubImage::Transparent() const {
  for (const auto& e : extensions_)
    if (e->Label() == TGIFGraphicControlExtension::kLabel &&
        static_cast<const TGIFGraphicControlExtension&>(*e).Transparent())
      return true;
  return false;
}

uint8_t TGIFSubImage::TransparentIndex() const {
  const TGIFGraphicControlExtension* gce = GraphicControl();
  return gce ? gce->TransparentIndex : 0;
}

uint16_t TGIFSubImage::Delay() const {
  const TGIFGraphicControlExtension* gce = GraphicControl();
  return gce ? gce->Delay : 0;
}

TGIFDisposal TGIFSubImage::Disposal() const {
  const TGIFGraphicControlExtension* gce = GraphicControl();
  return gce ? gce->Disposal() : TGIFDisposal::dmNone;
}

void TGIFSubImage::SetImage(int32_t left, int32_t top, int32_t width, int32_t height, bool interlaced, uint8_t fill) {
  has_image_ = true;
  left_ = std::max(left, 0);
  top_ = std::max(top, 0);
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  interlaced_ = interlaced;
  fill_ = fill;
  indices_.clear();
}

void TGIFSubImage::SetIndices(std::vector<uint8_t> indices) {
  indices.resize(std::min(indices.size(), size_t(width_) * size_t(height_)));
  indices_ = std::move(indices);
}

uint8_t* TGIFSubImage::AllocateIndices() {
  interlaced_ = false;
  indices_.assign(size_t(width_) * size_t(height_), fill_);
  return indices_.data();
}

int32_t TGIFSubImage::StoredRow(int32_t y) const {
  if (!interlaced_) return y;
  // Passes: every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
  const int32_t h = height_;
  const int32_t pass1 = (h + 7) / 8, pass2 = (h + 3) / 8, pass3 = (h + 1) / 4;
  if (y % 8 == 0) return y / 8;
  if (y % 8 == 4) return pass1 + y / 8;
  if (y % 4 == 2) return pass1 + pass2 + y / 4;
  return pass1 + pass2 + pass3 + y / 2;
}

void TGIFSubImage::ReadIndexRow(int32_t y, uint8_t* out) const {
  const size_t w = size_t(width_);
  const size_t start = size_t(StoredRow(y)) * w;
  const size_t have = start < indices_.size() ? std::min(w, indices_.size() - start) : 0;
  if (have) std::copy_n(indices_.data() + start, have, out);
  std::fill(out + have, out + w, fill_);
}

uint8_t TGIFSubImage::Index(int32_t x, int32_t y) const {
  const size_t at = size_t(StoredRow(y)) * size_t(width_) + size_t(x);
  return at < indices_.size() ? indices_[at] : fill_;
}

void TGIFSubImage::Assign(const TBitmap& bitmap, TGIFReductionMode mode, bool keep_alpha) {
  (void)mode;  // SystemOctreePalette is the one reduction there is
  if (bitmap.Width() > kMaxGifSide || bitmap.Height() > kMaxGifSide)
    throw GIFException("Image too large for GIF: " + std::to_string(bitmap.Width()) + " x " +
                       std::to_string(bitmap.Height()) + " pixels (at most " + std::to_string(kMaxGifSide) +
                       " x " + std::to_string(kMaxGifSide) + ")");
  *this = TGIFSubImage();
  if (bitmap.Empty()) return;
  const bool alpha_key = keep_alpha && bitmap.PixelFormat() == TPixelFormat::pf32bit;
  TReducedImage reduced = ReduceSystemOctree(bitmap, alpha_key);
  SetImage(0, 0, bitmap.Width(), bitmap.Height(), false, 0);
  for (const TGIFColor& c : reduced.Palette) local_map_.Add(c);
  if (alpha_key && std::find(reduced.Indices.begin(), reduced.Indices.end(), kAlphaKeyIndex) != reduced.Indices.end()) {
    auto control = std::make_unique<TGIFGraphicControlExtension>();
    control->Packed = 0x01;
    control->TransparentIndex = kAlphaKeyIndex;
    extensions_.push_back(std::move(control));
  }
  indices_ = std::move(reduced.Indices);
}

// --- the image -----------------------------------------------------------------------------

TImageMetadata TGIFImage::EmbeddedMetadata() const {
  TImageMetadata m;
  if (const int frames = FrameCount(); frames > 1) m.LeftOutFramesOf = frames;
  return m;
}

int TGIFImage::FrameCount() const {
  return static_cast<int>(std::count_if(images_.begin(), images_.end(), [](const TGIFSubImage& s) { return s.HasImage(); }));
}

const TGIFSubImage& TGIFImage::Frame(int index) const {
  for (const TGIFSubImage& s : images_)
    if (s.HasImage() && index-- == 0) return s;
  throw GIFException("Frame index out of range");
}

std::optional<uint16_t> TGIFImage::LoopCount() const {
  for (const TGIFSubImage& s : images_)
    for (const auto& e : s.Extensions())
      if (const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(e.get())) return loop->Loops;
  return std::nullopt;
}

void TGIFImage::DrawFrame(int index, const TPixels32& target, const TRect& rect) const {
  const TGIFSubImage& frame = Frame(index);
  const TGIFColorMap& map = frame.ColorMap().Empty() ? header_.GlobalMap : frame.ColorMap();
  if (map.Empty()) throw GIFException("No global or local color table defined");
  if (frame.Empty()) return;

  std::array<TColor32, 256> colors;
  colors.fill(kOpaque);  // indices beyond the table are black
  for (int i = 0; i < map.Count(); ++i) colors[size_t(i)] = ArgbColor(0xFF, map[i].Red, map[i].Green, map[i].Blue);

  const int32_t sw = header_.ScreenWidth, sh = header_.ScreenHeight;
  const TRect placed{rect.Left + MulDiv(frame.Left(), rect.Width(), sw), rect.Top + MulDiv(frame.Top(), rect.Height(), sh),
                     rect.Left + MulDiv(frame.Left() + frame.Width(), rect.Width(), sw),
                     rect.Top + MulDiv(frame.Top() + frame.Height(), rect.Height(), sh)};
  const bool transparent = frame.Transparent();
  const uint8_t key = frame.TransparentIndex();
  std::vector<uint8_t> row(size_t(frame.Width()));
  int32_t loaded = -1;
  ForEachStretchedRow(target, placed, frame.Width(), frame.Height(),
                      [&](TColor32* dst, int32_t x0, int32_t count, int32_t sy, const int32_t* xs) {
                        if (sy != loaded) {
                          frame.ReadIndexRow(sy, row.data());
                          loaded = sy;
                        }
                        for (int32_t i = 0; i < count; ++i) {
                          const uint8_t index = row[size_t(xs[i])];
                          if (transparent && index == key) continue;
                          dst[x0 + i] = colors[index];
                        }
                      });
}

void TGIFImage::Draw(const TPixels32& target, const TRect& rect) {
  // Several frames are drawn as a still image of the first; the animation is the viewer's.
  if (FrameCount() == 0) return;
  DrawFrame(0, target, rect);
}

void TGIFImage::Assign(const TGraphic& source) {
  if (source.Is(TGIFImage::StaticClass())) {
    const auto& gif = static_cast<const TGIFImage&>(source);
    header_ = gif.header_;
    images_ = gif.images_;
    reduction_ = gif.reduction_;
    keep_alpha_ = gif.keep_alpha_;
    return;
  }
  if (source.Is(TBitmap::StaticClass())) {
    TGIFSubImage sub;
    sub.Assign(static_cast<const TBitmap&>(source), reduction_, keep_alpha_);
    header_ = TGIFHeader();
    images_.clear();
    header_.ScreenWidth = sub.Left() + sub.Width();
    header_.ScreenHeight = sub.Top() + sub.Height();
    images_.push_back(std::move(sub));
    return;
  }
  TGraphic::Assign(source);
}

bool TGIFImage::AssignTo(TGraphic& dest) const {
  if (!dest.Is(TBitmap::StaticClass())) return false;
  TBitmap bitmap(Width(), Height(), TPixelFormat::pf32bit);
  if (FrameCount() > 0 && !bitmap.Empty()) {
    // Rows of a 32-bit bitmap are stored bottom-up, so paint into a top-down buffer first.
    std::vector<TColor32> pixels(size_t(Width()) * size_t(Height()), 0);
    DrawFrame(0, TPixels32{pixels.data(), Width(), Height()}, TRect{0, 0, Width(), Height()});
    for (int32_t y = 0; y < Height(); ++y)
      std::memcpy(bitmap.ScanLine(y), pixels.data() + size_t(y) * size_t(Width()), size_t(Width()) * sizeof(TColor32));
  }
  static_cast<TBitmap&>(dest) = std::move(bitmap);
  return true;
}

}  // namespace pellavo
