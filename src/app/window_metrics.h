#pragma once

namespace pellavo {

// The window's start and minimum size at 96 dots per inch.
inline constexpr int kWindowWidth = 584;
inline constexpr int kWindowHeight = 545;
// The "Source folder" button's height at 96 dots per inch, from which the font size follows.
inline constexpr int kButtonHeight = 23;

// The window font's size in points: half the button's height at the screen's dots per inch,
// converted to points and rounded to the nearest whole number, a half to the even one
// (9 at 96 dots per inch).
int WindowFontPointSize(int dpi);

}  // namespace pellavo
