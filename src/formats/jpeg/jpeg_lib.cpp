#include "formats/jpeg/jpeg_lib.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>

#include <jerror.h>

#include "formats/jpeg/jpeg.h"

namespace pellavo::jpeg_detail {
namespace {

// The library calls these from C frames: none of them may throw, and none may own anything
// that a longjmp out of them would skip.

TErrorManager& ErrorsOf(j_common_ptr cinfo) { return *reinterpret_cast<TErrorManager*>(cinfo->err); }

void ErrorExit(j_common_ptr cinfo) { std::longjmp(ErrorsOf(cinfo).jump, 1); }

void OutputMessage(j_common_ptr) {}

// Warnings are ignored (damaged data still gives a picture), except one: image data that runs
// into the end of the file. Decoding on would fill the rest of the image with grey and pass
// the damage off as a complete picture.
void EmitMessage(j_common_ptr cinfo, int msg_level) {
  if (msg_level >= 0) return;  // trace messages
  TErrorManager& err = ErrorsOf(cinfo);
  if (err.input_ended && err.pub.msg_code == JWRN_HIT_MARKER) ERREXIT(cinfo, JERR_INPUT_EOF);
  err.pub.num_warnings++;
}

void InitErrors(TErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.output_message = OutputMessage;
  err.pub.emit_message = EmitMessage;
}

// A file in memory is handed over at once; a file on disk comes a piece at a time. At its end the reader
// gets an end-of-image marker once: a file that lacks only its final marker still decodes,
// while image data cut short trips the warning above. Reading past that marker is an error.
const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};
constexpr size_t kFileBufferBytes = 64 * 1024;

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  TErrorManager& err = ErrorsOf(reinterpret_cast<j_common_ptr>(cinfo));
  TSource& src = *reinterpret_cast<TSource*>(cinfo->src);
  if (src.fd >= 0 && !err.input_ended) {
    ssize_t got;
    do {
      got = ::read(src.fd, src.buffer.data(), src.buffer.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) ERREXIT(cinfo, JERR_FILE_READ);
    if (got > 0) {
      src.pub.next_input_byte = src.buffer.data();
      src.pub.bytes_in_buffer = static_cast<size_t>(got);
      return TRUE;
    }
  }
  if (err.input_ended) ERREXIT(cinfo, JERR_INPUT_EOF);
  err.input_ended = true;
  cinfo->src->next_input_byte = kEndOfImage;
  cinfo->src->bytes_in_buffer = sizeof kEndOfImage;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long num_bytes) {
  if (num_bytes <= 0) return;
  jpeg_source_mgr& src = *cinfo->src;
  size_t skip = static_cast<size_t>(num_bytes);
  while (skip > src.bytes_in_buffer) {
    skip -= src.bytes_in_buffer;
    FillInputBuffer(cinfo);
  }
  src.next_input_byte += skip;
  src.bytes_in_buffer -= skip;
}

void TermSource(j_decompress_ptr) {}

// Output goes straight into the vector, grown by doubling.
constexpr size_t kFirstOutputSize = 64 * 1024;

bool Grow(std::vector<uint8_t>& out) noexcept {
  try {
    out.resize(std::max(kFirstOutputSize, out.size() * 2));
    return true;
  } catch (...) {
    return false;
  }
}

void InitDestination(j_compress_ptr cinfo) {
  TDestination& dest = *reinterpret_cast<TDestination*>(cinfo->dest);
  dest.out->clear();
  if (!Grow(*dest.out)) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
  dest.pub.next_output_byte = dest.out->data();
  dest.pub.free_in_buffer = dest.out->size();
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  TDestination& dest = *reinterpret_cast<TDestination*>(cinfo->dest);
  const size_t used = dest.out->size();  // the library calls this only when the buffer is full
  if (!Grow(*dest.out)) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
  dest.pub.next_output_byte = dest.out->data() + used;
  dest.pub.free_in_buffer = dest.out->size() - used;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  TDestination& dest = *reinterpret_cast<TDestination*>(cinfo->dest);
  dest.out->resize(dest.out->size() - dest.pub.free_in_buffer);
}

}  // namespace

void ThrowLibraryError(const TErrorManager& err) {
  // The message is the code alone; the library's own words, with the numbers it filled in,
  // are the cause a user can act on.
  char text[JMSG_LENGTH_MAX] = {};
  jpeg_common_struct common{};  // format_message reaches the error manager only through it
  common.err = const_cast<jpeg_error_mgr*>(&err.pub);
  err.pub.format_message(&common, text);
  throw EJPEG("JPEG error #" + std::to_string(err.pub.msg_code), text);
}

