#include "formats/output_formats.h"

#include "core/paths.h"

namespace pellavo {

std::optional<TOutputFormat> OutputFormatOfExtension(std::string_view extension) {
  if (extension.empty()) return std::nullopt;
  for (const TOutputFormatInfo& f : kOutputFormats) {
    if (f.Extension == extension) return f.Format;
    for (std::string_view alias : f.Aliases)
      if (alias == extension) return f.Format;
  }
  return std::nullopt;
}

std::string WrittenFileName(std::string_view path) {
  const std::string ext = LowerAscii(ExtractFileExt(path));
  const std::optional<TOutputFormat> format = OutputFormatOfExtension(ext);
  if (format && OutputFormatInfo(*format).Extension != ext) return ChangeFileExt(path, OutputFormatInfo(*format).Extension);
  return std::string(path);
}

}  // namespace pellavo
