#include "cli/cli_view.h"

#include <unistd.h>

#include <iostream>

namespace pellavo {

TCliView::TCliView(TRunSettings settings, std::vector<std::string> entries, bool quiet)
    : settings_(std::move(settings)), entries_(std::move(entries)), quiet_(quiet), bar_(!quiet && ::isatty(1)) {}

void TCliView::ShowMessage(const std::string& text) {
  refused_ = true;
  ClearBar();
  std::cerr << text << "\n";
}

void TCliView::SetProgress(int maximum, int position) {
  done_ = maximum - position;
  DrawBar();
}

void TCliView::SetThreadsText(const std::string& text) {
  threads_ = text;
  DrawBar();
}

void TCliView::ClearBar() {
  if (!bar_drawn_) return;
  std::cout << "\r\033[K" << std::flush;
  bar_drawn_ = false;
}

void TCliView::DrawBar() {
  if (!bar_) return;
  constexpr int kWidth = 30;
  const int total = static_cast<int>(entries_.size());
  const int filled = total > 0 ? done_ * kWidth / total : kWidth;
  std::cout << "\r[" << std::string(static_cast<size_t>(filled), '#') << std::string(static_cast<size_t>(kWidth - filled), '.')
            << "] " << done_ << "/" << total << "  " << threads_ << "\033[K" << std::flush;
  bar_drawn_ = true;
}

void TCliView::FileFinished(const TFileOutcome& o) {
  ClearBar();
  if (o.Written) {
    if (!quiet_) std::cout << o.Output << "\n";
  } else {
    ++failures_;
    std::cout << std::flush;
    std::cerr << "failed: " << o.Source << ": ";
    if (o.Skipped)
      std::cerr << "the extension is not one of an image format\n";
    else if (!o.Error.empty())
      std::cerr << o.Error << "\n";
    else
      std::cerr << "not written\n";
  }
  DrawBar();
}

void TCliView::ShowError(const std::string& text) {
  ++failures_;
  ClearBar();
  std::cout << std::flush;
  std::cerr << "pellavo-cli: " << text << "\n";
  DrawBar();
}

void TCliView::SetSummaryText(const std::string& text) {
  ClearBar();
  bar_ = false;
  std::cout << text << "\n" << std::flush;
}

}  // namespace pellavo
