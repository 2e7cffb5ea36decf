#pragma once
#include <stdexcept>
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

// A registration that cannot stand: an extension given twice (in any letter case), an empty one,
// an entry without a class, or a registry installed twice or read before it was installed.
// These are faults of the program, found when it starts.
class EFormatRegistryError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// The formats the program reads, in registration order, which fixes the filter string. Complete
// and checked when it is made and never changed afterwards, so workers read it from several
// threads at once without a lock.
class TFileFormatsList {
 public:
  // Lower-cases the extensions; raises EFormatRegistryError for an entry that cannot stand.
  explicit TFileFormatsList(std::vector<TFileFormat> entries);

  // Exact match in any letter case.
  const TGraphicClass* FindExt(std::string_view ext) const;
  // "All (*.a;*.b)|*.a;*.b|Desc B (*.b)|*.b|Desc A (*.a)|*.a" over the formats of cls, the
  // latest registered first.
  std::string BuildFilterString(const TGraphicClass& cls) const;
  // The filter string of all formats, lower-cased: what the image test searches.
  const std::string& LowerFilter() const { return lower_filter_; }
  const std::vector<TFileFormat>& Entries() const { return entries_; }

 private:
  std::vector<TFileFormat> entries_;
  std::string lower_filter_;
};

// Makes list the process-wide registry. Once per process, while the program starts and before
// anything is read from it; a second call raises EFormatRegistryError.
void InstallFileFormats(TFileFormatsList list);
// The process-wide registry; raises EFormatRegistryError before it was installed.
const TFileFormatsList& FileFormats();

const TGraphicClass* FindByExtension(std::string_view ext);
std::string FileFormatFilter(const TGraphicClass& cls);

// The image test by extension: the path's lower-cased extension, dot included, occurs somewhere
// in the lower-cased filter string of all formats. A plain substring search, so ".jp" passes
// and a name without extension never does.
bool IsImageFileName(std::string_view path);

}  // namespace pellavo
