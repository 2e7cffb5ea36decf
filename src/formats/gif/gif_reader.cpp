#include <algorithm>
#include <cctype>
#include <cstring>

#include "formats/gif/gif_reader.h"

namespace pellavo {

TGIFReader::TGIFReader(TGIFImage& image, const std::vector<uint8_t>& bytes, const TDecodeLimits& limits,
                       bool keeps_every_frame)
    : image_(image),
      limits_(limits),
      keeps_every_frame_(keeps_every_frame),
      in_(bytes.data(), bytes.size()),
      warn_([&image](const std::string& text) { image.Warning(text); }) {}

size_t TGIFReader::Read() {
  ReadHeader();
  TGIFSubImage entry;
  while (ReadEntry(entry)) image_.images_.push_back(std::move(entry));
  // The screen grows to hold every frame.
  TGIFHeader& header = image_.header_;
  for (const TGIFSubImage& sub : image_.images_) {
    if (!sub.HasImage()) continue;
    header.ScreenWidth = std::max(header.ScreenWidth, sub.Left() + sub.Width());
    header.ScreenHeight = std::max(header.ScreenHeight, sub.Top() + sub.Height());
  }
  return Finish();
}

bool TGIFReader::ReadEntry(TGIFSubImage& entry, bool decode) {
  SkipZeros();
  if (in_.AtEnd() || in_.Peek() == ';') return false;
  const int type = in_.Peek();
  if (type != '!' && type != ',') {
    warn_("Unknown GIF block type");
    return false;
  }
  entry = ReadFrame(decode);
  return true;
}

size_t TGIFReader::Finish() {
  if (!in_.AtEnd() && in_.Byte() != ';') warn_("Invalid Image trailer");
  return in_.Position();
}

namespace {
bool IsSignature(const uint8_t* p) {
  return std::toupper(p[0]) == 'G' && std::toupper(p[1]) == 'I' && std::toupper(p[2]) == 'F';
}
}  // namespace

void TGIFReader::ReadHeader() {
  uint8_t sig[6] = {};
  const size_t got = in_.ReadSome(sig, 6);
  if (got < 3 || !IsSignature(sig)) {
    // Some writers put four bytes in front of the signature.
    in_.Seek(4);
    if (in_.Remaining() < 3) throw GIFException("Invalid GIF signature");
    in_.Read(sig, 3);
    if (!IsSignature(sig)) throw GIFException("Invalid GIF signature");
    in_.Read(sig + 3, 3);
  } else if (got < 6) {
    throw GIFException("Premature end of data");
  }
  TGIFHeader& header = image_.header_;
  header.ScreenWidth = in_.Word();
  header.ScreenHeight = in_.Word();
  const uint8_t packed = in_.Byte();
  header.BackgroundIndex = in_.Byte();
  header.AspectRatio = in_.Byte();
  if (packed & 0x80) {
    ReadColorMap(header.GlobalMap, packed & 7);
    header.GlobalMap.SetSorted((packed & 0x08) != 0);
  }
  screen_width_ = header.ScreenWidth;
  screen_height_ = header.ScreenHeight;
  AdmitImage(limits_, screen_width_, screen_height_);
}

// A frame's indices grow with the data that is really there, but the screen it is drawn on
// grows to hold every frame, and a file of many frames read whole keeps them all: both are
// refused past the limit before any index is decoded.
void TGIFReader::AdmitFrame(int32_t left, int32_t top, int32_t width, int32_t height) {
  screen_width_ = std::max<int64_t>(screen_width_, int64_t{left} + width);
  screen_height_ = std::max<int64_t>(screen_height_, int64_t{top} + height);
  AdmitImage(limits_, screen_width_, screen_height_);
  const uint64_t indices = uint64_t(width) * uint64_t(height);
  frame_bytes_ = keeps_every_frame_ ? frame_bytes_ + indices : indices;
  if (frame_bytes_ > limits_.MaxImageBytes)
    throw EImageTooLarge("image too large: its frames hold " + std::to_string(frame_bytes_ >> 20) +
                         " MB of pixels, over the limit of " + std::to_string(limits_.MaxImageBytes >> 20) + " MB");
}

void TGIFReader::ReadColorMap(TGIFColorMap& map, int size_bits) {
  const size_t count = size_t{2} << size_bits;
  uint8_t rgb[256 * 3];
  in_.Read(rgb, count * 3);
  map.Clear();
  for (size_t i = 0; i < count; ++i) map.Add({rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]});
}

void TGIFReader::SkipZeros() {
  while (in_.Peek() == 0) in_.Byte();
}

TGIFSubImage TGIFReader::ReadFrame(bool decode) {
  TGIFSubImage sub;
  while (!in_.AtEnd() && in_.Peek() != ',' && in_.Peek() != ';') {
    if (in_.Peek() != '!') {
      warn_("Invalid extension introducer");
      break;
    }
    in_.Byte();
    sub.Extensions().push_back(ReadExtension(in_.Byte()));
  }
  if (in_.AtEnd() || in_.Peek() == ';' || in_.Peek() == 0) return sub;

  uint8_t d[10];
  in_.Read(d, 10);
  const auto word = [&d](int at) { return int32_t(d[at] | d[at + 1] << 8); };
  int32_t width = word(5), height = word(7);
  const uint8_t packed = d[9];
  if (width == 0 || height == 0) {
    warn_("Image exceeds Logical Screen size");
    width = image_.header_.ScreenWidth;
    height = image_.header_.ScreenHeight;
  }
  if (packed & 0x80) {
    ReadColorMap(sub.ColorMap(), packed & 7);
    sub.ColorMap().SetSorted((packed & 0x20) != 0);
  }
  AdmitFrame(word(1), word(3), width, height);
  const uint8_t fill = sub.Transparent() ? sub.TransparentIndex() : 0;
  sub.SetImage(word(1), word(3), width, height, (packed & 0x40) != 0, fill);
  if (decode)
    sub.SetIndices(DecodeGIFImageData(in_, uint64_t(width) * uint64_t(height), warn_));
  else
    SkipGIFImageData(in_);
  return sub;
}

