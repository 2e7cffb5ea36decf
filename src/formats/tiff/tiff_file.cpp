#include "formats/tiff/tiff_file.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

namespace pellavo::tiff_detail {
namespace {

using TMemory = TTiffFile::TMemory;

TMemory& MemoryOf(thandle_t handle) { return *static_cast<TMemory*>(handle); }

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  TMemory& m = MemoryOf(handle);
  if (size < 0 || m.Position >= m.Size) return 0;
  const uint64_t n = std::min<uint64_t>(uint64_t(size), m.Size - m.Position);
  std::memcpy(buffer, m.Data + m.Position, size_t(n));
  m.Position += n;
  return tmsize_t(n);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
  TMemory& m = MemoryOf(handle);
  if (!m.Out || size < 0) return -1;
  const uint64_t end = m.Position + uint64_t(size);
  if (end > m.Out->size()) m.Out->resize(size_t(end));
  std::memcpy(m.Out->data() + m.Position, buffer, size_t(size));
  m.Position = end;
  m.Size = std::max(m.Size, end);
  return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  TMemory& m = MemoryOf(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = m.Position;
  if (whence == SEEK_END) base = m.Size;
  const uint64_t target = base + offset;
  // A reader may not seek past the end; a writer extends the file by writing there.
  if (target < base || (!m.Out && target > m.Size)) return toff_t(-1);
  m.Position = target;
  return target;
}

int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t handle) { return MemoryOf(handle).Size; }

// Reading maps the bytes, so that uncompressed strips are read without a copy.
int MapProc(thandle_t handle, void** base, toff_t* size) {
  TMemory& m = MemoryOf(handle);
  if (m.Out) return 0;
  *base = const_cast<uint8_t*>(m.Data);
  *size = m.Size;
  return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

struct TOptionsDeleter {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

}  // namespace

int TTiffFile::OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
  auto* file = static_cast<TTiffFile*>(user);
  if (!file->error_.empty()) return 1;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  // The first message names the cause; later ones tell what failed because of it.
  file->error_ = text;
  return 1;
}

std::unique_ptr<TTiffFile> TTiffFile::Open(TMemory memory, const char* mode, uint64_t max_allocation,
                                           std::string& error) {
  std::unique_ptr<TTiffFile> file(new TTiffFile);
  file->memory_ = memory;
  std::unique_ptr<TIFFOpenOptions, TOptionsDeleter> options(TIFFOpenOptionsAlloc());
  if (!options) {
    error = "out of memory";
    return nullptr;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &TTiffFile::OnError, file.get());
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &TTiffFile::OnWarning, nullptr);
  if (max_allocation)
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options.get(), tmsize_t(std::min<uint64_t>(max_allocation, uint64_t(std::numeric_limits<tmsize_t>::max()))));
  file->tif_ = TIFFClientOpenExt("memory", mode, &file->memory_, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                 MapProc, UnmapProc, options.get());
  if (!file->tif_) {
    error = file->FirstError();
    return nullptr;
  }
  return file;
}

std::unique_ptr<TTiffFile> TTiffFile::OpenRead(const std::vector<uint8_t>& bytes, uint64_t max_allocation,
                                               std::string& error) {
  TMemory memory;
  memory.Data = bytes.data();
  memory.Size = bytes.size();
  return Open(memory, "r", max_allocation, error);
}

std::unique_ptr<TTiffFile> TTiffFile::OpenWrite(std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  TMemory memory;
  memory.Out = &out;
  return Open(memory, "w", 0, error);
}

bool TTiffFile::Close() {
  if (!tif_) return true;
  const bool flushed = memory_.Out == nullptr || TIFFFlush(tif_) == 1;
  TIFFClose(tif_);
  tif_ = nullptr;
  return flushed && error_.empty();
}

TTiffFile::~TTiffFile() {
  if (tif_) TIFFClose(tif_);
}

}  // namespace pellavo::tiff_detail
