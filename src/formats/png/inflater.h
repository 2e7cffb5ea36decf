#pragma once
// Inflating a zlib stream that arrives piece by piece: ISA-L's igzip where the build has it
// (several times zlib's speed on x86), zlib otherwise. Both report damage with zlib's codes, so
// the messages are the same whichever runs.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace pellavo::png_detail {

enum class TInflateEngine : uint8_t { Zlib, Isal };

// The engine new inflaters use: ISA-L when built in, unless PELLAVO_INFLATE=zlib.
TInflateEngine DefaultInflateEngine();
bool HaveIsal();

class TInflate {
 public:
  explicit TInflate(TInflateEngine engine = DefaultInflateEngine());
  ~TInflate();
  TInflate(const TInflate&) = delete;
  TInflate& operator=(const TInflate&) = delete;

  void SetInput(const uint8_t* data, size_t size);
  size_t AvailIn() const;
  // Inflates into out, at most room bytes, and sets produced. Returns true once the stream has
  // ended (its checksum verified). Raises EPNGZLIBError with zlib's code on damaged data.
  bool Inflate(uint8_t* out, size_t room, size_t& produced);

  class TEngine;

 private:
  std::unique_ptr<TEngine> engine_;
};

}  // namespace pellavo::png_detail
