#include "formats/png/inflater.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#ifdef PELLAVO_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include "formats/png/png_errors.h"

namespace pellavo::png_detail {

class TInflate::TEngine {
 public:
  virtual ~TEngine() = default;
  virtual void SetInput(const uint8_t* data, size_t size) = 0;
  virtual size_t AvailIn() const = 0;
  virtual bool Inflate(uint8_t* out, size_t room, size_t& produced) = 0;
};

namespace {

class TZlibEngine final : public TInflate::TEngine {
 public:
  TZlibEngine() {
    const int rc = inflateInit(&z_);
    if (rc != Z_OK) throw EPNGZLIBError(rc);
  }
  ~TZlibEngine() override { inflateEnd(&z_); }

  void SetInput(const uint8_t* data, size_t size) override {
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(size);
  }
  size_t AvailIn() const override { return z_.avail_in; }

  bool Inflate(uint8_t* out, size_t room, size_t& produced) override {
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(std::min<size_t>(room, UINT_MAX));
    const int rc = inflate(&z_, Z_NO_FLUSH);
    produced = static_cast<size_t>(z_.next_out - out);
    if (rc == Z_STREAM_END) return true;
    if (rc == Z_OK || rc == Z_BUF_ERROR) return false;  // more input wanted
    throw EPNGZLIBError(rc == Z_NEED_DICT ? Z_DATA_ERROR : rc);
  }

 private:
  z_stream z_{};
};

#ifdef PELLAVO_HAVE_ISAL
// igzip inflates the deflate data and checks the Adler-32 after it; the two header bytes are
// checked here as zlib checks them, and their window size bounds the distances as in zlib.
class TIsalEngine final : public TInflate::TEngine {
 public:
  TIsalEngine() : state_(std::make_unique<inflate_state>()) { isal_inflate_init(state_.get()); }

  void SetInput(const uint8_t* data, size_t size) override {
    state_->next_in = const_cast<uint8_t*>(data);
    state_->avail_in = static_cast<uint32_t>(size);
  }
  size_t AvailIn() const override { return state_->avail_in; }

  bool Inflate(uint8_t* out, size_t room, size_t& produced) override {
    produced = 0;
    while (header_bytes_ < 2) {
      if (state_->avail_in == 0) return false;
      header_[header_bytes_++] = *state_->next_in++;
      --state_->avail_in;
      if (header_bytes_ == 2) CheckHeader();
    }
    state_->next_out = out;
    state_->avail_out = static_cast<uint32_t>(std::min<size_t>(room, UINT32_MAX));
    const int rc = isal_inflate(state_.get());
    produced = static_cast<size_t>(state_->next_out - out);
    if (rc < 0 || rc == ISAL_NEED_DICT) throw EPNGZLIBError(Z_DATA_ERROR);
    return state_->block_state == ISAL_BLOCK_FINISH;
  }

 private:
  void CheckHeader() {
    const unsigned cmf = header_[0], flg = header_[1];
    // zlib's order: the check bits, the method, the window, a preset dictionary.
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != Z_DEFLATED || (cmf >> 4) + 8 > 15 || (flg & 0x20))
      throw EPNGZLIBError(Z_DATA_ERROR);
    state_->crc_flag = ISAL_ZLIB_NO_HDR_VER;
    state_->hist_bits = (cmf >> 4) + 8;
  }

  std::unique_ptr<inflate_state> state_;
  uint8_t header_[2] = {0, 0};
  int header_bytes_ = 0;
};
#endif

}  // namespace

bool HaveIsal() {
#ifdef PELLAVO_HAVE_ISAL
  return true;
#else
  return false;
#endif
}

TInflateEngine DefaultInflateEngine() {
  static const TInflateEngine engine = [] {
    const char* v = std::getenv("PELLAVO_INFLATE");
    if (!HaveIsal() || (v && std::strcmp(v, "zlib") == 0)) return TInflateEngine::Zlib;
    return TInflateEngine::Isal;
  }();
  return engine;
}

TInflate::TInflate(TInflateEngine engine) {
#ifdef PELLAVO_HAVE_ISAL
  if (engine == TInflateEngine::Isal) {
    engine_ = std::make_unique<TIsalEngine>();
    return;
  }
#endif
  (void)engine;
  engine_ = std::make_unique<TZlibEngine>();
}

TInflate::~TInflate() = default;

void TInflate::SetInput(const uint8_t* data, size_t size) { engine_->SetInput(data, size); }
size_t TInflate::AvailIn() const { return engine_->AvailIn(); }
bool TInflate::Inflate(uint8_t* out, size_t room, size_t& produced) { return engine_->Inflate(out, room, produced); }

}  // namespace pellavo::png_detail
