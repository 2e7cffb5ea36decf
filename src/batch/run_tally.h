#pragma once
#include <string>

#include "batch/run_view.h"

namespace pellavo {

// Why an entry was not written, in words: its error, or for a skip without one, why an entry
// that is not an image was passed over. Empty for a written entry.
std::string ReasonOf(const TFileOutcome& outcome);
// The entry's outcome in one line, led by its source path: "/photos/a.jpg: written as
// /out/a.png", "/photos/b.jpg: JPEG error #43: Premature end of JPEG file" (a failure is its
// reason), "/photos/c.txt: skipped: ...".
std::string OutcomeLine(const TFileOutcome& outcome);

// A run's finished entries counted by how they ended, and whether the run was cut short.
struct TRunTally {
  int Written = 0;
  int Failed = 0;
  int Skipped = 0;
  bool Stopped = false;  // entries were left unlaunched

  void Count(const TFileOutcome& outcome);
  int Finished() const { return Written + Failed + Skipped; }
};

// What a summary adds to "Files processed: ..." when the run did not go as asked: the counts
// when any entry was not written (", 10 written, 2 failed", ", 1 skipped"), then ", stopped";
// empty when every entry was written.
std::string TallyText(const TRunTally& tally);

}  // namespace pellavo
