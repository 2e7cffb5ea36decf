#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pellavo::fuzz {

// Runs one fuzz input through the path a conversion worker takes: the bytes become a file
// named *.<ext>, TPicture::ReadFromFile picks the class by that extension, and a 32-bit surface
// takes the picture's image. Small images then go out as the worker's BMP and must read back
// pixel for pixel.
//
// Only the engine's own errors may come out of reading or drawing; anything else (another
// exception, a crash, a sanitizer report, a size mismatch) is a finding.
void ReadPictureFile(const uint8_t* data, size_t size, std::string_view ext);

}  // namespace pellavo::fuzz
