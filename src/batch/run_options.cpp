#include "batch/run_options.h"

#include <string>
#include <utility>
#include <vector>

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

// The command line names a format by its extension without the dot, the window by its item.
std::string_view CommandLineName(const TOutputFormatInfo& f) { return f.Extension.substr(1); }
std::string_view ItemText(const TOutputFormatInfo& f) { return f.Item; }

}  // namespace

std::string FormatsInWords(bool (*has)(const TOutputFormatInfo&), std::string_view (*word)(const TOutputFormatInfo&),
                           std::string_view last) {
  std::vector<std::string_view> words;
  for (const TOutputFormatInfo& f : kOutputFormats)
    if (f.Format != TOutputFormat::Source && has(f)) words.push_back(word(f));
  std::string out;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += i + 1 == words.size() ? last : ", ";
    out += words[i];
  }
  return out;
}

std::string_view FormatTitle(const TOutputFormatInfo& f) { return f.Name; }

std::string OptionText(std::string_view text) {
  const auto takes_quality = [](const TOutputFormatInfo& f) { return f.TakesQuality; };
  const auto carries_metadata = [](const TOutputFormatInfo& f) { return f.CarriesMetadata; };
  const std::pair<std::string_view, std::string> names[] = {
      {"{quality formats}", FormatsInWords(takes_quality, CommandLineName, " or ")},
      {"{metadata formats}", FormatsInWords(carries_metadata, CommandLineName, " or ")},
      {"{quality items}", FormatsInWords(takes_quality, ItemText, " and ")},
      {"{metadata names}", FormatsInWords(carries_metadata, FormatTitle, " and ")},
      {"{max-kb floor}", std::to_string(kMaxKbQualityFloor)},
      {"{max-kb encodes}", std::to_string(kMaxKbEncodes)},
  };
  std::string out(text);
  for (const auto& [name, value] : names)
    for (size_t at = out.find(name); at != std::string::npos; at = out.find(name, at + value.size()))
      out.replace(at, name.size(), value);
  return out;
}

void SetRunOption(TRunSettings& s, size_t row, int value) {
  const TRunOption& o = kRunOptions[row];
  o.Field.Set(s, value < o.Min || value > o.Max ? o.Default : value);
}

}  // namespace pellavo
