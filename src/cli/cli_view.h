#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "batch/run_view.h"
#include "batch/source_list.h"

namespace pellavo {

// How the command line reports.
enum class TCliReport : uint8_t {
  Text,   // a line per finished file, a progress bar while stdout is a terminal, the summary
  Quiet,  // failures and the summary only
  Json,   // a JSON object per line on stdout: per file, per refused input, the summary last
};

// The run's view on a terminal or a pipe: a line per finished file (its output path, or
// "failed: SOURCE: REASON" on stderr), or JSON objects. Every line is flushed as it is written,
// so a pipe or a log sees each file when it ends, and nothing finished is lost to an interrupt.
// Names are escaped (see escaping.h): one file, one line.
class TCliView final : public TRunView {
 public:
  TCliView(TRunSettings settings, TSourceList entries, TCliReport report);

  TRunSettings Settings() override { return settings_; }
  int EntryCount() override { return entries_.Count(); }
  std::string Entry(int index) override { return entries_.Entries()[static_cast<size_t>(index)]; }
  std::string EntryFolder(int index) override { return entries_.Folder(index); }

  void ShowMessage(const std::string& text) override;
  // --overwrite is the script's own answer.
  bool ConfirmReplacingSources(int) override { return true; }
  void ClearDestination() override { settings_.DestFolder.clear(); }
  void SetStatusText(const std::string&) override {}
  void SetProgress(int maximum, int position) override;
  void SetThreadsText(const std::string& text) override;
  void SetSummaryText(const std::string& text) override;
  void SetStopEnabled(bool) override {}
  void FileFinished(const TFileOutcome& outcome) override;
  // An error outside any one file (a worker that could not be started, say): "pellavo-cli: ..."
  // on stderr; it counts as a failure.
  void ShowError(const std::string& text);
  // The first interrupt: what happens now, on stderr.
  void ShowInterrupted(int signal, int running);
  // The second interrupt: the running files are given up.
  void ShowAbandoned();

  int Failures() const { return failures_; }
  bool RefusedToStart() const { return refused_; }

  // The JSON summary object (Json mode only; the text summary comes from the run).
  void PrintJsonSummary(int input_errors, int64_t milliseconds, int interrupted_by, int exit_status);

 private:
  void ClearBar();
  void DrawBar();

  TRunSettings settings_;
  TSourceList entries_;
  TCliReport report_;
  bool bar_ = false;  // a progress bar is drawn on the terminal
  bool bar_drawn_ = false;
  int done_ = 0;
  std::string threads_;
  int finished_ = 0;
  int written_ = 0;
  int failures_ = 0;  // files not written, and errors outside any file
  int skipped_ = 0;  // not images, and outputs that existed
  int existing_ = 0;  // of those, the outputs that existed
  bool refused_ = false;
};

// A path named on the command line (or in --files-from) that brings nothing into the run:
// "pellavo-cli: PATH: REASON" on stderr, or a JSON "input" object. failed: it counts against
// the exit status (missing, unreadable), rather than being a note (no images in it).
void PrintInputProblem(TCliReport report, const std::string& path, const std::string& reason, bool failed);

}  // namespace pellavo