// Data sub-blocks up to the zero-length block; a block cut by the end of the file keeps what
// is there.
std::vector<std::vector<uint8_t>> TGIFReader::ReadSubBlocks() {
  std::vector<std::vector<uint8_t>> blocks;
  for (;;) {
    if (in_.AtEnd()) {
      warn_("Premature end of data");
      break;
    }
    const size_t n = in_.Byte();
    if (n == 0) break;
    std::vector<uint8_t> block(std::min(n, in_.Remaining()));
    if (block.size() < n) warn_("Premature end of data");
    in_.Read(block.data(), block.size());
    blocks.push_back(std::move(block));
  }
  return blocks;
}

std::vector<std::string> TGIFReader::ReadLines() {
  std::vector<std::string> lines;
  for (const auto& block : ReadSubBlocks()) lines.emplace_back(block.begin(), block.end());
  return lines;
}

std::unique_ptr<TGIFExtension> TGIFReader::ReadExtension(uint8_t label) {
  switch (label) {
    case TGIFGraphicControlExtension::kLabel: {
      auto gce = std::make_unique<TGIFGraphicControlExtension>();
      // Normally a 4-byte block and the terminator. A block of another size keeps what it
      // holds of the four fields, and the sub-blocks are skipped up to the terminator.
      uint8_t fields[4] = {};
      bool short_block = in_.AtEnd();
      const size_t declared = short_block ? 0 : in_.Byte();
      const size_t wanted = std::min<size_t>(declared, 4);
      const size_t got = in_.ReadSome(fields, wanted);
      short_block = short_block || declared < 4 || got < wanted;
      if (declared > 0) {
        in_.Skip(declared - wanted);
        short_block = short_block || in_.AtEnd();
        SkipBlocksQuietly();
      }
      if (short_block) warn_("Premature end of data");
      gce->Packed = fields[0];
      gce->Delay = static_cast<uint16_t>(fields[1] | fields[2] << 8);
      gce->TransparentIndex = fields[3];
      return gce;
    }
    case TGIFTextExtension::kLabel: {
      auto text = std::make_unique<TGIFTextExtension>();
      in_.Read(text->Header.data(), text->Header.size());
      text->Lines = ReadLines();
      return text;
    }
    case TGIFCommentExtension::kLabel: {
      auto comment = std::make_unique<TGIFCommentExtension>();
      comment->Lines = ReadLines();
      return comment;
    }
    case TGIFApplicationExtension::kLabel:
      return ReadApplicationExtension();
    default:
      throw GIFException("Unknown extension type");
  }
}

void TGIFReader::SkipBlocksQuietly() {
  while (!in_.AtEnd()) {
    const size_t n = in_.Byte();
    if (n == 0) return;
    in_.Skip(n);
  }
}

std::unique_ptr<TGIFExtension> TGIFReader::ReadApplicationExtension() {
  const uint8_t size = in_.Byte();
  if (size != 10 && size != 11) throw GIFException("Unsupported Application Extension block size");
  std::string id(size, '\0');
  in_.Read(id.data(), id.size());
  if (size == 11 && (id == "NETSCAPE2.0" || id == "ANIMEXTS1.0")) {
    auto loop = std::make_unique<TGIFAppExtNSLoop>();
    loop->Identifier = id;
    for (const auto& block : ReadSubBlocks()) {
      if (block.empty()) continue;
      if (block[0] == 1) {
        if (block.size() < 3) throw GIFException("Invalid GIF data");
        loop->Loops = static_cast<uint16_t>(block[1] | block[2] << 8);
      } else if (block[0] == 2 && block.size() >= 5) {
        loop->HasBufferSize = true;
        loop->BufferSize = uint32_t(block[1]) | uint32_t(block[2]) << 8 | uint32_t(block[3]) << 16 |
                           uint32_t(block[4]) << 24;
      }
    }
    return loop;
  }
  auto unknown = std::make_unique<TGIFUnknownAppExtension>();
  unknown->Identifier = id;
  unknown->Blocks = ReadSubBlocks();
  return unknown;
}

void TGIFImage::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  try {
    const std::vector<uint8_t> bytes = stream.ReadToEnd();
    // Parsed into a fresh image so that a file that fails leaves this one as it was.
    TGIFImage parsed;
    parsed.OnWarning = OnWarning;
    const size_t used = TGIFReader(parsed, bytes, DecodeLimits()).Read();
    header_ = std::move(parsed.header_);
    images_ = std::move(parsed.images_);
    stream.Seek(start + static_cast<int64_t>(used));
  } catch (...) {
    stream.Seek(start);
    throw;
  }
}

}  // namespace pellavo
