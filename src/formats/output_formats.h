#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pellavo {

// The formats a run can write, in the order of the window's "Output file format" group; an
// item's index is its value.
enum class TOutputFormat : uint8_t { Source, Jpg, Bmp, Png, Gif, Emf, Jp2, Pdf, Webp, Avif, Tif, Jxl };

struct TOutputFormatInfo {
  TOutputFormat Format;
  std::string_view Item;       // the group's item text
  std::string_view Name;       // as texts name the format ("JPEG 2000"); empty for Source
  std::string_view Extension;  // lower case, with its dot; empty for Source, which keeps the source's
  // Extensions that are written in this format under its own extension instead, such as the
  // ".jpeg" of a source kept by Source. Empty slots are unused (and spelt out: GCC 12 cannot
  // evaluate a default-constructed string_view of this table at compile time).
  std::array<std::string_view, 3> Aliases;
  // The run's quality setting reaches the encoder.
  bool TakesQuality;
  // The writer embeds a colour profile, EXIF and XMP; for the others pixels are turned into sRGB.
  bool CarriesMetadata;
  // The writer keeps transparency (an alpha channel or a transparent index); for the others
  // transparent areas are laid onto a background colour.
  bool KeepsAlpha;
};

// One row per output format. A new format is a row here and its writer where the codecs bind
// them (formats/all/output_writers.cpp, which does not compile without it), plus its reader in
// formats/all/standard_formats.cpp when the program reads it too.
inline constexpr std::array<TOutputFormatInfo, 12> kOutputFormats = {{
    // Format, item, name, extension, aliases, TakesQuality, CarriesMetadata, KeepsAlpha
    {TOutputFormat::Source, "Source", "", "", {"", "", ""}, false, false, false},
    // HEIF is read only; a phone photo kept in its own format becomes the JPEG every viewer reads.
    {TOutputFormat::Jpg, ".jpg", "JPEG", ".jpg", {".jpeg", ".heic", ".heif"}, true, true, false},
    {TOutputFormat::Bmp, ".bmp", "BMP", ".bmp", {".ico", "", ""}, false, false, true},
    {TOutputFormat::Png, ".png", "PNG", ".png", {"", "", ""}, false, true, true},
    {TOutputFormat::Gif, ".gif", "GIF", ".gif", {"", "", ""}, false, false, true},
    {TOutputFormat::Emf, ".emf", "EMF", ".emf", {".wmf", "", ""}, false, false, false},
    {TOutputFormat::Jp2, ".jp2", "JPEG 2000", ".jp2", {".jpc", ".j2k", ""}, false, false, true},
    {TOutputFormat::Pdf, ".pdf", "PDF", ".pdf", {"", "", ""}, false, false, false},
    {TOutputFormat::Webp, ".webp", "WebP", ".webp", {"", "", ""}, true, true, true},
    {TOutputFormat::Avif, ".avif", "AVIF", ".avif", {"", "", ""}, true, true, true},
    {TOutputFormat::Tif, ".tif", "TIFF", ".tif", {".tiff", "", ""}, false, true, true},
    {TOutputFormat::Jxl, ".jxl", "JPEG XL", ".jxl", {"", "", ""}, true, true, true},
}};

namespace output_format_detail {
// Extension slot k of a row: 0 its extension, then its aliases.
constexpr std::string_view Claim(const TOutputFormatInfo& f, size_t k) {
  return k == 0 ? f.Extension : f.Aliases[k - 1];
}
inline constexpr size_t kClaims = 1 + std::tuple_size_v<decltype(TOutputFormatInfo::Aliases)>;

// Each row at the index of its value, the item text being the extension written, and no
// extension claimed twice.
constexpr bool TableIsConsistent() {
  for (size_t i = 0; i < kOutputFormats.size(); ++i) {
    const TOutputFormatInfo& f = kOutputFormats[i];
    if (static_cast<size_t>(f.Format) != i) return false;
    if (f.Format != TOutputFormat::Source && f.Item != f.Extension) return false;
    for (size_t k = 0; k < kClaims; ++k) {
      if (Claim(f, k).empty()) continue;
      for (size_t j = 0; j < kOutputFormats.size(); ++j)
        for (size_t l = 0; l < kClaims; ++l)
          if ((j != i || l != k) && Claim(kOutputFormats[j], l) == Claim(f, k)) return false;
    }
  }
  return true;
}
}  // namespace output_format_detail
static_assert(output_format_detail::TableIsConsistent());

// The items of the window's "Output file format" group, in the order of their values.
inline constexpr std::array<std::string_view, kOutputFormats.size()> kOutputFormatItems = [] {
  std::array<std::string_view, kOutputFormats.size()> items = {};
  for (size_t i = 0; i < kOutputFormats.size(); ++i) items[i] = kOutputFormats[i].Item;
  return items;
}();

constexpr const TOutputFormatInfo& OutputFormatInfo(TOutputFormat format) {
  return kOutputFormats[static_cast<size_t>(format)];
}

// The largest metadata blocks a format's writer can embed, in bytes. A JPEG file holds each in
// segments of at most 65533 bytes after their identifier: EXIF ("Exif\0\0") and XMP (Adobe's
// 29-byte namespace) in one, a profile split over at most 255 (14 bytes of identifier and
// numbering each). The other formats take any size a file can hold.
struct TMetadataCapacity {
  size_t IccProfile;
  size_t Exif;
  size_t Xmp;
};
inline constexpr TMetadataCapacity kJpegMetadataCapacity{255 * (65533 - 14), 65533 - 6, 65533 - 29};
constexpr TMetadataCapacity MetadataCapacityOf(TOutputFormat format) {
  constexpr size_t kAny = SIZE_MAX;
  return format == TOutputFormat::Jpg ? kJpegMetadataCapacity : TMetadataCapacity{kAny, kAny, kAny};
}

// The format that writes a file with this extension (lower case, with its dot): the format of
// that extension or the one it is an alias of. Exact matches only, so ".jp" and "" have none.
std::optional<TOutputFormat> OutputFormatOfExtension(std::string_view extension);

// The name a conversion writes for the output path `path`: a name ending in an alias of a
// format (photo.JPEG) gets the format's own extension; others stay as they are, letter case
// included (IMG.JPG).
std::string WrittenFileName(std::string_view path);

}  // namespace pellavo
