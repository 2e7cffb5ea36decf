#include "batch/run_options.h"

namespace pellavo {
namespace {

// Each row's range holds its default, a switch is 0 or 1, a choice has an item per value, no
// name, control or flag is given twice, and the default is the one TRunSettings starts with,
// so the window, the command line and a settings object made in code agree.
constexpr bool TableIsConsistent() {
  const TRunSettings fresh;
  for (size_t i = 0; i < kRunOptions.size(); ++i) {
    const TRunOption& o = kRunOptions[i];
    if (o.Min > o.Default || o.Default > o.Max) return false;
    if (o.Field.Get(fresh) != o.Default) return false;
    switch (o.Kind) {
      case TOptionKind::Switch:
        if (o.Min != 0 || o.Max != 1) return false;
        break;
      case TOptionKind::Choice:
        if (o.Min != 0 || o.Max + 1 != static_cast<int>(o.Items.size())) return false;
        break;
      case TOptionKind::Number:
        if (!o.OffText.empty() && o.Min == o.Max) return false;
        break;
    }
    for (size_t j = 0; j < i; ++j) {
      const TRunOption& p = kRunOptions[j];
      if (p.Name == o.Name || (!o.Control.empty() && p.Control == o.Control) || (!o.Flag.empty() && p.Flag == o.Flag))
        return false;
    }
  }
  return true;
}
static_assert(TableIsConsistent());

}  // namespace

void SetRunOption(TRunSettings& s, size_t row, int value) {
  const TRunOption& o = kRunOptions[row];
  o.Field.Set(s, value < o.Min || value > o.Max ? o.Default : value);
}

}  // namespace pellavo
