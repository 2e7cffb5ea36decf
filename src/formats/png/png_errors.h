#pragma once
#include <string>

#include "core/errors.h"

namespace pellavo {

// Base of every PNG failure. Also raised itself for chunk copies between different kinds and
// for palette indices out of range.
class EPngError : public Exception {
 public:
  using Exception::Exception;
};

#define PELLAVO_PNG_ERROR(Name) \
  class Name : public EPngError { \
   public:                        \
    Name();                       \
  };

PELLAVO_PNG_ERROR(EPNGInvalidFileHeader)
PELLAVO_PNG_ERROR(EPngUnexpectedEnd)
PELLAVO_PNG_ERROR(EPNGIHDRNotFirst)
PELLAVO_PNG_ERROR(EPNGUnknownCriticalChunk)
PELLAVO_PNG_ERROR(EPngInvalidCRC)
PELLAVO_PNG_ERROR(EPngInvalidIHDR)
PELLAVO_PNG_ERROR(EPNGSizeExceeds)
PELLAVO_PNG_ERROR(EPNGUnknownCompression)
PELLAVO_PNG_ERROR(EPNGUnknownInterlace)
PELLAVO_PNG_ERROR(EPNGMissingMultipleIDAT)
PELLAVO_PNG_ERROR(EPNGNoImageData)
PELLAVO_PNG_ERROR(EPNGInvalidPalette)
PELLAVO_PNG_ERROR(EPNGHeaderNotPresent)
PELLAVO_PNG_ERROR(EPNGOutMemory)
PELLAVO_PNG_ERROR(EPNGInvalidNewSize)

#undef PELLAVO_PNG_ERROR

// Raised with the zlib code's description, such as "data error (-3)".
class EPNGZLIBError : public EPngError {
 public:
  explicit EPNGZLIBError(int zlib_code);
  static std::string Describe(int zlib_code);
};

// The two texts EPngError itself carries.
inline constexpr const char* kPngIncompatibleChunks = "The chunks must be compatible to be assigned.";
inline constexpr const char* kPngNoSuchPaletteEntry = "There is no such palette entry.";

}  // namespace pellavo
