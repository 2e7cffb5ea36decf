#include "batch/output_naming.h"

#include "core/paths.h"

namespace pellavo {

std::string ExpandNumber(const std::string& text, int n) {
  const std::string number = std::to_string(n);
  std::string out;
  for (char c : text) {
    if (c == '$')
      out += number;
    else
      out += c;
  }
  return out;
}

std::string OutputFileName(const std::string& source, int index, const TNamingRule& rule) {
  std::string name = source;
  if (rule.OutputFormat != TOutputFormat::Source) name = ChangeFileExt(name, OutputFormatInfo(rule.OutputFormat).Extension);
  if (!rule.DestFolder.empty()) name = IncludeTrailingSeparator(rule.DestFolder) + ExtractFileName(name);
  if (!rule.NamePrefix.empty())
    name = ExtractFilePath(name) + ExpandNumber(rule.NamePrefix, index) + ExtractFileName(name);
  if (!rule.NamePostfix.empty())
    name = ChangeFileExt(name, ExpandNumber(rule.NamePostfix, index) + ExtractFileExt(name));
  return name;
}

}  // namespace pellavo
