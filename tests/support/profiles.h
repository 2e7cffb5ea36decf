#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// ICC profiles built with LittleCMS for tests of the colour paths.
namespace pellavo::test {

// An Adobe RGB (1998) profile as LittleCMS builds it from the published primaries and gamma.
std::vector<uint8_t> AdobeRgbProfile();

// The Adobe RGB profile grown to at least size bytes by a private tag of zeros, as profiles with
// large lookup tables are.
std::vector<uint8_t> PaddedAdobeRgbProfile(size_t size);

// sRGB's primaries and white with linear tone curves.
std::vector<uint8_t> LinearRgbProfile();

// A CMYK input profile in which only the black ink darkens.
std::vector<uint8_t> BlackInkOnlyProfile();

}  // namespace pellavo::test
