#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "batch/batch_worker.h"
#include "batch/run_settings.h"
#include "core/color.h"
#include "core/rect.h"

namespace pellavo {

class TPicture;
class TBitmap32;

// Converts one entry: decode, size, render into a 32-bit surface, decorate, encode.
class tThumbThrd : public TBatchWorker {
 public:
  tThumbThrd(TMainQueue& queue, std::string source, std::string output, TSizeMode size_mode, int32_t size_value,
             uint8_t filter_index, bool overwrite);
  ~tThumbThrd() override;

  std::string StatusText() const override { return FinalName; }
  TFileOutcome Outcome() const override;

  // Handed over by the creator before Start.
  const std::string SourceName;
  std::string OutputName;  // the save step may change it
  int32_t SizeValue;       // a percentage in "Percent" mode until the picture's size is known
  const TSizeMode SizeMode;
  const bool Overwrite;
  const uint8_t FilterIndex;
  bool FrameOn = false;
  bool BorderOn = false;
  int32_t BorderWidth = 0;
  TWideMode WideMode = TWideMode::None;
  TColor BorderColor = 0;

  // Set while converting.
  std::string FinalName;  // the path the save step used
  TRect SrcRect;
  TRect DstRect;
  // The scale the decoder was asked for (0 full, 1 half, 2 quarter, 3 eighth), and the size of
  // the image that was rendered from; kept for the run's report and for tests.
  int DecodeScale = 0;
  int32_t DecodedWidth = 0;
  int32_t DecodedHeight = 0;

 protected:
  void Execute() override { ConvertFile(); }

 private:
  void ConvertFile();
  void RenderAndSave();
  void RenderImage(int32_t width, int32_t height);
  void SaveImage();

  std::unique_ptr<TPicture> Picture;
  std::unique_ptr<TBitmap32> SourceSurface;
  std::unique_ptr<TBitmap32> TargetSurface;
  bool skipped_ = false;
  bool written_ = false;
};

// The decoder scale for a JPEG whose larger side is `larger` and whose output's larger side is
// `target`: the smallest reduction that stays near the target size.
int ReducedDecodeScale(int32_t target, int32_t larger);

}  // namespace pellavo
