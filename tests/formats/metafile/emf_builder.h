#pragma once
// Hand-made enhanced metafiles for the tests: records with known geometry.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "formats/metafile/records.h"

namespace pellavo::test {

class TEmfBuilder {
 public:
  // A picture of w x h pixels on the 96-dpi reference device.
  TEmfBuilder(int32_t w, int32_t h) : w_(w), h_(h) {}

  // A record of 32-bit fields after its type and size.
  TEmfBuilder& Rec(uint32_t type, std::initializer_list<int32_t> fields) {
    std::vector<uint8_t> r;
    metafile::TByteWriter b(r);
    b.U32(type);
    b.U32(uint32_t(8 + 4 * fields.size()));
    for (int32_t f : fields) b.S32(f);
    return Raw(r);
  }
  // A record given whole, its size field included.
  TEmfBuilder& Raw(const std::vector<uint8_t>& record) {
    body_.insert(body_.end(), record.begin(), record.end());
    ++count_;
    return *this;
  }
  TEmfBuilder& Floats(uint32_t type, std::initializer_list<float> values, std::initializer_list<int32_t> after = {}) {
    std::vector<uint8_t> r;
    metafile::TByteWriter b(r);
    b.U32(type);
    b.U32(uint32_t(8 + 4 * (values.size() + after.size())));
    for (float v : values) b.F32(v);
    for (int32_t v : after) b.S32(v);
    return Raw(r);
  }
  // An EXTTEXTOUTW at (x, y) without advances; rect is the opaque or clipping rectangle.
  TEmfBuilder& Text(int32_t x, int32_t y, const std::u16string& text, uint32_t options = 0,
                    std::initializer_list<int32_t> rect = {0, 0, 0, 0}) {
    std::vector<uint8_t> r;
    metafile::TByteWriter b(r);
    const uint32_t size = 76 + uint32_t((text.size() * 2 + 3) / 4 * 4);
    b.U32(metafile::EMR_EXTTEXTOUTW);
    b.U32(size);
    for (int i = 0; i < 4; ++i) b.S32(0);  // bounds
    b.U32(1);                              // compatible graphics mode
    b.F32(1);
    b.F32(1);
    b.S32(x);
    b.S32(y);
    b.U32(uint32_t(text.size()));
    b.U32(76);  // string offset
    b.U32(options);
    for (int32_t v : rect) b.S32(v);
    b.U32(0);  // no advances
    for (char16_t c : text) b.U16(c);
    while (r.size() < size) r.push_back(0);
    return Raw(r);
  }

  std::vector<uint8_t> Bytes() const {
    using namespace metafile;
    const int32_t bounds[4] = {0, 0, w_ - 1, h_ - 1};
    const int32_t frame[4] = {0, 0, (w_ * 2540 * 2 + 96) / (96 * 2), (h_ * 2540 * 2 + 96) / (96 * 2)};
    std::vector<uint8_t> out =
        EmfHeader(bounds, frame, kEmfHeaderSize + body_.size() + kEmfEofSize, count_ + 2, 16);
    out.insert(out.end(), body_.begin(), body_.end());
    AppendEmfEof(out);
    return out;
  }

 private:
  int32_t w_, h_;
  std::vector<uint8_t> body_;
  uint32_t count_ = 0;
};

}  // namespace pellavo::test
