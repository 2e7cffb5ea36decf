#include "formats/png/png_rows.h"

#include <zlib.h>

#include <new>
#include <vector>

#include "core/stream.h"
#include "formats/png/idat_reader.h"
#include "formats/png/inflate_pipe.h"
#include "formats/png/png_errors.h"
#include "formats/png/png_layout.h"
#include "formats/png/png_object.h"
#include "formats/png/row_reader.h"

namespace pellavo {

using namespace png_detail;

// Holds the PNG object of the chunks read so far, without its image: the rows are inflated
// ahead on the pipe's thread, unfiltered where they landed and converted out.
class TPNGRowImage final : public TRowImage {
 public:
  TPNGRowImage(TFileStream file, const TDecodeLimits& limits) : file_(std::move(file)), cores_(limits.Cores) {
    // The image limit is the caller's to claim: only the size is checked here.
    png_.SetDecodeLimits(TDecodeLimits{limits.MaxImageBytes, nullptr});
  }

  // False when the rows cannot be streamed (see OpenPngRows).
  bool Open() {
    uint32_t length = 0;
    if (!png_.LoadUntilImage(file_, length)) {
      png_.LoadAfterImage(file_);  // refuses a file without image data
      return false;
    }
    const TChunkIHDR& h = png_.Header();
    if (h.InterlaceMethod() != 0 || (h.ColorType() == COLOR_PALETTE && !png_.Find<TChunkPLTE>())) return false;
    chunks_before_ = png_.Chunks().size();
    row_bytes_ = h.RowBytes();
    stride_ = FilterStride(h.BitsPerPixel());
    try {
      zeros_.assign(row_bytes_, 0);
      idat_ = std::make_unique<TChunkIDAT>(png_);
      pipe_ = std::make_unique<TInflatePipe>(std::make_unique<TIdatReader>(*idat_, file_, length), row_bytes_ + 1, h.Height(),
                                             cores_);
    } catch (const std::bad_alloc&) {
      throw EPNGOutMemory();
    }
    row_reader_ = std::make_unique<TRowReader>(png_);
    line_.resize(h.Width());
    bool identity = true;
    for (size_t i = 0; i < png_.GammaTable().size(); ++i) identity = identity && png_.GammaTable()[i] == i;
    plain_rgb_ = h.ColorType() == COLOR_RGB && h.BitDepth() == 8 && identity && !png_.Find<TChunktRNS>();
    metadata_ = png_.EmbeddedMetadata();
    return true;
  }

  int32_t Width() const override { return int32_t(png_.Header().Width()); }
  int32_t Height() const override { return int32_t(png_.Header().Height()); }
  bool Opaque() const override {
    const uint8_t type = png_.Header().ColorType();
    return (type == COLOR_GRAYSCALE || type == COLOR_RGB || type == COLOR_PALETTE) && !png_.Find<TChunktRNS>();
  }
  TImageMetadata EmbeddedMetadata() const override { return metadata_; }
  uint64_t WorkingBytes() const override {
    // The pipe's blocks of rows, a row of displayed pixels, the chunk being inflated, the
    // inflater's window and tables.
    return pipe_->Bytes() + line_.size() * sizeof(TColor32) + 2 * png_.MaxIdatBytes() + (256u << 10);
  }

  void ReadRows(TColor32* out, int32_t count) override {
    for (int32_t i = 0; i < count; ++i, out += Width()) {
      uint8_t* row = pipe_->NextRow();
      const uint8_t* prev = prev_ ? prev_ : zeros_.data();
      // An unknown filter type means the inflated data is not an image.
      if (!Unfilter(row[0], row + 1, prev, row_bytes_, stride_)) throw EPNGZLIBError(Z_DATA_ERROR);
      if (plain_rgb_) {
        // Opaque 8-bit RGB without gamma or a colour key: the samples as they are.
        const uint8_t* p = row + 1;
        for (size_t x = 0; x < line_.size(); ++x, p += 3) out[x] = kOpaque | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
      } else {
        row_reader_->Read(row + 1, line_.data());
        for (size_t x = 0; x < line_.size(); ++x) out[x] = OnSurface(line_[x]);
      }
      prev_ = row + 1;
    }
  }

  void Finish() override {
    pipe_->Finish();
    png_.chunks_.push_back(std::move(idat_));
    png_.LoadAfterImage(file_);
    // A palette, transparency or gamma that only comes after the image changes how every row
    // looks: the rows handed out were not the picture's.
    bool metadata_after = false;
    for (size_t i = chunks_before_ + 1; i < png_.Chunks().size(); ++i) {
      const TChunk* c = png_.Chunks()[i].get();
      if (dynamic_cast<const TChunkPLTE*>(c) || dynamic_cast<const TChunktRNS*>(c) || dynamic_cast<const TChunkgAMA*>(c))
        throw EWholeImageNeeded();
      metadata_after = metadata_after || c->Name() == "iCCP" || c->Name() == "eXIf" || c->Name() == "iTXt";
    }
    // So do a profile, EXIF or XMP found only after it: the conversion was set up without them.
    if (metadata_after) {
      const TImageMetadata whole = png_.EmbeddedMetadata();
      if (whole.IccProfile != metadata_.IccProfile || whole.Exif != metadata_.Exif || whole.Xmp != metadata_.Xmp ||
          whole.ProfileProblems != metadata_.ProfileProblems)
        throw EWholeImageNeeded();
    }
  }

 private:
  TFileStream file_;
  TCoreGate* cores_;  // lends the pipe its thread's turn
  TPNGObject png_;
  size_t chunks_before_ = 0;
  size_t row_bytes_ = 0, stride_ = 1;
  std::vector<uint8_t> zeros_;     // the row above the first
  const uint8_t* prev_ = nullptr;  // the row above, as unfiltered, in the pipe
  bool plain_rgb_ = false;     // rows need no lookup at all
  TImageMetadata metadata_;    // from the chunks before the image data
  std::vector<TColor32> line_;
  // Checks CRCs under its name, and takes its place in the chunk list once the image is read.
  std::unique_ptr<TChunkIDAT> idat_;
  std::unique_ptr<TRowReader> row_reader_;
  // Last: its thread reads file_ until it is gone.
  std::unique_ptr<TInflatePipe> pipe_;
};

std::unique_ptr<TRowImage> OpenPngRows(const std::string& path, const TDecodeLimits& limits) {
  auto image = std::make_unique<TPNGRowImage>(TFileStream::OpenRead(path), limits);
  if (!image->Open()) return nullptr;
  return image;
}

}  // namespace pellavo
