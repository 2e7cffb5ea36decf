#include "support/isobmff.h"

#include <cstring>
#include <optional>

namespace pellavo::test {
namespace {

uint64_t Get(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | b[at + size_t(i)];
  return v;
}

void Put(std::vector<uint8_t>& b, size_t at, int bytes, uint64_t v) {
  for (int i = bytes - 1; i >= 0; --i, v >>= 8) b[at + size_t(i)] = uint8_t(v);
}

struct TBox {
  size_t At, Payload, End;  // its start, its payload's start, its end
};

// The first box of that type in [begin, end), its payload starting after `skip` more bytes
// (a full box's version and flags).
std::optional<TBox> Child(const std::vector<uint8_t>& b, size_t begin, size_t end, const char* type, size_t skip = 0) {
  while (end - begin >= 8) {
    const size_t size = size_t(Get(b, begin, 4));
    if (size < 8 || size > end - begin) return std::nullopt;
    if (std::memcmp(&b[begin + 4], type, 4) == 0) return TBox{begin, begin + 8 + skip, begin + size};
    begin += size;
  }
  return std::nullopt;
}

// Moves every item location of the 'iloc' box that lies at or after `from` by `delta` bytes.
bool MoveItemLocations(std::vector<uint8_t>& b, const TBox& iloc, size_t from, uint64_t delta) {
  size_t at = iloc.At + 8;
  const int version = b[at];
  at += 4;
  const int offset_size = b[at] >> 4, length_size = b[at] & 15, base_size = b[at + 1] >> 4;
  const int index_size = version >= 1 ? b[at + 1] & 15 : 0;
  at += 2;
  const int id_bytes = version < 2 ? 2 : 4;
  const uint64_t items = Get(b, at, id_bytes);
  at += size_t(id_bytes);
  const auto move = [&](size_t field, int bytes) {
    if (bytes == 0) return;
    const uint64_t v = Get(b, field, bytes);
    if (v >= from) Put(b, field, bytes, v + delta);
  };
  for (uint64_t i = 0; i < items; ++i) {
    at += size_t(id_bytes);
    int method = 0;
    if (version >= 1) {
      method = b[at + 1] & 15;
      at += 2;
    }
    at += 2;  // data reference index
    const size_t base = at;
    at += size_t(base_size);
    const uint64_t extents = Get(b, at, 2);
    at += 2;
    if (at > iloc.End) return false;
    // Only file offsets move; offsets into 'idat' stay.
    if (method == 0 && base_size) move(base, base_size);
    for (uint64_t e = 0; e < extents; ++e) {
      at += size_t(index_size);
      if (method == 0 && !base_size) move(at, offset_size);
      at += size_t(offset_size + length_size);
    }
  }
  return at <= iloc.End;
}

}  // namespace

std::vector<uint8_t> WithDuplicatedIpma(const std::vector<uint8_t>& file) {
  const auto meta = Child(file, 0, file.size(), "meta", 4);
  if (!meta) return {};
  const auto iprp = Child(file, meta->Payload, meta->End, "iprp");
  const auto iloc = Child(file, meta->Payload, meta->End, "iloc");
  if (!iprp || !iloc || iloc->At > iprp->At) return {};
  const auto ipma = Child(file, iprp->Payload, iprp->End, "ipma");
  if (!ipma) return {};
  std::vector<uint8_t> out = file;
  const size_t n = ipma->End - ipma->At;
  out.insert(out.begin() + std::ptrdiff_t(ipma->End), file.begin() + std::ptrdiff_t(ipma->At),
             file.begin() + std::ptrdiff_t(ipma->End));
  Put(out, iprp->At, 4, Get(out, iprp->At, 4) + n);
  Put(out, meta->At, 4, Get(out, meta->At, 4) + n);
  if (!MoveItemLocations(out, *iloc, ipma->End, n)) return {};
  return out;
}

std::vector<uint8_t> WithCleanApertureOffset(const std::vector<uint8_t>& file, int32_t num, uint32_t den) {
  static const uint8_t kType[4] = {'c', 'l', 'a', 'p'};
  for (size_t at = 4; at + 36 <= file.size(); ++at)
    if (std::memcmp(&file[at], kType, 4) == 0 && Get(file, at - 4, 4) == 40) {
      std::vector<uint8_t> out = file;
      // widthN, widthD, heightN, heightD, then the horizontal offset's numerator and denominator.
      Put(out, at + 4 + 16, 4, uint32_t(num));
      Put(out, at + 4 + 20, 4, den);
      return out;
    }
  return {};
}

}  // namespace pellavo::test
