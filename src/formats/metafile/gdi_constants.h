#pragma once
// The values of the drawing model that metafile records carry: modes, styles, flags and the
// layout constants of the headers around them. Each is named once, here.
#include <cstddef>
#include <cstdint>

namespace pellavo::metafile {

// Map modes: how logical units become device units.
constexpr int32_t kMmText = 1, kMmLoMetric = 2, kMmHiMetric = 3, kMmLoEnglish = 4, kMmHiEnglish = 5, kMmTwips = 6,
                  kMmIsotropic = 7, kMmAnisotropic = 8;

// How ModifyWorldTransform combines its matrix with the current one.
constexpr uint32_t kMwtIdentity = 1, kMwtLeftMultiply = 2, kMwtRightMultiply = 3, kMwtSet = 4;

// Background modes: whether hatch gaps, text cells and dash gaps are painted.
constexpr uint32_t kBkTransparent = 1, kBkOpaque = 2;

// Polygon fill modes.
constexpr uint32_t kAlternate = 1, kWinding = 2;

// Arc directions.
constexpr uint32_t kAdCounterClockwise = 1, kAdClockwise = 2;

// Binary raster operations of pens and brushes: the ones playback tells apart.
constexpr uint32_t kR2Nop = 11, kR2CopyPen = 13;

// Ternary raster operations of bitmap records. The index byte (bits 16 to 23) is the truth
// table over pattern, source and destination; the low word only encodes how to compute it.
constexpr uint32_t kSrcCopy = 0x00CC0020, kBlackness = 0x00000042, kWhiteness = 0x00FF0062;
constexpr uint32_t RopIndex(uint32_t rop) { return (rop >> 16) & 0xFF; }

// Pen styles: a line style in the low nibble, then end cap, join and pen type bits.
constexpr uint32_t kPsSolid = 0, kPsDash = 1, kPsDot = 2, kPsDashDot = 3, kPsDashDotDot = 4, kPsNull = 5,
                   kPsInsideFrame = 6, kPsUserStyle = 7, kPsStyleMask = 0x0F;
constexpr uint32_t kPsEndcapRound = 0x000, kPsEndcapSquare = 0x100, kPsEndcapFlat = 0x200, kPsEndcapMask = 0xF00;
constexpr uint32_t kPsJoinRound = 0x0000, kPsJoinBevel = 0x1000, kPsJoinMiter = 0x2000, kPsJoinMask = 0xF000;
constexpr uint32_t kPsGeometric = 0x10000;

// Brush styles.
constexpr uint32_t kBsSolid = 0, kBsNull = 1, kBsHatched = 2, kBsPattern = 3, kBsDibPattern = 5, kBsDibPatternPt = 6;

// Hatch styles of hatched brushes.
constexpr uint32_t kHsHorizontal = 0, kHsVertical = 1, kHsFDiagonal = 2, kHsBDiagonal = 3, kHsCross = 4,
                   kHsDiagCross = 5;

// How a new clip region combines with the current one.
constexpr uint32_t kRgnAnd = 1, kRgnOr = 2, kRgnXor = 3, kRgnDiff = 4, kRgnCopy = 5;

// Text alignment flags. Left, top and no-update are 0; centre includes the right bit and
// baseline the bottom bit, so those two are tested as whole values.
constexpr uint32_t kTaUpdateCp = 1, kTaRight = 2, kTaCenter = 6, kTaBottom = 8, kTaBaseline = 24;

// Text output options.
constexpr uint32_t kEtoOpaque = 0x2, kEtoClipped = 0x4, kEtoGlyphIndex = 0x10, kEtoNoRect = 0x100, kEtoPdy = 0x2000;

// Point types of PolyDraw; the close flag may be added to a line or the last point of a curve.
constexpr uint8_t kPtCloseFigure = 1, kPtLineTo = 2, kPtBezierTo = 4, kPtMoveTo = 6;

// Font weights.
constexpr int32_t kFwNormal = 400, kFwSemiBold = 600;

// AlphaBlend's alpha format: the source carries per-pixel alpha.
constexpr uint32_t kAcSrcAlpha = 1;

// Stock objects: an object index with this bit set names one of them by its number.
constexpr uint32_t kStockObject = 0x80000000u;
constexpr uint32_t kWhiteBrush = 0, kLtGrayBrush = 1, kGrayBrush = 2, kDkGrayBrush = 3, kBlackBrush = 4,
                   kNullBrush = 5, kWhitePen = 6, kBlackPen = 7, kNullPen = 8, kOemFixedFont = 10,
                   kAnsiFixedFont = 11, kAnsiVarFont = 12, kSystemFont = 13, kDeviceDefaultFont = 14,
                   kSystemFixedFont = 16, kDefaultGuiFont = 17, kDcBrush = 18, kDcPen = 19;

// Device-independent bitmaps: header sizes, compressions and colour-table usage.
constexpr size_t kBitmapFileHeaderSize = 14;
constexpr uint32_t kBitmapCoreHeaderSize = 12, kBitmapInfoHeaderSize = 40;
// Every header from this size on stores a 32-bit signed height, negative for top-down rows.
constexpr uint32_t kSignedHeightHeaderMin = 16;
constexpr uint32_t kBiRgb = 0, kBiBitfields = 3;
constexpr uint32_t kDibRgbColors = 0;

// The Windows metafile header: in memory or on disk, nine words, format version 3.
constexpr uint16_t kWmfInMemory = 1, kWmfOnDisk = 2;
constexpr uint16_t kWmfHeaderWords = 9;
constexpr size_t kWmfHeaderSize = 2 * kWmfHeaderWords;
constexpr uint16_t kWmfVersion3 = 0x0300;

// The enhanced metafile format's version in its header.
constexpr uint32_t kEmfVersion = 0x10000;

}  // namespace pellavo::metafile
