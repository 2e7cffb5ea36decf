#pragma once
// The whole-image coefficient arrays of a decompressor, kept in chunks of a TChunkPool instead of
// the library's own allocations. Private to the JPEG codec.
//
// A progressive or multi-scan file keeps every coefficient block of the image until its last
// scan: tens of megabytes for a photo, allocated and cleared for each file. Taken from a run's
// pool, the memory of one file's blocks serves the next file without faulting its pages in again.
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "core/chunk_pool.h"

namespace pellavo::jpeg_detail {

class TBlockArrays {
 public:
  TBlockArrays();
  ~TBlockArrays();
  TBlockArrays(const TBlockArrays&) = delete;
  TBlockArrays& operator=(const TBlockArrays&) = delete;

  // Takes over the block arrays of a context just created; must outlive the context.
  void Install(j_common_ptr cinfo);
  // Chunks come from pool from now on (nullptr: this object's own, freed with it). Only before
  // the arrays are realized, when the decompression starts.
  void UsePool(TChunkPool* pool) { pool_ = pool ? pool : &own_pool_; }

  struct TArray;

 private:
  static jvirt_barray_ptr Request(j_common_ptr cinfo, int pool_id, boolean pre_zero, JDIMENSION blocks_per_row,
                                  JDIMENSION rows, JDIMENSION max_access);
  static void Realize(j_common_ptr cinfo);
  static JBLOCKARRAY Access(j_common_ptr cinfo, jvirt_barray_ptr array, JDIMENSION start_row, JDIMENSION rows,
                            boolean writable);
  static void FreePool(j_common_ptr cinfo, int pool_id);
  static void SelfDestruct(j_common_ptr cinfo);

  void ReleaseAll() noexcept;

  jpeg_memory_mgr library_{};  // the library's own methods, for all that is not block arrays
  TChunkPool own_pool_{0};
  TChunkPool* pool_ = &own_pool_;
  std::vector<std::unique_ptr<TArray>> arrays_;
};

}  // namespace pellavo::jpeg_detail
