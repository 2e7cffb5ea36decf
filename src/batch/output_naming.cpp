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

std::string NameAdditionProblem(const std::string& text) {
  if (text.find('/') != std::string::npos)
    return "The file name addition must not contain \"/\": the outputs would leave their folder";
  return {};
}

std::string OutputFolderOf(const std::string& source, const std::string& dest_folder) {
  return dest_folder.empty() ? ExtractFilePath(source) : IncludeTrailingSeparator(dest_folder);
}

bool OutputStaysIn(const std::string& output, const std::string& folder) {
  const std::string name = ExtractFileName(output);
  return ExtractFilePath(output) == folder && !name.empty() && name != "." && name != "..";
}

}  // namespace pellavo
