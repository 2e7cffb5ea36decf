#pragma once
// Size limits that readers, writers and surfaces check before they allocate or write. Each is
// either a field width of a file format or a bound on memory that a small damaged file could
// otherwise claim.
#include <cstddef>
#include <cstdint>

namespace pellavo {

// The largest pixel block of one image in memory: a 32-bit surface, a device-independent bitmap,
// a decoded PNG image. 4 GiB is 2^30 pixels of 32 bits (32768 x 32768), far beyond any output
// this program makes and about what a BMP file can hold (kMaxBmpFileBytes). Memory is handed out
// lazily on this platform, so an absurd size has to be refused before allocating rather than
// fail on first touch.
inline constexpr uint64_t kMaxPixelBlockBytes = uint64_t{1} << 32;

// The default bound on one decoded image, counted as 32-bit pixels (width x height x 4): 1 GiB
// is 16384 x 16384, several times a large camera's output. Decoders refuse a header that claims
// more before they allocate anything, so a small crafted file cannot cost gigabytes; a run may
// set another bound up to kMaxPixelBlockBytes.
inline constexpr uint64_t kDefaultMaxImageBytes = uint64_t{1} << 30;

// A BMP file states its own size in a 32-bit field.
inline constexpr uint64_t kMaxBmpFileBytes = 0xFFFFFFFFu;

// GIF keeps widths, heights and positions in 16-bit fields.
inline constexpr int32_t kMaxGifSide = 65535;

// The PNG codec's bound on either side of an image (the text of EPNGSizeExceeds names it). The
// format itself would allow 2^31 - 1.
inline constexpr uint32_t kMaxPngSide = 65535;

// PNG keeps chunk lengths to 31 bits; a larger length field is not PNG.
inline constexpr uint32_t kMaxPngChunkLength = 0x7FFFFFFFu;

// The PDF writer records offsets and the image's length as 32-bit signed numbers, so a document
// must stay below 2 GiB.
inline constexpr int64_t kMaxPdfDocumentBytes = 0x7FFFFFFF;

// What the JPEG library may allocate for one image (coefficient buffers of progressive files,
// quantiser tables): past 2 GiB it fails with an error instead of letting a small file claim
// gigabytes.
inline constexpr long kMaxJpegLibraryMemory = 1L << 31;

// Chunks of a run's pool kept for reuse once given back (2 MB each): enough for the
// coefficients of a large progressive photo, so that the next one faults no page in again.
inline constexpr size_t kKeptChunks = 64;

// The JPEG 2000 codec holds every decoded sample as a 32-bit integer: a header asking for more
// than 2 GiB of them is refused before anything is decoded.
inline constexpr uint64_t kMaxJpeg2000DecodedSamples = uint64_t{1} << 29;

// A WMF header counts its object table in 16 bits; a table larger than that is refused slot by
// slot.
inline constexpr uint32_t kMaxWmfObjects = 65535;

// An embedded ICC profile: large LUT-based profiles run to a few MB; a compressed one (a PNG's
// iCCP) is inflated no further than this, so a small file cannot claim gigabytes through it.
inline constexpr size_t kMaxIccProfileBytes = size_t{16} << 20;

// An XMP packet inflated from a compressed PNG text chunk.
inline constexpr size_t kMaxXmpBytes = size_t{16} << 20;

}  // namespace pellavo
