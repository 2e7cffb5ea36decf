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
    // An unreadable source, or one that is not a regular file, ends the copy here: nothing is
    // written and nothing is shown.
    const std::vector<uint8_t> buffer = ReadWholeFile(order.Source);
    // Taken before the copy is written, which may replace the source itself.
    std::optional<TFileTime> source_time;
    if (order.Settings.KeepDates) source_time = FileModificationTime(order.Source);
    report.StatusText = order.Source;
    outcome.Output = order.Output;
    // The free name is taken as the complete file is published, and the old file (the source
    // itself, when copied onto its own path) is replaced only after a complete write.
    TSafeOutput out(order.Output, order.Settings.Overwrite, order.FreeNames.get());
    out.Stream().Write(buffer.data(), buffer.size());
    if (source_time) out.SetModificationTime(*source_time);
    out.Commit();
    outcome.Output = out.FinalName();
    outcome.Written = true;
    outcome.Bytes = static_cast<int64_t>(buffer.size());
  } catch (...) {
    outcome.Error = CurrentErrorReason();
  }
  return report;
}

}  // namespace pellavo
