#pragma once
// Owning handles for the Cairo objects the metafile code creates, so that every one is released
// on every path, and a scope guard for the drawing state.
#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pellavo::metafile {

template <auto Destroy>
struct TCairoDeleter {
  template <class T>
  void operator()(T* object) const {
    Destroy(object);
  }
};

using TSurfacePtr = std::unique_ptr<cairo_surface_t, TCairoDeleter<cairo_surface_destroy>>;
using TContextPtr = std::unique_ptr<cairo_t, TCairoDeleter<cairo_destroy>>;
using TPatternPtr = std::unique_ptr<cairo_pattern_t, TCairoDeleter<cairo_pattern_destroy>>;
using TPathPtr = std::unique_ptr<cairo_path_t, TCairoDeleter<cairo_path_destroy>>;
using TRegionPtr = std::unique_ptr<cairo_region_t, TCairoDeleter<cairo_region_destroy>>;
using TFontOptionsPtr = std::unique_ptr<cairo_font_options_t, TCairoDeleter<cairo_font_options_destroy>>;

// Cairo reports a failed creation through an error object, never through null.
inline bool SurfaceOk(const TSurfacePtr& s) { return s && cairo_surface_status(s.get()) == CAIRO_STATUS_SUCCESS; }

// A 32-bit image surface of w x h pixels; check it with SurfaceOk.
inline TSurfacePtr ImageSurface(int w, int h) {
  return TSurfacePtr(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
}

// Row y of a 32-bit image surface.
inline uint32_t* ImageRow(cairo_surface_t* s, int y) {
  return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) +
                                     static_cast<size_t>(y) * cairo_image_surface_get_stride(s));
}

// Saves the drawing state (clip, source, matrix) and restores it at the end of the scope.
class TSavedState {
 public:
  explicit TSavedState(cairo_t* cr) : cr_(cr) { cairo_save(cr_); }
  ~TSavedState() { cairo_restore(cr_); }
  TSavedState(const TSavedState&) = delete;
  TSavedState& operator=(const TSavedState&) = delete;

 private:
  cairo_t* cr_;
};

}  // namespace pellavo::metafile
