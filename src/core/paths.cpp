#include "core/paths.h"

namespace pellavo {
namespace {

constexpr char kSeparator = '/';

size_t NameStart(std::string_view path) {
  const size_t sep = path.rfind(kSeparator);
  return sep == std::string_view::npos ? 0 : sep + 1;
}

// Position of the extension's dot, or npos.
size_t ExtDot(std::string_view path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < NameStart(path)) return std::string_view::npos;
  return dot;
}

}  // namespace

std::string ExtractFileName(std::string_view path) { return std::string(path.substr(NameStart(path))); }

std::string ExtractFilePath(std::string_view path) { return std::string(path.substr(0, NameStart(path))); }

std::string ExtractFileExt(std::string_view path) {
  const size_t dot = ExtDot(path);
  return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  const size_t dot = ExtDot(path);
  std::string result(dot == std::string_view::npos ? path : path.substr(0, dot));
  result += ext;
  return result;
}

std::string IncludeTrailingSeparator(std::string_view folder) {
  std::string result(folder);
  if (!result.empty() && result.back() != kSeparator) result += kSeparator;
  return result;
}

std::string LowerAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return result;
}

}  // namespace pellavo
