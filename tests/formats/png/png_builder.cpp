#include "formats/png/png_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <stdexcept>

#include "support/temp_dir.h"

namespace pellavo::test {

TBytes Be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

TBytes Chunk(const std::string& name, const TBytes& data) {
  TBytes out = Be32(static_cast<uint32_t>(data.size()));
  out.insert(out.end(), name.begin(), name.end());
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(name.data()), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  const TBytes c = Be32(static_cast<uint32_t>(crc));
  out.insert(out.end(), c.begin(), c.end());
  return out;
}

TBytes Ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace) {
  TBytes d = Be32(w);
  const TBytes hb = Be32(h);
  d.insert(d.end(), hb.begin(), hb.end());
  d.insert(d.end(), {depth, type, 0, 0, interlace});
  return Chunk("IHDR", d);
}

TBytes Png(const std::vector<TBytes>& chunks) {
  TBytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const TBytes& c : chunks) out.insert(out.end(), c.begin(), c.end());
  return out;
}

TBytes Deflate(const TBytes& data, int level) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  TBytes out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(size);
  return out;
}

TBytes Inflate(const TBytes& data) {
  z_stream z{};
  inflateInit(&z);
  TBytes out;
  uint8_t buf[65536];
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  int rc;
  do {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
  } while (rc == Z_OK);
  inflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("inflate failed");
  return out;
}

std::vector<TRawChunk> ParseChunks(const TBytes& png) {
  std::vector<TRawChunk> out;
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t n = uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 | png[at + 3];
    if (at + 12 + n > png.size()) throw std::runtime_error("chunk runs past the end");
    TRawChunk c{std::string(png.begin() + at + 4, png.begin() + at + 8),
                TBytes(png.begin() + at + 8, png.begin() + at + 8 + n)};
    if (Chunk(c.Name, c.Data) != TBytes(png.begin() + at, png.begin() + at + 12 + n))
      throw std::runtime_error("bad CRC in " + c.Name);
    out.push_back(std::move(c));
    at += 12 + n;
  }
  if (at != png.size()) throw std::runtime_error("trailing bytes");
  return out;
}

TBytes Save(TPNGObject& png) {
  TMemoryStream s;
  png.SaveToStream(s);
  return s.Take();
}

void Load(TPNGObject& png, const TBytes& bytes) {
  TMemoryStream s(bytes);
  png.LoadFromStream(s);
}

TBytes ReadFile(const std::string& path) { return ReadBytes(path); }

}  // namespace pellavo::test
