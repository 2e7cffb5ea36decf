#include "core/color.h"

#include <array>
#include <cstddef>

namespace pellavo {

TColor SystemColor(int index) {
  // 0x00BBGGRR, indexed by the system colour number.
  static constexpr std::array<TColor, 31> kClassic = {
      0xC8D0D4,  // scrollbar
      0xA56E3A,  // background
      0x6A240A,  // active caption
      0x808080,  // inactive caption
      0xC8D0D4,  // menu
      0xFFFFFF,  // window
      0x000000,  // window frame
      0x000000,  // menu text
      0x000000,  // window text
      0xFFFFFF,  // caption text
      0xC8D0D4,  // active border
      0xC8D0D4,  // inactive border
      0x808080,  // app workspace
      0x6A240A,  // highlight
      0xFFFFFF,  // highlight text
      0xC8D0D4,  // button face
      0x808080,  // button shadow
      0x808080,  // gray text
      0x000000,  // button text
      0xC8D0D4,  // inactive caption text
      0xFFFFFF,  // button highlight
      0x404040,  // 3D dark shadow
      0xC8D0D4,  // 3D light
      0x000000,  // info text
      0xE1FFFF,  // info background
      0x000000,  // (no colour has this number)
      0xFF0000,  // hot light
      0xF0CAA6,  // gradient active caption
      0xC0C0C0,  // gradient inactive caption
      0x6A240A,  // menu highlight
      0xC8D0D4,  // menu bar
  };
  if (index < 0 || index >= static_cast<int>(kClassic.size())) return 0;
  return kClassic[static_cast<std::size_t>(index)];
}

}  // namespace pellavo
