#include "formats/registry.h"

#include "core/paths.h"

namespace pellavo {

void TFileFormatsList::Add(std::string_view ext, std::string_view desc, const TGraphicClass& cls) {
  entries_.push_back({LowerAscii(ext), std::string(desc), &cls});
}

void TFileFormatsList::Remove(const TGraphicClass& cls) {
  std::erase_if(entries_, [&](const TFileFormat& f) { return f.FormatClass->DerivesFrom(cls); });
}

const TGraphicClass* TFileFormatsList::FindExt(std::string_view ext) const {
  const std::string lower = LowerAscii(ext);
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
    if (it->FileExt == lower) return it->FormatClass;
  return nullptr;
}

std::string TFileFormatsList::BuildFilterString(const TGraphicClass& cls) const {
  std::string descriptions, patterns;
  int visited = 0;
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (!it->FormatClass->DerivesFrom(cls) || it->FileExt.empty()) continue;
    if (visited++ > 0) {
      descriptions += '|';
      patterns += ';';
    }
    descriptions += it->FileDesc + " (*." + it->FileExt + ")|*." + it->FileExt;
    patterns += "*." + it->FileExt;
  }
  if (visited > 1) return "All (" + patterns + ")|" + patterns + "|" + descriptions;
  return descriptions;
}

TFileFormatsList& FileFormats() {
  static TFileFormatsList list;
  return list;
}

void RegisterFormat(std::string_view ext, std::string_view desc, const TGraphicClass& cls) {
  FileFormats().Add(ext, desc, cls);
}

const TGraphicClass* FindByExtension(std::string_view ext) { return FileFormats().FindExt(ext); }

std::string FileFormatFilter(const TGraphicClass& cls) { return FileFormats().BuildFilterString(cls); }

bool ExtensionInFilter(std::string_view path, std::string_view lower_filter) {
  const std::string ext = LowerAscii(ExtractFileExt(path));
  return !ext.empty() && lower_filter.find(ext) != std::string_view::npos;
}

bool IsImageFileName(std::string_view path) {
  return ExtensionInFilter(path, LowerAscii(FileFormatFilter(TGraphic::StaticClass())));
}

}  // namespace pellavo
