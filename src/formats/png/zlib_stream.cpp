#include "formats/png/zlib_stream.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "formats/png/png_errors.h"

namespace pellavo::png_detail {
namespace {

struct TFreeCompressor {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using TCompressor = std::unique_ptr<libdeflate_compressor, TFreeCompressor>;

TCompressor NewCompressor(int level) {
  TCompressor c(libdeflate_alloc_compressor(level));
  if (!c) throw EPNGOutMemory();
  return c;
}

std::vector<uint8_t> Allocate(size_t n) {
  try {
    return std::vector<uint8_t>(n);
  } catch (const std::bad_alloc&) {
    throw EPNGOutMemory();
  }
}

// Raw deflate data of [data, data + n), its last block marked last.
std::vector<uint8_t> Deflate(int level, const uint8_t* data, size_t n) {
  const TCompressor c = NewCompressor(level);
  std::vector<uint8_t> out = Allocate(libdeflate_deflate_compress_bound(c.get(), n));
  const size_t got = libdeflate_deflate_compress(c.get(), data, n, out.data(), out.size());
  if (got == 0) throw EPNGOutMemory();  // within the bound it cannot fail
  out.resize(got);
  return out;
}

// Clears the last-block bit of raw deflate data and ends it with an empty stored block, so
// that more blocks can follow from the next byte on. The block boundaries are found by
// inflating, which zlib reports block by block.
void MakeNotLast(std::vector<uint8_t>& raw) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) throw EPNGOutMemory();
  struct TEnd {
    z_stream& z;
    ~TEnd() { inflateEnd(&z); }
  } end{z};
  z.next_in = raw.data();
  z.avail_in = static_cast<uInt>(raw.size());
  std::vector<uint8_t> scrap(64 * 1024);
  // The bit that says whether the block about to start is the last one.
  uint8_t* flag_byte = raw.data();
  unsigned flag_mask = 1;
  bool last = false;
  for (;;) {
    if (!last && (*flag_byte & flag_mask)) {
      last = true;
      *flag_byte = uint8_t(*flag_byte & ~flag_mask);
    }
    // The block's header bits are in zlib's hands already: it still sees the block as last.
    z.next_out = scrap.data();
    z.avail_out = static_cast<uInt>(scrap.size());
    const int rc = inflate(&z, Z_BLOCK);
    if (rc != Z_OK && rc != Z_STREAM_END) throw EPNGZLIBError(rc);
    if (!(z.data_type & 128)) continue;  // inside a block
    const unsigned unused = unsigned(z.data_type) & 7;
    if (last) {
      // The last block has ended: its final byte keeps its used bits, the empty stored block
      // (three zero bits, then zero padding, then LEN 0 and NLEN 0xFFFF) comes after them.
      const size_t used = static_cast<size_t>(z.next_in - raw.data());
      raw.resize(used);
      if (unused != 0) raw.back() = uint8_t(raw.back() & (0xFFu >> unused));
      if (unused < 3) raw.push_back(0);
      raw.insert(raw.end(), {0x00, 0x00, 0xFF, 0xFF});
      return;
    }
    if (unused != 0) {
      flag_byte = z.next_in - 1;
      flag_mask = 0x100u >> unused;
    } else {
      flag_byte = z.next_in;
      flag_mask = 1;
    }
  }
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
  out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

}  // namespace

void TFillLevel::Set(size_t bytes) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    filled_ = std::max(filled_, bytes);
  }
  changed_.notify_all();
}

void TFillLevel::Fail() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    failed_ = true;
  }
  changed_.notify_all();
}

bool TFillLevel::Await(size_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return failed_ || filled_ >= bytes; });
  return filled_ >= bytes;
}

std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& data, int level, size_t min_piece, TCoreGate* cores) {
  return ZlibCompressWhileFilled(data.data(), data.size(), level, [&](TFillLevel& f) { f.Set(data.size()); },
                                 min_piece, cores);
}

std::vector<uint8_t> ZlibCompressWhileFilled(const uint8_t* data, size_t size, int level,
                                             const std::function<void(TFillLevel&)>& fill, size_t min_piece,
                                             TCoreGate* cores) {
  const size_t pieces = std::clamp<size_t>(size / std::max<size_t>(min_piece, 1), 1, kMaxDeflatePieces);
  if (pieces == 1) {
    TFillLevel filled;
    fill(filled);
    const TCompressor c = NewCompressor(level);
    std::vector<uint8_t> out = Allocate(libdeflate_zlib_compress_bound(c.get(), size));
    const size_t got = libdeflate_zlib_compress(c.get(), data, size, out.data(), out.size());
    if (got == 0) throw EPNGOutMemory();
    out.resize(got);
    return out;
  }

  // Pieces are taken in turn by whichever thread is free, so that a piece that compresses
  // slowly (detail) does not leave the other thread idle behind it (sky); the helpers begin
  // while this thread is still filling the buffer.
  std::vector<std::vector<uint8_t>> raw(pieces);
  std::vector<std::exception_ptr> failed(pieces);
  std::atomic<size_t> next{0};
  TFillLevel filled;
  const auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < pieces;) {
      try {
        const size_t from = size * i / pieces, to = size * (i + 1) / pieces;
        if (!filled.Await(to)) return;
        raw[i] = Deflate(level, data + from, to - from);
        if (i + 1 < pieces) MakeNotLast(raw[i]);
      } catch (...) {
        failed[i] = std::current_exception();
      }
    }
  };
  // Helpers only on cores that are idle now; without one this thread deflates every piece after
  // filling the buffer.
  const std::vector<TCoreGate::TTurn> lent = LendSpareTurns(cores, int(pieces) - 1);
  std::vector<std::thread> helpers;
  const auto join = [&] {
    for (std::thread& t : helpers) t.join();
  };
  try {
    for (size_t t = 0; t < lent.size(); ++t) helpers.emplace_back(work);
  } catch (const std::system_error&) {
    // Fewer threads than hoped for: the ones there are take more pieces.
  }
  try {
    fill(filled);
    filled.Set(size);
  } catch (...) {
    filled.Fail();
    join();
    throw;
  }
  work();
  join();
  for (const std::exception_ptr& e : failed)
    if (e) std::rethrow_exception(e);

  // The header as libdeflate writes it: a 32 KiB window, the level in two bits, the check.
  const unsigned cmf = 0x78, flevel = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned flg = flevel << 6;
  flg += 31 - (cmf * 256 + flg) % 31;
  size_t total = 2 + 4;
  for (const std::vector<uint8_t>& r : raw) total += r.size();
  std::vector<uint8_t> out = Allocate(0);
  try {
    out.reserve(total);
  } catch (const std::bad_alloc&) {
    throw EPNGOutMemory();
  }
  out.insert(out.end(), {uint8_t(cmf), uint8_t(flg)});
  for (const std::vector<uint8_t>& r : raw) out.insert(out.end(), r.begin(), r.end());
  PutBE32(out, libdeflate_adler32(1, data, size));
  return out;
}

}  // namespace pellavo::png_detail
