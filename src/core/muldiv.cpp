#include "core/muldiv.h"

#include <limits>

namespace pellavo {

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  const int64_t p = int64_t{a} * int64_t{b};
  int64_t q = p / c;
  const int64_t r = p % c;
  // |r| * 2 >= |c| means the exact quotient is at least half-way to the next integer.
  const int64_t ar = r < 0 ? -r : r;
  const int64_t ac = c < 0 ? -int64_t{c} : int64_t{c};
  if (2 * ar >= ac) q += ((p < 0) != (c < 0)) ? -1 : 1;
  if (q < std::numeric_limits<int32_t>::min() || q > std::numeric_limits<int32_t>::max()) return -1;
  return static_cast<int32_t>(q);
}

}  // namespace pellavo
