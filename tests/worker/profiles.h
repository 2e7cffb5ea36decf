#pragma once
#include <cstdint>
#include <vector>

namespace pellavo::test {

// An Adobe RGB (1998) profile as LittleCMS builds it from the published primaries and gamma.
std::vector<uint8_t> AdobeRgbProfile();

}  // namespace pellavo::test
