#include "metadata/exif_blocks.h"

#include <exiv2/exiv2.hpp>

#include "metadata/tiff_ifd0.h"

#include <limits>
#include <optional>
#include <mutex>

namespace pellavo {
namespace {

// exiv2 prints its warnings about damaged blocks on standard error, and its XMP toolkit must be
// set up once before threads use it. Both are process-wide; done on first use.
std::mutex& XmpMutex() {
  static std::mutex m;
  return m;
}

void XmpLock(void* data, bool lock) {
  auto* m = static_cast<std::mutex*>(data);
  if (lock)
    m->lock();
  else
    m->unlock();
}

void Initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    static std::mutex namespaces;
    Exiv2::XmpParser::initialize(XmpLock, &namespaces);
  });
}

Exiv2::ByteOrder Decode(Exiv2::ExifData& data, const std::vector<uint8_t>& exif) {
  Initialise();
  if (exif.size() < 8 || exif.size() > std::numeric_limits<uint32_t>::max()) throw EMetadata("the EXIF block is damaged");
  try {
    const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(data, exif.data(), static_cast<uint32_t>(exif.size()));
    if (order == Exiv2::invalidByteOrder) throw EMetadata("the EXIF block is damaged");
    return order;
  } catch (const Exiv2::AnyError& e) {
    throw EMetadata("the EXIF block is damaged", e.what());
  }
}

// What exiv2 silently dropped of a block it decoded: it skips a first directory it finds
// implausible (thousands of entries) without an error, and with it the orientation. Empty when
// nothing was dropped.
std::string DroppedPart(const Exiv2::ExifData& data, const std::optional<TIfd0>& ifd0) {
  if (!ifd0 || ifd0->Entries == 0) return {};
  for (const auto& datum : data)
    if (datum.groupName() == "Image") return {};
  return "the EXIF block's first directory has " + std::to_string(ifd0->Entries) + " entries, more than can be read";
}

template <class Container, class Key>
void SetIfPresent(Container& data, const Key& key, const std::string& value) {
  const auto it = data.findKey(key);
  if (it != data.end()) it->setValue(value);
}

}  // namespace

TExifOrientation ExifOrientation(const std::vector<uint8_t>& exif) {
  const std::optional<TIfd0> ifd0 = ReadIfd0(exif);
  const auto from_ifd0 = [&](std::string refused) {
    return TExifOrientation{ifd0->Orientation ? ifd0->Orientation : 1, std::move(refused)};
  };
  Exiv2::ExifData data;
  try {
    Decode(data, exif);
  } catch (const EMetadata&) {
    if (!ifd0) throw;
    return from_ifd0("the EXIF block cannot be read");
  }
  if (std::string dropped = DroppedPart(data, ifd0); !dropped.empty()) return from_ifd0(std::move(dropped));
  const auto it = data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
  if (it == data.end() || it->count() == 0) return {};
  const long value = it->toLong();
  return {value >= 1 && value <= 8 ? static_cast<int>(value) : 1, {}};
}

std::vector<uint8_t> ExifForOutput(const std::vector<uint8_t>& exif, int orientation, int32_t width, int32_t height) {
  Exiv2::ExifData data;
  const Exiv2::ByteOrder order = Decode(data, exif);
  // Written back, the block would lose the directory exiv2 dropped: better none than a part.
  if (const std::string dropped = DroppedPart(data, ReadIfd0(exif)); !dropped.empty()) throw EMetadata(dropped);
  try {
    SetIfPresent(data, Exiv2::ExifKey("Exif.Image.Orientation"), std::to_string(orientation));
    Exiv2::ExifThumb(data).erase();
    // The rest of the preview's directory (its size, compression and resolution) describes an
    // image that is no longer there.
    for (auto it = data.begin(); it != data.end();) it = it->groupName() == "Thumbnail" ? data.erase(it) : std::next(it);
    data["Exif.Photo.PixelXDimension"] = static_cast<uint32_t>(width);
    data["Exif.Photo.PixelYDimension"] = static_cast<uint32_t>(height);
    SetIfPresent(data, Exiv2::ExifKey("Exif.Image.ImageWidth"), std::to_string(width));
    SetIfPresent(data, Exiv2::ExifKey("Exif.Image.ImageLength"), std::to_string(height));
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order, data);
    return blob;
  } catch (const Exiv2::AnyError& e) {
    throw EMetadata("the EXIF block cannot be written back", e.what());
  }
}

std::string XmpForOutput(const std::string& xmp, int orientation, int32_t width, int32_t height) {
  Initialise();
  // The toolkit's parser is not safe to run on several threads at once.
  const std::lock_guard<std::mutex> lock(XmpMutex());
  try {
    Exiv2::XmpData data;
    if (Exiv2::XmpParser::decode(data, xmp) != 0) throw EMetadata("the XMP packet is damaged");
    bool changed = false;
    const auto set = [&](const char* key, const std::string& value) {
      const auto it = data.findKey(Exiv2::XmpKey(key));
      if (it == data.end()) return;
      it->setValue(value);
      changed = true;
    };
    set("Xmp.tiff.Orientation", std::to_string(orientation));
    set("Xmp.exif.PixelXDimension", std::to_string(width));
    set("Xmp.exif.PixelYDimension", std::to_string(height));
    set("Xmp.tiff.ImageWidth", std::to_string(width));
    set("Xmp.tiff.ImageLength", std::to_string(height));
    if (!changed) return xmp;
    std::string packet;
    if (Exiv2::XmpParser::encode(packet, data, Exiv2::XmpParser::useCompactFormat) != 0)
      throw EMetadata("the XMP packet cannot be written back");
    return packet;
  } catch (const Exiv2::AnyError& e) {
    throw EMetadata("the XMP packet is damaged", e.what());
  }
}

}  // namespace pellavo
