#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "batch/run_settings.h"
#include "worker/size_limit.h"

namespace pellavo {
namespace {

// The search against an encoder whose file grows with quality as a lossy codec's does: the
// highest quality within the limit, never more than the stated number of encodes, none when the
// floor is too large.
TEST(EncodeWithin, FindsTheHighestQualityThatFitsInFewEncodes) {
  // 1000 bytes at quality 1, growing by about 3 % a step: 19219 at 100.
  const auto size_at = [](int q) { return static_cast<size_t>(std::lround(1000 * std::pow(1.0303, q - 1))); };
  struct Case {
    int quality;
    int floor;
    size_t limit;
    std::optional<int> chosen;
  };
  const Case cases[] = {
      {90, 40, size_at(90), 90},          // fits as asked: one encode
      {90, 40, size_at(90) - 1, 89},      // just over
      {100, 40, size_at(40), 40},         // only the floor
      {100, 40, size_at(40) - 1, {}},     // not even the floor
      {100, 40, size_at(63) + 5, 63},
      {75, 40, size_at(58), 58},
      {30, 40, size_at(30), 30},          // a quality below the floor is tried alone
      {30, 40, size_at(30) - 1, {}},
      {41, 40, size_at(40), 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.quality << " floor " << c.floor << " limit " << c.limit);
    int encodes = 0;
    const auto encode = [&](int q) {
      ++encodes;
      EXPECT_GE(q, std::min(c.floor, c.quality));
      EXPECT_LE(q, c.quality);
      return std::vector<uint8_t>(size_at(q), uint8_t(q));
    };
    const std::optional<TFittedEncoding> fitted = EncodeWithin(encode, c.quality, c.floor, c.limit);
    ASSERT_EQ(fitted.has_value(), c.chosen.has_value());
    if (fitted) {
      EXPECT_EQ(fitted->Quality, *c.chosen);
      EXPECT_EQ(fitted->Bytes, std::vector<uint8_t>(size_at(*c.chosen), uint8_t(*c.chosen))) << "the chosen encode";
    }
    EXPECT_LE(encodes, kMaxKbEncodes);
  }
}

// Every quality and limit the options allow stays within the stated number of encodes.
TEST(EncodeWithin, NeverTakesMoreThanTheStatedEncodes) {
  for (int quality = 1; quality <= 100; ++quality) {
    for (size_t limit = 0; limit <= 110; ++limit) {
      int encodes = 0;
      const auto encode = [&](int q) {
        ++encodes;
        return std::vector<uint8_t>(static_cast<size_t>(q) + 5);
      };
      const std::optional<TFittedEncoding> fitted = EncodeWithin(encode, quality, kMaxKbQualityFloor, limit);
      ASSERT_LE(encodes, kMaxKbEncodes) << quality << " " << limit;
      if (fitted) {
        EXPECT_LE(fitted->Bytes.size(), limit);
        EXPECT_EQ(fitted->Quality, std::min<int>(quality, static_cast<int>(limit) - 5));
      }
    }
  }
}

}  // namespace
}  // namespace pellavo
