#include "worker/output_writers.h"

#include <array>
#include <utility>

namespace pellavo {
namespace {

void WriteBmp(TBitmap& bitmap, TStream& out) { bitmap.SaveToStream(out); }

}  // namespace

std::string MapOutputExtension(const std::string& ext) {
  if (ext == ".jpeg") return ".jpg";
  if (ext == ".jpc" || ext == ".j2k") return ".jp2";
  if (ext == ".ico") return ".bmp";
  if (ext == ".wmf") return ".emf";
  return ext;
}

TOutputWriter FindOutputWriter(std::string_view ext) {
  static constexpr std::array<std::pair<std::string_view, TOutputWriter>, 1> kWriters = {{
      {".bmp", WriteBmp},
  }};
  for (const auto& [e, writer] : kWriters)
    if (e == ext) return writer;
  return nullptr;
}

}  // namespace pellavo
