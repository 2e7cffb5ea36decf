#pragma once
#include <string>
#include <string_view>

#include "core/stream.h"
#include "formats/bmp/bitmap.h"

namespace pellavo {

// Extensions the save step writes as they are; any other is mapped first.
inline constexpr const char* kWrittenExtensions = ".jpg.bmp.png.gif.emf.jp2";

// ".jpeg" -> ".jpg", ".jpc" and ".j2k" -> ".jp2", ".ico" -> ".bmp", ".wmf" -> ".emf";
// anything else unchanged. ext is lower case with its dot.
std::string MapOutputExtension(const std::string& ext);

// Encodes the rendered 32-bit bitmap into out with the program's fixed settings for the format.
using TOutputWriter = void (*)(TBitmap& bitmap, TStream& out);
// The writer for an exact lower-case extension, or nullptr.
TOutputWriter FindOutputWriter(std::string_view ext);

}  // namespace pellavo
