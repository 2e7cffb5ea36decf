#include <algorithm>
#include <vector>

#include "core/limits.h"
#include "formats/gif/gif_frames.h"
#include "formats/gif/gif_image.h"
#include "formats/gif/gif_lzw.h"

namespace pellavo {
namespace {

void Put16(std::vector<uint8_t>& out, int32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

// The table's colours, then black up to the size its bits declare.
void PutColorTable(std::vector<uint8_t>& out, const TGIFColorMap& map) {
  for (const TGIFColor& c : map.Colors()) out.insert(out.end(), {c.Red, c.Green, c.Blue});
  const size_t declared = size_t{1} << map.BitsPerPixel();
  out.insert(out.end(), (declared - size_t(map.Count())) * 3, 0);
}

void CheckSide(int32_t value) {
  if (value < 0 || value > kMaxGifSide)
    throw GIFException("Image too large for GIF: " + std::to_string(value) + " pixels (at most " +
                       std::to_string(kMaxGifSide) + ")");
}

// Signature, logical screen descriptor and global colour table. max_bits: the largest bits per
// pixel of all colour tables of the file.
void WriteHead(TStream& stream, const TGIFHeader& header, bool gif89, int max_bits) {
  CheckSide(header.ScreenWidth);
  CheckSide(header.ScreenHeight);
  const TGIFColorMap& global = header.GlobalMap;
  std::vector<uint8_t> head;
  head.insert(head.end(), {'G', 'I', 'F', '8', static_cast<uint8_t>(gif89 ? '9' : '7'), 'a'});
  Put16(head, header.ScreenWidth);
  Put16(head, header.ScreenHeight);
  // The size field must describe the global table actually written; a larger local table
  // elsewhere would otherwise make readers take the frames' bytes for colours.
  const int resolution = std::max(max_bits, 1) - 1;
  const int table_bits = global.Empty() ? resolution : global.BitsPerPixel() - 1;
  head.push_back(static_cast<uint8_t>((global.Empty() ? 0 : 0x80) | resolution << 4 | (global.Sorted() ? 0x08 : 0) |
                                      table_bits));
  head.push_back(header.BackgroundIndex);
  head.push_back(header.AspectRatio);
  if (!global.Empty()) PutColorTable(head, global);
  stream.WriteBuffer(head.data(), head.size());
}

void CheckEntry(const TGIFSubImage& sub) {
  if (!sub.HasImage()) return;
  CheckSide(sub.Left());
  CheckSide(sub.Top());
  CheckSide(sub.Width());
  CheckSide(sub.Height());
}

// One entry: its extensions, then its image descriptor, colour table and data.
void WriteEntry(TStream& stream, const TGIFSubImage& sub, const TGIFColorMap& global) {
  std::vector<uint8_t> part;
  for (const auto& e : sub.Extensions()) {
    part.push_back('!');
    part.push_back(e->Label());
    e->WriteBody(part);
  }
  if (!sub.HasImage()) {
    stream.WriteBuffer(part.data(), part.size());
    return;
  }
  const TGIFColorMap& local = sub.ColorMap();
  part.push_back(',');
  Put16(part, sub.Left());
  Put16(part, sub.Top());
  Put16(part, sub.Width());
  Put16(part, sub.Height());
  // Rows are always written in order, whatever the frame was read as.
  part.push_back(local.Empty() ? 0 : static_cast<uint8_t>(0x80 | (local.Sorted() ? 0x20 : 0) | (local.BitsPerPixel() - 1)));
  if (!local.Empty()) PutColorTable(part, local);
  stream.WriteBuffer(part.data(), part.size());

  const TGIFColorMap& active = local.Empty() ? global : local;
  TLZWEncoder encoder(stream, active.BitsPerPixel(), active.Count());
  std::vector<uint8_t> row(size_t(sub.Width()));
  for (int32_t y = 0; y < sub.Height(); ++y) {
    sub.ReadIndexRow(y, row.data());
    for (uint8_t index : row) encoder.Add(index);
  }
  encoder.Finish();
}

void WriteTrailer(TStream& stream) {
  const uint8_t trailer = ';';
  stream.WriteBuffer(&trailer, 1);
}

}  // namespace

void TGIFImage::SaveToStream(TStream& stream) {
  CheckSide(header_.ScreenWidth);
  CheckSide(header_.ScreenHeight);
  for (const TGIFSubImage& sub : images_) CheckEntry(sub);

  bool gif89 = false;
  int max_bits = header_.GlobalMap.BitsPerPixel();
  for (const TGIFSubImage& sub : images_) {
    gif89 = gif89 || sub.ColorMap().Sorted() || !sub.Extensions().empty();
    max_bits = std::max(max_bits, sub.ColorMap().BitsPerPixel());
  }
  WriteHead(stream, header_, gif89, max_bits);
  for (const TGIFSubImage& sub : images_) WriteEntry(stream, sub, header_.GlobalMap);
  WriteTrailer(stream);
}

namespace {

// Every frame covers the whole canvas, so disposal only decides what shows through the next
// frame's transparent pixels: nothing (restore to background) or this frame (leave in place).
constexpr uint8_t kDisposeToBackground = uint8_t(TGIFDisposal::dmBackground) << 2;
constexpr uint8_t kLeaveInPlace = uint8_t(TGIFDisposal::dmNoDisposal) << 2;
constexpr uint8_t kDisposalBits = 0x07 << 2;

class TGIFFrameSink final : public TFrameSink {
 public:
  TGIFFrameSink(TStream& out, int32_t width, int32_t height, TAnimationPlays plays, bool may_be_transparent)
      : out_(out), width_(width), height_(height), plays_(plays), disposal_(may_be_transparent ? kDisposeToBackground : kLeaveInPlace) {
    TGIFHeader header;
    header.ScreenWidth = width;
    header.ScreenHeight = height;
    // Every frame has a table of 256 colours.
    WriteHead(out_, header, true, 8);
  }

