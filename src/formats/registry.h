#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "formats/graphic.h"

namespace pellavo {

struct TFileFormat {
  std::string FileExt;   // without the dot, lower-cased
  std::string FileDesc;  // shown in filters
  const TGraphicClass* FormatClass = nullptr;
};

// The ordered list of registered formats. Written only while the program starts and stops;
// workers read it from several threads at once, so nothing in a read changes it.
class TFileFormatsList {
 public:
  void Add(std::string_view ext, std::string_view desc, const TGraphicClass& cls);
  // Removes every entry whose class is cls or derives from it.
  void Remove(const TGraphicClass& cls);
  // Exact match, the latest registration winning.
  const TGraphicClass* FindExt(std::string_view ext) const;
  // "All (*.a;*.b)|*.a;*.b|Desc B (*.b)|*.b|Desc A (*.a)|*.a" over the formats of cls.
  std::string BuildFilterString(const TGraphicClass& cls) const;
  const std::vector<TFileFormat>& Entries() const { return entries_; }

 private:
  std::vector<TFileFormat> entries_;
};

// The process-wide list. RegisterStandardFormats fills it while the program starts.
TFileFormatsList& FileFormats();

void RegisterFormat(std::string_view ext, std::string_view desc, const TGraphicClass& cls);
const TGraphicClass* FindByExtension(std::string_view ext);
std::string FileFormatFilter(const TGraphicClass& cls);

// The image test by extension: the path's lower-cased extension, dot included, occurs somewhere
// in the lower-cased filter string of all formats. A plain substring search, so ".jp" passes
// and a name without extension never does.
bool IsImageFileName(std::string_view path);
// The same test against a filter string already built and lower-cased, for callers that test
// many paths.
bool ExtensionInFilter(std::string_view path, std::string_view lower_filter);

}  // namespace pellavo
