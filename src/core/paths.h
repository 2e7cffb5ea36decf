#pragma once
#include <string>
#include <string_view>

namespace pellavo {

// Path parts. The separator is "/" only; paths are UTF-8 bytes and are never normalised.

// The text after the last separator (the whole path when there is none).
std::string ExtractFileName(std::string_view path);
// The text up to and including the last separator (empty when there is none).
std::string ExtractFilePath(std::string_view path);
// From the last "." after the last separator, the dot included; empty when there is none.
std::string ExtractFileExt(std::string_view path);
// The text before the extension's dot followed by ext; ext is appended when there is none.
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// Appends "/" unless the text is empty or already ends in one.
std::string IncludeTrailingSeparator(std::string_view folder);
// Lower-cases A to Z only, so UTF-8 sequences pass unchanged.
std::string LowerAscii(std::string_view text);

}  // namespace pellavo
