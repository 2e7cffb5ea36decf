#include "worker/copy_thread.h"

#include <vector>

#include "core/files.h"
#include "core/stream.h"

namespace pellavo {

tCopyStrmThrd::tCopyStrmThrd(TMainQueue& queue, std::string source, std::string dest, bool overwrite)
    : TBatchWorker(queue), SourceName(std::move(source)), DestName(std::move(dest)), Overwrite(overwrite) {
  SetFreeOnTerminate(true);
}

void tCopyStrmThrd::CopyOneFile() {
  // An unreadable source ends the copy here: nothing is written and nothing is shown.
  std::vector<uint8_t> buffer = ReadWholeFile(SourceName);
  DisplayName = SourceName;
  // Claiming the free name and creating the file are one step, and the old file (the source
  // itself, when copied onto its own path) is replaced only after a complete write.
  TSafeOutput out(DestName, Overwrite);
  DestName = out.FinalName();
  out.Stream().Write(buffer.data(), buffer.size());
  out.Commit();
  written_ = true;
}

TFileOutcome tCopyStrmThrd::Outcome() const {
  TFileOutcome o;
  o.Source = SourceName;
  o.Output = DisplayName.empty() ? std::string() : DestName;
  o.Error = FatalError();
  o.Written = written_;
  return o;
}

}  // namespace pellavo
