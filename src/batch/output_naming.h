#pragma once
#include <string>

#include "formats/output_formats.h"

namespace pellavo {

// What decides an entry's output path besides the source path and the entry's number.
struct TNamingRule {
  TOutputFormat OutputFormat = TOutputFormat::Source;  // Source keeps the extension
  std::string DestFolder;  // empty: beside the source
  std::string NamePrefix;  // "$" stands for the entry's number
  std::string NamePostfix;
};

// The output path of the entry at list position index (0 for the first).
std::string OutputFileName(const std::string& source, int index, const TNamingRule& rule);

// text with every "$" replaced by n in decimal.
std::string ExpandNumber(const std::string& text, int n);

// Why a file name addition cannot be used, or empty when it can: a path separator in it would
// put outputs outside the folder they belong in (a prefix "../" writes beside the destination).
std::string NameAdditionProblem(const std::string& text);

// The folder an entry's output must stay in: the destination, or the source's own folder when
// there is none; with its trailing separator (empty for the current folder).
std::string OutputFolderOf(const std::string& source, const std::string& dest_folder);
// Whether output is a file name directly inside folder (as OutputFolderOf gives it), and not
// "." or "..".
bool OutputStaysIn(const std::string& output, const std::string& folder);

}  // namespace pellavo
