#include "worker/copy_thread.h"

#include <optional>
#include <vector>

#include "core/errors.h"
#include "core/files.h"
#include "core/stream.h"

namespace pellavo {

TWorkerReport CopyOneFile(const TWorkerOrder& order) {
  TWorkerReport report;
  TFileOutcome& outcome = report.Outcome;
  outcome.Source = order.Source;
  try {
    // An unreadable source ends the copy here: nothing is written and nothing is shown.
    const std::vector<uint8_t> buffer = ReadWholeFile(order.Source);
    // Taken before the copy is written, which may replace the source itself.
    std::optional<TFileTime> source_time;
    if (order.Settings.KeepDates) source_time = FileModificationTime(order.Source);
    report.StatusText = order.Source;
    outcome.Output = order.Output;
    // Claiming the free name and creating the file are one step, and the old file (the source
    // itself, when copied onto its own path) is replaced only after a complete write.
    TSafeOutput out(order.Output, order.Settings.Overwrite);
    outcome.Output = out.FinalName();
    out.Stream().Write(buffer.data(), buffer.size());
    if (source_time) out.SetModificationTime(*source_time);
    out.Commit();
    outcome.Written = true;
  } catch (...) {
    outcome.Error = CurrentErrorText();
  }
  return report;
}

}  // namespace pellavo
