#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pellavo {

// One byte: 0..6 name a filter, every other value selects the kernel resampler with its
// default box kernel.
using TStretchFilter = uint8_t;
inline constexpr TStretchFilter sfNearest = 0;
inline constexpr TStretchFilter sfDraft = 1;
inline constexpr TStretchFilter sfLinear = 2;
inline constexpr TStretchFilter sfCosine = 3;
inline constexpr TStretchFilter sfSpline = 4;
inline constexpr TStretchFilter sfLanczos = 5;
inline constexpr TStretchFilter sfMitchell = 6;
// What a run hands its workers while no filter has been picked in the window: the low byte of
// the box's "nothing selected" index -1, which resamples with the box kernel.
inline constexpr TStretchFilter sfNotPicked = 255;

struct TStretchFilterName {
  TStretchFilter Filter;
  std::string_view Item;  // the text in the window's Filters box; empty: not offered there
  std::string_view Name;  // the command line's name
};

// Every named filter: first the Filters box's items in its order, so that an item's index is
// its filter, then the box kernel that an untouched box gives.
inline constexpr std::array<TStretchFilterName, 8> kStretchFilterNames = {{
    {sfNearest, "Nearest", "nearest"},
    {sfDraft, "Draft", "draft"},
    {sfLinear, "Linear", "linear"},
    {sfCosine, "Cosine", "cosine"},
    {sfSpline, "Spline", "spline"},
    {sfLanczos, "Lanczos", "lanczos"},
    {sfMitchell, "Mitchell", "mitchell"},
    {sfNotPicked, "", "box"},
}};

static_assert(
    [] {
      for (size_t i = 0; i < kStretchFilterNames.size(); ++i)
        if (!kStretchFilterNames[i].Item.empty() && kStretchFilterNames[i].Filter != i) return false;
      return true;
    }(),
    "an item of the Filters box must stand at the index of its filter");

// The filter of the Filters box's selected item index, kept as its low 8 bits: -1 (nothing
// selected) gives sfNotPicked.
constexpr TStretchFilter FilterOfSelection(int item_index) { return static_cast<TStretchFilter>(item_index); }

// The filter of a command-line name, exact and lower case.
constexpr std::optional<TStretchFilter> FilterByName(std::string_view name) {
  for (const TStretchFilterName& f : kStretchFilterNames)
    if (f.Name == name) return f.Filter;
  return std::nullopt;
}

}  // namespace pellavo
