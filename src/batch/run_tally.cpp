#include "batch/run_tally.h"

namespace pellavo {

std::string ReasonOf(const TFileOutcome& outcome) {
  switch (outcome.Status()) {
    case TFileStatus::Written:
      return {};
    case TFileStatus::Skipped:
      return outcome.Error.empty() ? "the extension is not one of an image format" : outcome.Error;
    case TFileStatus::Failed:
      break;
  }
  return outcome.Error.empty() ? "not written" : outcome.Error;
}

std::string OutcomeLine(const TFileOutcome& outcome) {
  switch (outcome.Status()) {
    case TFileStatus::Written:
      return outcome.Source + ": written as " + outcome.Output;
    case TFileStatus::Skipped:
      return outcome.Source + ": skipped: " + ReasonOf(outcome);
    case TFileStatus::Failed:
      break;
  }
  return outcome.Source + ": " + ReasonOf(outcome);
}

void TRunTally::Count(const TFileOutcome& outcome) {
  switch (outcome.Status()) {
    case TFileStatus::Written:
      ++Written;
      break;
    case TFileStatus::Failed:
      ++Failed;
      break;
    case TFileStatus::Skipped:
      ++Skipped;
      break;
  }
}

std::string TallyText(const TRunTally& tally) {
  std::string text;
  if (tally.Failed > 0 || tally.Skipped > 0) {
    text += ", " + std::to_string(tally.Written) + " written";
    if (tally.Failed > 0) text += ", " + std::to_string(tally.Failed) + " failed";
    if (tally.Skipped > 0) text += ", " + std::to_string(tally.Skipped) + " skipped";
  }
  if (tally.Stopped) text += ", stopped";
  return text;
}

}  // namespace pellavo
