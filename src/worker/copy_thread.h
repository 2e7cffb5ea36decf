#pragma once
#include <string>

#include "batch/batch_worker.h"

namespace pellavo {

// Copies one entry byte for byte to its output path: the worker of fast-copy runs.
class tCopyStrmThrd : public TBatchWorker {
 public:
  tCopyStrmThrd(TMainQueue& queue, std::string source, std::string dest, bool overwrite);

  std::string StatusText() const override { return DisplayName; }
  TFileOutcome Outcome() const override;

  const std::string SourceName;
  std::string DestName;
  const bool Overwrite;
  // The source path once the source has been read; empty when it could not be.
  std::string DisplayName;

 protected:
  void Execute() override { CopyOneFile(); }

 private:
  void CopyOneFile();
  bool written_ = false;
};

}  // namespace pellavo
