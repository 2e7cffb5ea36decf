#include "cli/cli_view.h"

#include <iostream>

namespace pellavo {

TCliView::TCliView(TRunSettings settings, std::vector<std::string> entries, bool quiet)
    : settings_(std::move(settings)), entries_(std::move(entries)), quiet_(quiet) {}

void TCliView::ShowMessage(const std::string& text) {
  refused_ = true;
  std::cerr << "pellavo-cli: " << text << "\n";
}

void TCliView::SetProgress(int maximum, int position) { done_ = maximum - position; }

void TCliView::FileFinished(const TFileOutcome& o) {
  const std::string counter = "[" + std::to_string(done_) + "/" + std::to_string(entries_.size()) + "] ";
  if (o.Written) {
    ++written_;
    if (!quiet_) std::cout << counter << o.Source << " -> " << o.Output << "\n";
    return;
  }
  ++failures_;
  std::cerr << "pellavo-cli: " << counter << o.Source << ": ";
  if (o.Skipped)
    std::cerr << "not converted: the extension is not one of an image format\n";
  else if (!o.Error.empty())
    std::cerr << o.Error << "\n";
  else
    std::cerr << "not written\n";
}

void TCliView::SetSummaryText(const std::string& text) {
  std::cout << text;
  if (failures_ > 0) std::cout << " (" << written_ << " written, " << failures_ << " failed)";
  std::cout << "\n";
}

}  // namespace pellavo
