#pragma once
// libtiff over bytes in memory, private to the TIFF codec.
#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pellavo::tiff_detail {

// A TIFF opened by libtiff over a block of memory, with the library's messages kept for the
// error that ends it. libtiff reports through callbacks; each file keeps its own, so several
// workers may decode at once.
class TTiffFile {
 public:
  // Opens bytes, which must outlive the file, for reading. No single allocation of the library
  // may exceed max_allocation bytes. Returns none when the header cannot be read; FirstError()
  // tells why.
  static std::unique_ptr<TTiffFile> OpenRead(const std::vector<uint8_t>& bytes, uint64_t max_allocation,
                                             std::string& error);
  // Opens a new file whose bytes go to out, which must outlive the file.
  static std::unique_ptr<TTiffFile> OpenWrite(std::vector<uint8_t>& out, std::string& error);

  ~TTiffFile();
  TTiffFile(const TTiffFile&) = delete;
  TTiffFile& operator=(const TTiffFile&) = delete;

  TIFF* Handle() const { return tif_; }
  // The library's first error message since the file was opened, or a general text when it said
  // nothing.
  std::string FirstError() const { return error_.empty() ? "the library gave no reason" : error_; }
  // Writes out what is pending and closes the file; false (with FirstError) when that fails.
  bool Close();

  // Where the memory procedures read and write; public for them.
  struct TMemory {
    const uint8_t* Data = nullptr;        // reading
    std::vector<uint8_t>* Out = nullptr;  // writing
    uint64_t Size = 0;
    uint64_t Position = 0;
  };

 private:
  TTiffFile() = default;
  static int OnError(TIFF*, void* user, const char* module, const char* format, va_list args);
  static int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }
  static std::unique_ptr<TTiffFile> Open(TMemory memory, const char* mode, uint64_t max_allocation,
                                         std::string& error);

  TIFF* tif_ = nullptr;
  TMemory memory_;
  std::string error_;
};

}  // namespace pellavo::tiff_detail
