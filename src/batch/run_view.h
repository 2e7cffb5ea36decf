#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "batch/run_settings.h"

namespace pellavo {

// How an entry ended, as a front end reports it: written, failed, or skipped (nothing was
// tried, for a reason of its own).
enum class TFileStatus : uint8_t { Written, Failed, Skipped };

// How one entry of a run ended.
struct TFileOutcome {
  std::string Source;
  std::string Output;  // the path written, or attempted; empty when the entry failed early
  // Why the entry failed or was skipped; empty on success. A skip that gives no reason is an
  // entry that is not an image by its extension.
  std::string Error;
  bool Written = false;
  bool Skipped = false;  // nothing was tried: see Error
  // Not converted because its output exists (SkipExisting): Skipped, with Output naming it. Not
  // a failure.
  bool ExistingOutput = false;
  // The quality the output was encoded at, for formats that take one (0 for others), and the
  // output's size in bytes; 0 when nothing was written.
  int Quality = 0;
  int64_t Bytes = 0;
  // The size of the image written, 0 × 0 when none was (failures, copies).
  int32_t Width = 0;
  int32_t Height = 0;
  int64_t Milliseconds = 0;  // the worker's time on the entry
  // What went wrong without stopping the entry (a damaged colour profile or EXIF block that was
  // ignored), in words.
  std::vector<std::string> Warnings{};
  // The entry's position in the source list; set by the run.
  int Entry = -1;

  TFileStatus Status() const {
    return Written ? TFileStatus::Written : Skipped ? TFileStatus::Skipped : TFileStatus::Failed;
  }
};

// What a run needs from its front end: the current options, the source list, and the places
// where it shows its progress. The window binds these to its controls, the command line to
// its terminal. Called on the main thread only.
class TRunView {
 public:
  virtual ~TRunView() = default;

  // The options as they stand now.
  virtual TRunSettings Settings() = 0;
  virtual int EntryCount() = 0;
  virtual std::string Entry(int index) = 0;
  // The entry's folder relative to the folder the user added it with ("2019/summer/"), empty for
  // a file added alone.
  virtual std::string EntryFolder(int index) = 0;

  // A modal message with an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // Start found that the run's outputs would replace count of its own source files (overwriting
  // is on); true lets it go on. Asked before anything is launched.
  virtual bool ConfirmReplacingSources(int count) = 0;
  virtual void ClearDestination() = 0;

  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetProgress(int maximum, int position) = 0;
  virtual void SetThreadsText(const std::string& text) = 0;
  virtual void SetSummaryText(const std::string& text) = 0;
  virtual void SetStopEnabled(bool enabled) = 0;

  // A run starts or ends; the window locks Start and the list meanwhile.
  virtual void SetRunning(bool running) { (void)running; }
  // The end of a run draws the user's eye to the window.
  virtual void DrawAttention() {}
  virtual void FileFinished(const TFileOutcome& outcome) { (void)outcome; }
  // The run ended with not_launched entries never started (STOP, or a worker that could not be
  // started); called before the summary.
  virtual void RunStopped(int not_launched) { (void)not_launched; }
};

}  // namespace pellavo