void ThrowLibraryError(int msg_code) {
  TErrorManager err;
  jpeg_std_error(&err.pub);
  err.pub.msg_code = msg_code;
  ThrowLibraryError(err);
}

TDecompressor::TDecompressor(const uint8_t* data, size_t size) {
  InitErrors(err_);
  handle_.info.err = &err_.pub;
  src_.pub.init_source = InitSource;
  src_.pub.fill_input_buffer = FillInputBuffer;
  src_.pub.skip_input_data = SkipInputData;
  src_.pub.resync_to_restart = jpeg_resync_to_restart;
  src_.pub.term_source = TermSource;
  src_.pub.next_input_byte = data;
  src_.pub.bytes_in_buffer = size;
  jpeg_decompress_struct& info = handle_.info;
  Run([&info] { jpeg_create_decompress(&info); });
  info.src = &src_.pub;
  info.mem->max_memory_to_use = kMaxJpegLibraryMemory;
  blocks_.Install(reinterpret_cast<j_common_ptr>(&info));
}

TDecompressor::TDecompressor(int fd) : TDecompressor(nullptr, 0) {
  src_.fd = fd;
  src_.buffer.resize(kFileBufferBytes);
}

TDecompressor::~TDecompressor() = default;

void TDecompressor::ReadHeader() {
  jpeg_decompress_struct& info = handle_.info;
  Run([&info] { jpeg_read_header(&info, TRUE); });
}

uint64_t TDecompressor::CoefficientBytes() {
  jpeg_decompress_struct& c = handle_.info;
  boolean multiple = FALSE;
  Run([&] { multiple = jpeg_has_multiple_scans(&c); });
  if (!multiple && !c.buffered_image) return 0;
  // 64 coefficients of two bytes a block, the blocks of each component rounded up to whole
  // sampling units, as the library lays them out.
  uint64_t bytes = 0;
  for (int i = 0; i < c.num_components; ++i) {
    const jpeg_component_info& k = c.comp_info[i];
    const uint64_t bw = (uint64_t(k.width_in_blocks) + k.h_samp_factor - 1) / k.h_samp_factor * k.h_samp_factor;
    const uint64_t bh = (uint64_t(k.height_in_blocks) + k.v_samp_factor - 1) / k.v_samp_factor * k.v_samp_factor;
    bytes += bw * bh * DCTSIZE2 * sizeof(JCOEF);
  }
  return bytes;
}

void TDecompressor::Limit(const TDecodeLimits& limits) {
  jpeg_decompress_struct& c = handle_.info;
  const uint64_t coefficients = CoefficientBytes();
  // Six bytes a pixel for three full-size components, eight for CMYK: more than the decoded
  // image's four, which is no reason to refuse an image the limit admits.
  if (coefficients > limits.MaxImageBytes && DecodedImageBytes(c.image_width, c.image_height) > limits.MaxImageBytes)
    throw EImageTooLarge(std::string(c.progressive_mode ? "progressive" : "multi-scan") + " JPEG needs " +
                         std::to_string((coefficients + (1 << 20) - 1) >> 20) +
                         " MB of coefficient memory; the limit is " + std::to_string(limits.MaxImageBytes >> 20) +
                         " MB");
  // Besides the coefficients, the library's only whole-image storage is two-pass colour
  // quantising's copy of the output, which the limit on the output bounds.
  handle_.info.mem->max_memory_to_use = static_cast<long>(std::min<uint64_t>(
      coefficients + std::min<uint64_t>(kMaxJpegLibraryMemory, limits.MaxImageBytes), std::numeric_limits<long>::max()));
  blocks_.UsePool(limits.Chunks);
}

TCompressor::TCompressor(std::vector<uint8_t>& out) {
  InitErrors(err_);
  handle_.info.err = &err_.pub;
  dest_.pub.init_destination = InitDestination;
  dest_.pub.empty_output_buffer = EmptyOutputBuffer;
  dest_.pub.term_destination = TermDestination;
  dest_.out = &out;
  jpeg_compress_struct& info = handle_.info;
  Run([&info] { jpeg_create_compress(&info); });
  info.dest = &dest_.pub;
  info.mem->max_memory_to_use = kMaxJpegLibraryMemory;
}

TCompressor::~TCompressor() = default;

}  // namespace pellavo::jpeg_detail
