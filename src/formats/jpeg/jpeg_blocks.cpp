#include "formats/jpeg/jpeg_blocks.h"

#include <cstdint>
#include <cstring>

#include <jerror.h>

namespace pellavo::jpeg_detail {

// The library's rules for a virtual array, kept: rows are defined in order by writing; a reader
// may look ahead of the writer only into an array that is cleared on first use.
struct TBlockArrays::TArray {
  JDIMENSION blocks_per_row = 0;
  JDIMENSION rows = 0;
  JDIMENSION max_access = 0;
  bool pre_zero = false;
  JDIMENSION defined_rows = 0;      // rows before this one have been written or cleared
  std::vector<JBLOCKROW> table;     // a pointer to every row; empty until realized
  std::vector<void*> chunks;

  size_t RowBytes() const { return size_t(blocks_per_row) * sizeof(JBLOCK); }
  uint64_t Bytes() const { return uint64_t(RowBytes()) * rows; }
};

static_assert(TChunkPool::kChunkBytes >= (JPEG_MAX_DIMENSION / DCTSIZE + 4) * sizeof(JBLOCK),
              "a chunk holds at least one row of blocks of the widest image");

namespace {

// Every method below is called from the library's C frames. None throws, and none holds an
// object with a destructor when it raises an error, which leaves by longjmp.

TBlockArrays& Of(j_common_ptr cinfo) { return *static_cast<TBlockArrays*>(cinfo->client_data); }

}  // namespace

TBlockArrays::TBlockArrays() = default;

TBlockArrays::~TBlockArrays() { ReleaseAll(); }

void TBlockArrays::Install(j_common_ptr cinfo) {
  library_ = *cinfo->mem;
  cinfo->client_data = this;
  cinfo->mem->request_virt_barray = Request;
  cinfo->mem->realize_virt_arrays = Realize;
  cinfo->mem->access_virt_barray = Access;
  cinfo->mem->free_pool = FreePool;
  cinfo->mem->self_destruct = SelfDestruct;
}

jvirt_barray_ptr TBlockArrays::Request(j_common_ptr cinfo, int pool_id, boolean pre_zero, JDIMENSION blocks_per_row,
                                       JDIMENSION rows, JDIMENSION max_access) {
  if (pool_id != JPOOL_IMAGE) ERREXIT1(cinfo, JERR_BAD_POOL_ID, pool_id);
  TArray* added = nullptr;
  try {
    auto array = std::make_unique<TArray>();
    array->blocks_per_row = blocks_per_row;
    array->rows = rows;
    array->max_access = max_access;
    array->pre_zero = pre_zero != FALSE;
    Of(cinfo).arrays_.push_back(std::move(array));
    added = Of(cinfo).arrays_.back().get();
  } catch (...) {
  }
  if (!added) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  return reinterpret_cast<jvirt_barray_ptr>(added);
}

void TBlockArrays::Realize(j_common_ptr cinfo) {
  TBlockArrays& self = Of(cinfo);
  self.library_.realize_virt_arrays(cinfo);  // its sample arrays, if any

  // All in memory: the library's bound on its memory, which would otherwise send arrays to a
  // backing store it does not have, holds for the blocks as a whole.
  uint64_t total = 0;
  for (const auto& array : self.arrays_) total += array->Bytes();
  if (cinfo->mem->max_memory_to_use > 0 && total > uint64_t(cinfo->mem->max_memory_to_use))
    ERREXIT(cinfo, JERR_NO_BACKING_STORE);

  bool failed = false;
  for (const auto& array : self.arrays_) {
    TArray& a = *array;
    if (!a.table.empty() || a.rows == 0) continue;
    const size_t row_bytes = a.RowBytes();
    if (row_bytes == 0 || row_bytes > TChunkPool::kChunkBytes) {
      failed = true;
      break;
    }
    const size_t rows_per_chunk = TChunkPool::kChunkBytes / row_bytes;
    try {
      a.table.resize(a.rows);
      a.chunks.reserve((a.rows + rows_per_chunk - 1) / rows_per_chunk);
    } catch (...) {
      a.table.clear();
      failed = true;
      break;
    }
    for (JDIMENSION row = 0; row < a.rows && !failed; row += JDIMENSION(rows_per_chunk)) {
      auto* chunk = static_cast<uint8_t*>(self.pool_->Take());
      if (!chunk) {
        failed = true;
        break;
      }
      a.chunks.push_back(chunk);  // within the room reserved
      for (size_t i = 0; i < rows_per_chunk && row + i < a.rows; ++i)
        a.table[row + i] = reinterpret_cast<JBLOCKROW>(chunk + i * row_bytes);
    }
    if (failed) a.table.clear();
  }
  if (failed) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

JBLOCKARRAY TBlockArrays::Access(j_common_ptr cinfo, jvirt_barray_ptr handle, JDIMENSION start_row, JDIMENSION rows,
                                 boolean writable) {
  TArray& a = *reinterpret_cast<TArray*>(handle);
  const JDIMENSION end = start_row + rows;
  if (a.table.empty() || end < start_row || end > a.rows || rows > a.max_access)
    ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);
  if (a.defined_rows < end) {
    JDIMENSION first_undefined = a.defined_rows;
    if (a.defined_rows < start_row) {
      if (writable) ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);  // a writer skipped rows
      first_undefined = start_row;
    }
    if (writable) a.defined_rows = end;
    if (a.pre_zero) {
      for (JDIMENSION row = first_undefined; row < end; ++row) std::memset(a.table[row], 0, a.RowBytes());
    } else if (!writable) {
      ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);  // a reader ahead of the data
    }
  }
  return a.table.data() + start_row;
}

void TBlockArrays::FreePool(j_common_ptr cinfo, int pool_id) {
  TBlockArrays& self = Of(cinfo);
  if (pool_id == JPOOL_IMAGE) self.ReleaseAll();
  self.library_.free_pool(cinfo, pool_id);
}

void TBlockArrays::SelfDestruct(j_common_ptr cinfo) {
  TBlockArrays& self = Of(cinfo);
  self.ReleaseAll();
  self.library_.self_destruct(cinfo);
}

void TBlockArrays::ReleaseAll() noexcept {
  for (const auto& array : arrays_)
    for (void* chunk : array->chunks) pool_->Give(chunk);
  arrays_.clear();
}

}  // namespace pellavo::jpeg_detail
