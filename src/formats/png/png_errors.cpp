#include "formats/png/png_errors.h"

#include <zlib.h>

namespace pellavo {

#define PELLAVO_PNG_ERROR_TEXT(Name, Text) \
  Name::Name() : EPngError(Text) {}

PELLAVO_PNG_ERROR_TEXT(EPNGInvalidFileHeader,
                       "The file being readed is not a valid \"Portable Network Graphics\" image because it contains "
                       "an invalid header. This file may be corruped, try obtaining it again.")
PELLAVO_PNG_ERROR_TEXT(EPngUnexpectedEnd,
                       "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected "
                       "end of the file.")
PELLAVO_PNG_ERROR_TEXT(EPNGIHDRNotFirst,
                       "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n(IHDR "
                       "chunk is not the first)")
PELLAVO_PNG_ERROR_TEXT(EPNGUnknownCriticalChunk,
                       "This \"Portable Network Graphics\" image contains an unknown critical part which could not "
                       "be decoded.")
PELLAVO_PNG_ERROR_TEXT(EPngInvalidCRC,
                       "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of "
                       "data (crc error)")
PELLAVO_PNG_ERROR_TEXT(EPngInvalidIHDR,
                       "The \"Portable Network Graphics\" image could not be loaded because one of its main piece "
                       "of data (ihdr) might be corrupted")
PELLAVO_PNG_ERROR_TEXT(EPNGSizeExceeds,
                       "This \"Portable Network Graphics\" image is not supported because either it's width or "
                       "height exceeds the maximum size, which is 65535 pixels length.")
PELLAVO_PNG_ERROR_TEXT(EPNGUnknownCompression,
                       "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme "
                       "which could not be decoded.")
PELLAVO_PNG_ERROR_TEXT(EPNGUnknownInterlace,
                       "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be "
                       "decoded.")
PELLAVO_PNG_ERROR_TEXT(EPNGMissingMultipleIDAT,
                       "This \"Portable Network Graphics\" image is invalid because it has missing image parts.")
PELLAVO_PNG_ERROR_TEXT(EPNGNoImageData, "This \"Portable Network Graphics\" image contains no data.")
PELLAVO_PNG_ERROR_TEXT(EPNGInvalidPalette, "The \"Portable Network Graphics\" image contains an invalid palette.")
PELLAVO_PNG_ERROR_TEXT(EPNGHeaderNotPresent,
                       "This operation is not valid because the current image contains no valid header.")
PELLAVO_PNG_ERROR_TEXT(EPNGOutMemory,
                       "Some operation could not be performed because the system is out of resources. Close some "
                       "windows and try again.")
PELLAVO_PNG_ERROR_TEXT(EPNGInvalidNewSize, "The new size provided for image resizing is invalid.")

#undef PELLAVO_PNG_ERROR_TEXT

std::string EPNGZLIBError::Describe(int zlib_code) {
  switch (zlib_code) {
    case Z_VERSION_ERROR: return "incompatible version (-6)";
    case Z_BUF_ERROR: return "buffer error (-5)";
    case Z_MEM_ERROR: return "insufficient memory (-4)";
    case Z_STREAM_ERROR: return "stream error (-2)";
    case Z_ERRNO: return "file error (-1)";
    // A stream that asks for a preset dictionary cannot be PNG data either.
    default: return "data error (-3)";
  }
}

EPNGZLIBError::EPNGZLIBError(int zlib_code)
    : EPngError("Could not decompress the image because it contains invalid compressed data.\r\n Description: " +
                Describe(zlib_code)) {}

}  // namespace pellavo
