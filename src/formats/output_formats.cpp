#include "formats/output_formats.h"

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

}  // namespace pellavo
