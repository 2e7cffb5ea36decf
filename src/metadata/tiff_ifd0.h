#pragma once
#include <cstdint>
#include <optional>
#include <vector>

namespace pellavo {

// The first directory (IFD0) of a TIFF-structured EXIF block as a minimal reader sees it, for
// blocks the full parser refuses. Only what turning the picture needs is read.
struct TIfd0 {
  int Entries = 0;      // as the directory counts them
  int Orientation = 0;  // tag 0x0112 when it holds 1 to 8; 0 when absent or impossible
};

// None when the header is not TIFF's or the directory does not lie wholly inside the block.
// Bounded: the count is 16 bits and the whole directory is checked to fit before an entry is
// read, and no offset is followed (the orientation is stored in its entry).
std::optional<TIfd0> ReadIfd0(const std::vector<uint8_t>& exif);

}  // namespace pellavo
