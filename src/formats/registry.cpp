#include "formats/registry.h"

#include <atomic>
#include <memory>

#include "core/paths.h"

namespace pellavo {

TFileFormatsList::TFileFormatsList(std::vector<TFileFormat> entries) : entries_(std::move(entries)) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    TFileFormat& f = entries_[i];
    f.FileExt = LowerAscii(f.FileExt);
    if (f.FileExt.empty()) throw EFormatRegistryError("An image format is registered without an extension");
    if (!f.FormatClass) throw EFormatRegistryError("The image format ." + f.FileExt + " is registered without a class");
    for (size_t j = 0; j < i; ++j)
      if (entries_[j].FileExt == f.FileExt)
        throw EFormatRegistryError("The extension ." + f.FileExt + " is registered twice");
  }
  lower_filter_ = LowerAscii(BuildFilterString(TGraphic::StaticClass()));
}

const TGraphicClass* TFileFormatsList::FindExt(std::string_view ext) const {
  const std::string lower = LowerAscii(ext);
  for (const TFileFormat& f : entries_)
    if (f.FileExt == lower) return f.FormatClass;
  return nullptr;
}

std::string TFileFormatsList::BuildFilterString(const TGraphicClass& cls) const {
  std::string descriptions, patterns;
  int visited = 0;
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (!it->FormatClass->DerivesFrom(cls)) continue;
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

namespace {

// Set once and never released: workers that are still running while the process exits may
// read it to the end.
std::atomic<const TFileFormatsList*> installed{nullptr};

}  // namespace

void InstallFileFormats(TFileFormatsList list) {
  auto owned = std::make_unique<const TFileFormatsList>(std::move(list));
  const TFileFormatsList* expected = nullptr;
  if (!installed.compare_exchange_strong(expected, owned.get(), std::memory_order_acq_rel))
    throw EFormatRegistryError("The image formats are registered twice");
  owned.release();
}

const TFileFormatsList& FileFormats() {
  const TFileFormatsList* list = installed.load(std::memory_order_acquire);
  if (!list) throw EFormatRegistryError("The image formats are read before they were registered");
  return *list;
}

const TGraphicClass* FindByExtension(std::string_view ext) { return FileFormats().FindExt(ext); }

std::string FileFormatFilter(const TGraphicClass& cls) { return FileFormats().BuildFilterString(cls); }

bool IsImageFileName(std::string_view path) {
  const std::string ext = LowerAscii(ExtractFileExt(path));
  return !ext.empty() && FileFormats().LowerFilter().find(ext) != std::string::npos;
}

}  // namespace pellavo
