#pragma once
// The JP2 file wrapper around a codestream: the header boxes we read ourselves (so that channel
// roles and palettes follow our rules, not the codec's reordering) and the boxes we write.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/stream.h"

namespace pellavo::jp2detail {

// Colour specification values of an enumerated colour space.
constexpr uint32_t kEnumSRGB = 16;
constexpr uint32_t kEnumGray = 17;
constexpr uint32_t kEnumSYCC = 18;

// Channel types and associations of a channel-definition entry.
constexpr uint16_t kChannelColour = 0;
constexpr uint16_t kChannelOpacity = 1;

struct TChannelDef {
  uint16_t Channel = 0;
  uint16_t Type = 0;
  uint16_t Association = 0;
};

struct TPaletteColumn {
  int Precision = 0;  // bits, 1 to 32
  bool Signed = false;
};

struct TPalette {
  uint32_t Entries = 0;
  std::vector<TPaletteColumn> Columns;
  std::vector<int64_t> Values;  // Entries rows of Columns.size() values
  int64_t Value(uint32_t entry, size_t column) const { return Values[entry * Columns.size() + column]; }
};

// One output channel of a palette image: a component taken as it is (Type 0) or looked up in
// palette column Column (Type 1).
struct TComponentMapping {
  uint16_t Component = 0;
  uint8_t Type = 0;
  uint8_t Column = 0;
};

struct TJp2Header {
  // The enumerated colour space of the first colour specification; 0 when there is none or
  // it is given by a profile.
  uint32_t EnumeratedColourSpace = 0;
  std::vector<TChannelDef> ChannelDefs;
  std::optional<TPalette> Palette;
  std::vector<TComponentMapping> Mapping;
};

// Reads the boxes of the JP2 header box. Returns nothing when a box we use is malformed (a
// length past its parent, a count the box cannot hold); the codec decides about the rest.
std::optional<TJp2Header> ReadJp2Header(const uint8_t* data, size_t size);

struct TJp2Layout {
  uint32_t Width = 0;
  uint32_t Height = 0;
  uint16_t Components = 0;
  uint8_t BitsPerComponent = 8;  // unsigned
  uint32_t EnumeratedColourSpace = kEnumSRGB;
  std::vector<TChannelDef> ChannelDefs;  // written when not empty
};

// Writes signature, file type, header (image header, colour specification, channel
// definitions) and the codestream box around codestream.
void WriteJp2File(TStream& out, const TJp2Layout& layout, const std::vector<uint8_t>& codestream);

}  // namespace pellavo::jp2detail
