#include "formats/jpeg2000/jp2_boxes.h"

#include <cstring>
#include <limits>

namespace pellavo::jp2detail {
namespace {

constexpr uint32_t BoxType(const char (&name)[5]) {
  return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 | uint32_t(uint8_t(name[2])) << 8 |
         uint8_t(name[3]);
}

// A bounds-checked big-endian reader over one box's contents.
class TReader {
 public:
  TReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Left() const { return size_ - at_; }
  bool Has(size_t n) const { return n <= Left(); }
  uint64_t Read(int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | data_[at_++];
    return v;
  }
  const uint8_t* Here() const { return data_ + at_; }
  void Skip(size_t n) { at_ += n; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

struct TBox {
  uint32_t Type = 0;
  const uint8_t* Contents = nullptr;
  size_t Size = 0;
};

// The next box of r, or nothing at the end or when the box does not fit.
std::optional<TBox> NextBox(TReader& r) {
  if (!r.Has(8)) return std::nullopt;
  uint64_t length = r.Read(4);
  TBox box;
  box.Type = static_cast<uint32_t>(r.Read(4));
  size_t header = 8;
  if (length == 1) {
    if (!r.Has(8)) return std::nullopt;
    length = r.Read(8);
    header = 16;
  } else if (length == 0) {
    length = r.Left() + header;  // runs to the end
  }
  if (length < header || length - header > r.Left()) return std::nullopt;
  box.Contents = r.Here();
  box.Size = static_cast<size_t>(length - header);
  r.Skip(box.Size);
  return box;
}

bool ReadColourSpec(TReader r, TJp2Header& header) {
  if (!r.Has(3)) return false;
  const auto method = r.Read(1);
  r.Skip(2);  // precedence, approximation
  if (method == 1) {
    if (!r.Has(4)) return false;
    header.EnumeratedColourSpace = static_cast<uint32_t>(r.Read(4));
  }
  return true;
}

bool ReadChannelDefs(TReader r, TJp2Header& header) {
  if (!r.Has(2)) return false;
  const auto count = static_cast<size_t>(r.Read(2));
  if (!r.Has(count * 6)) return false;
  header.ChannelDefs.resize(count);
  for (TChannelDef& def : header.ChannelDefs) {
    def.Channel = static_cast<uint16_t>(r.Read(2));
    def.Type = static_cast<uint16_t>(r.Read(2));
    def.Association = static_cast<uint16_t>(r.Read(2));
  }
  return true;
}

bool ReadPalette(TReader r, TJp2Header& header) {
  if (!r.Has(3)) return false;
  TPalette palette;
  palette.Entries = static_cast<uint32_t>(r.Read(2));
  const auto columns = static_cast<size_t>(r.Read(1));
  if (palette.Entries == 0 || palette.Entries > 1024 || columns == 0 || !r.Has(columns)) return false;
  size_t row_bytes = 0;
  for (size_t c = 0; c < columns; ++c) {
    const auto b = static_cast<uint8_t>(r.Read(1));
    TPaletteColumn column{(b & 0x7F) + 1, (b & 0x80) != 0};
    if (column.Precision > 32) return false;
    row_bytes += static_cast<size_t>((column.Precision + 7) / 8);
    palette.Columns.push_back(column);
  }
  if (!r.Has(row_bytes * palette.Entries)) return false;
  palette.Values.reserve(palette.Entries * columns);
  for (uint32_t e = 0; e < palette.Entries; ++e)
    for (const TPaletteColumn& column : palette.Columns) {
      const int bytes = (column.Precision + 7) / 8;
      const uint64_t raw = r.Read(bytes) & ((uint64_t{1} << column.Precision) - 1);
      int64_t value = static_cast<int64_t>(raw);
      if (column.Signed && (raw >> (column.Precision - 1)) != 0) value -= int64_t{1} << column.Precision;
      palette.Values.push_back(value);
    }
  header.Palette = std::move(palette);
  return true;
}

bool ReadMapping(TReader r, TJp2Header& header) {
  if (r.Left() % 4 != 0) return false;
  while (r.Has(4)) {
    TComponentMapping m;
    m.Component = static_cast<uint16_t>(r.Read(2));
    m.Type = static_cast<uint8_t>(r.Read(1));
    m.Column = static_cast<uint8_t>(r.Read(1));
    header.Mapping.push_back(m);
  }
  return true;
}

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutBox(std::vector<uint8_t>& out, const char (&type)[5], const std::vector<uint8_t>& contents) {
  Put(out, contents.size() + 8, 4);
  Put(out, BoxType(type), 4);
  out.insert(out.end(), contents.begin(), contents.end());
}

}  // namespace

std::optional<TJp2Header> ReadJp2Header(const uint8_t* data, size_t size) {
  TJp2Header header;
  TReader file(data, size);
  while (auto box = NextBox(file)) {
    if (box->Type != BoxType("jp2h")) continue;
    bool have_colour = false;
    TReader inside(box->Contents, box->Size);
    while (auto sub = NextBox(inside)) {
      const TReader contents(sub->Contents, sub->Size);
      bool ok = true;
      if (sub->Type == BoxType("colr")) {
        // Only the first colour specification counts.
        if (!have_colour) ok = ReadColourSpec(contents, header);
        have_colour = true;
      } else if (sub->Type == BoxType("cdef")) {
        ok = ReadChannelDefs(contents, header);
      } else if (sub->Type == BoxType("pclr")) {
        ok = ReadPalette(contents, header);
      } else if (sub->Type == BoxType("cmap")) {
        ok = ReadMapping(contents, header);
      }
      if (!ok) return std::nullopt;
    }
    break;
  }
  return header;
}

void WriteJp2File(TStream& out, const TJp2Layout& layout, const std::vector<uint8_t>& codestream) {
  std::vector<uint8_t> head;
  // Signature box.
  PutBox(head, "jP  ", {0x0D, 0x0A, 0x87, 0x0A});
  // File type: brand jp2, minor version 0, compatible with jp2.
  std::vector<uint8_t> ftyp;
  Put(ftyp, BoxType("jp2 "), 4);
  Put(ftyp, 0, 4);
  Put(ftyp, BoxType("jp2 "), 4);
  PutBox(head, "ftyp", ftyp);

  std::vector<uint8_t> jp2h;
  std::vector<uint8_t> ihdr;
  Put(ihdr, layout.Height, 4);
  Put(ihdr, layout.Width, 4);
  Put(ihdr, layout.Components, 2);
  Put(ihdr, uint8_t(layout.BitsPerComponent - 1), 1);
  Put(ihdr, 7, 1);  // wavelet compression
  Put(ihdr, 0, 1);  // colour space known
  Put(ihdr, 0, 1);  // no intellectual property box
  PutBox(jp2h, "ihdr", ihdr);
  std::vector<uint8_t> colr = {1, 0, 0};  // enumerated, no precedence, no approximation
  Put(colr, layout.EnumeratedColourSpace, 4);
  PutBox(jp2h, "colr", colr);
  if (!layout.ChannelDefs.empty()) {
    std::vector<uint8_t> cdef;
    Put(cdef, layout.ChannelDefs.size(), 2);
    for (const TChannelDef& def : layout.ChannelDefs) {
      Put(cdef, def.Channel, 2);
      Put(cdef, def.Type, 2);
      Put(cdef, def.Association, 2);
    }
    PutBox(jp2h, "cdef", cdef);
  }
  PutBox(head, "jp2h", jp2h);

  // Codestream box, with the extended length when the codestream needs it.
  const uint64_t length = uint64_t{codestream.size()} + 8;
  if (length > std::numeric_limits<uint32_t>::max()) {
    Put(head, 1, 4);
    Put(head, BoxType("jp2c"), 4);
    Put(head, length + 8, 8);
  } else {
    Put(head, length, 4);
    Put(head, BoxType("jp2c"), 4);
  }
  out.WriteBuffer(head.data(), head.size());
  out.WriteBuffer(codestream.data(), codestream.size());
}

}  // namespace pellavo::jp2detail