  void Add(const TBitmap& frame, int delay_ms, bool keep_alpha) override {
    if (frame.Width() != width_ || frame.Height() != height_)
      throw GIFException("Animation frames must all have the canvas size");
    TGIFSubImage sub;
    sub.Assign(frame, TGIFReductionMode::SystemOctreePalette, keep_alpha);
    TGIFExtensionList& extensions = sub.Extensions();
    // A frame that uses transparency has its control extension already.
    auto* control = extensions.empty() ? nullptr : dynamic_cast<TGIFGraphicControlExtension*>(extensions.back().get());
    if (!control) {
      extensions.push_back(std::make_unique<TGIFGraphicControlExtension>());
      control = static_cast<TGIFGraphicControlExtension*>(extensions.back().get());
    }
    control->Packed = static_cast<uint8_t>((control->Packed & ~kDisposalBits) | disposal_);
    control->Delay = static_cast<uint16_t>(std::clamp((int64_t{delay_ms} + 5) / 10, int64_t{0}, int64_t{0xFFFF}));
    if (frames_ == 0 && plays_ != 1) {
      // The extension counts the showings after the first; 0 is for ever.
      auto loop = std::make_unique<TGIFAppExtNSLoop>();
      loop->Identifier = "NETSCAPE2.0";
      loop->Loops = static_cast<uint16_t>(plays_ <= 0 ? 0 : std::min(plays_ - 1, 0xFFFF));
      extensions.insert(extensions.begin(), std::move(loop));
    }
    WriteEntry(out_, sub, TGIFColorMap());
    ++frames_;
  }

  void Finish() override {
    if (frames_ == 0) throw GIFException("An animation needs at least one frame");
    WriteTrailer(out_);
  }

 private:
  TStream& out_;
  const int32_t width_, height_;
  const TAnimationPlays plays_;
  const uint8_t disposal_;
  int frames_ = 0;
};

}  // namespace

std::unique_ptr<TFrameSink> MakeGIFFrameSink(TStream& out, int32_t width, int32_t height, TAnimationPlays plays,
                                             bool may_be_transparent) {
  return std::make_unique<TGIFFrameSink>(out, width, height, plays, may_be_transparent);
}

}  // namespace pellavo
