#include "formats/jpeg2000/opj_glue.h"

#include <algorithm>
#include <cstring>

namespace pellavo::jp2detail {

void TCodecLog::Attach(opj_codec_t* codec) {
  opj_set_error_handler(codec, &TCodecLog::OnError, this);
  opj_set_warning_handler(codec, &TCodecLog::OnWarning, this);
  opj_set_info_handler(codec, &TCodecLog::OnInfo, this);
}

void TCodecLog::Append(std::string& text, const char* kind, const char* message) noexcept {
  // A codec that keeps talking must not grow the log without bound; and nothing may be thrown
  // back through the codec's C frames.
  if (text.size() > 64 * 1024) return;
  try {
    text += kind;
    text += message ? message : "";
    if (text.back() != '\n') text += '\n';
  } catch (...) {
  }
}

void TCodecLog::OnError(const char* message, void* log) {
  Append(static_cast<TCodecLog*>(log)->text_, "error: ", message);
}
void TCodecLog::OnWarning(const char* message, void* log) {
  Append(static_cast<TCodecLog*>(log)->text_, "warning: ", message);
}
void TCodecLog::OnInfo(const char* message, void* log) {
  Append(static_cast<TCodecLog*>(log)->text_, "info: ", message);
}

TMemoryInput::TMemoryInput(const uint8_t* data, size_t size)
    : data_(data), size_(size), stream_(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE)) {
  if (!stream_) return;
  opj_stream_set_user_data(stream_.get(), this, nullptr);
  opj_stream_set_user_data_length(stream_.get(), size_);
  opj_stream_set_read_function(stream_.get(), &TMemoryInput::Read);
  opj_stream_set_skip_function(stream_.get(), &TMemoryInput::Skip);
  opj_stream_set_seek_function(stream_.get(), &TMemoryInput::Seek);
}

OPJ_SIZE_T TMemoryInput::Read(void* buffer, OPJ_SIZE_T count, void* self) {
  auto* in = static_cast<TMemoryInput*>(self);
  if (in->position_ >= in->size_) return static_cast<OPJ_SIZE_T>(-1);
  const size_t n = std::min<size_t>(count, in->size_ - in->position_);
  std::memcpy(buffer, in->data_ + in->position_, n);
  in->position_ += n;
  in->furthest_ = std::max(in->furthest_, in->position_);
  return n;
}

OPJ_OFF_T TMemoryInput::Skip(OPJ_OFF_T count, void* self) {
  auto* in = static_cast<TMemoryInput*>(self);
  const auto target = static_cast<int64_t>(in->position_) + count;
  if (target < 0 || target > static_cast<int64_t>(in->size_)) return -1;
  in->position_ = static_cast<size_t>(target);
  return count;
}

OPJ_BOOL TMemoryInput::Seek(OPJ_OFF_T position, void* self) {
  auto* in = static_cast<TMemoryInput*>(self);
  if (position < 0 || position > static_cast<OPJ_OFF_T>(in->size_)) return OPJ_FALSE;
  in->position_ = static_cast<size_t>(position);
  return OPJ_TRUE;
}

TMemoryOutput::TMemoryOutput() : stream_(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE)) {
  if (!stream_) return;
  opj_stream_set_user_data(stream_.get(), this, nullptr);
  opj_stream_set_write_function(stream_.get(), &TMemoryOutput::Write);
  opj_stream_set_skip_function(stream_.get(), &TMemoryOutput::Skip);
  opj_stream_set_seek_function(stream_.get(), &TMemoryOutput::Seek);
}

OPJ_SIZE_T TMemoryOutput::Write(void* buffer, OPJ_SIZE_T count, void* self) {
  auto* out = static_cast<TMemoryOutput*>(self);
  try {
    if (out->position_ + count > out->bytes_.size()) out->bytes_.resize(out->position_ + count);
  } catch (const std::bad_alloc&) {
    return static_cast<OPJ_SIZE_T>(-1);
  }
  if (count) std::memcpy(out->bytes_.data() + out->position_, buffer, count);
  out->position_ += count;
  return count;
}

OPJ_OFF_T TMemoryOutput::Skip(OPJ_OFF_T count, void* self) {
  auto* out = static_cast<TMemoryOutput*>(self);
  const auto target = static_cast<int64_t>(out->position_) + count;
  if (target < 0) return -1;
  out->position_ = static_cast<size_t>(target);
  return count;
}

OPJ_BOOL TMemoryOutput::Seek(OPJ_OFF_T position, void* self) {
  auto* out = static_cast<TMemoryOutput*>(self);
  if (position < 0) return OPJ_FALSE;
  out->position_ = static_cast<size_t>(position);
  return OPJ_TRUE;
}

}  // namespace pellavo::jp2detail
