#include <algorithm>
#include <vector>

#include "core/limits.h"
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

}  // namespace

void TGIFImage::SaveToStream(TStream& stream) {
  CheckSide(header_.ScreenWidth);
  CheckSide(header_.ScreenHeight);
  for (const TGIFSubImage& sub : images_) {
    if (!sub.HasImage()) continue;
    CheckSide(sub.Left());
    CheckSide(sub.Top());
    CheckSide(sub.Width());
    CheckSide(sub.Height());
  }

  const TGIFColorMap& global = header_.GlobalMap;
  bool gif89 = false;
  int max_bits = global.BitsPerPixel();
  for (const TGIFSubImage& sub : images_) {
    gif89 = gif89 || sub.ColorMap().Sorted() || !sub.Extensions().empty();
    max_bits = std::max(max_bits, sub.ColorMap().BitsPerPixel());
  }

  std::vector<uint8_t> head;
  head.insert(head.end(), {'G', 'I', 'F', '8', static_cast<uint8_t>(gif89 ? '9' : '7'), 'a'});
  Put16(head, header_.ScreenWidth);
  Put16(head, header_.ScreenHeight);
  // The size field must describe the global table actually written; a larger local table
  // elsewhere would otherwise make readers take the frames' bytes for colours.
  const int resolution = std::max(max_bits, 1) - 1;
  const int table_bits = global.Empty() ? resolution : global.BitsPerPixel() - 1;
  head.push_back(static_cast<uint8_t>((global.Empty() ? 0 : 0x80) | resolution << 4 | (global.Sorted() ? 0x08 : 0) |
                                      table_bits));
  head.push_back(header_.BackgroundIndex);
  head.push_back(header_.AspectRatio);
  if (!global.Empty()) PutColorTable(head, global);
  stream.WriteBuffer(head.data(), head.size());

  std::vector<uint8_t> row;
  for (const TGIFSubImage& sub : images_) {
    std::vector<uint8_t> part;
    for (const auto& e : sub.Extensions()) {
      part.push_back('!');
      part.push_back(e->Label());
      e->WriteBody(part);
    }
    if (!sub.HasImage()) {
      stream.WriteBuffer(part.data(), part.size());
      continue;
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
    row.resize(size_t(sub.Width()));
    for (int32_t y = 0; y < sub.Height(); ++y) {
      sub.ReadIndexRow(y, row.data());
      for (uint8_t index : row) encoder.Add(index);
    }
    encoder.Finish();
  }
  const uint8_t trailer = ';';
  stream.WriteBuffer(&trailer, 1);
}

}  // namespace pellavo
