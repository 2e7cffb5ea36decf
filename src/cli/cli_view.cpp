#include "cli/cli_view.h"

#include <unistd.h>

#include <iostream>

#include "batch/run_tally.h"
#include "cli/escaping.h"
#include "cli/interrupts.h"

namespace pellavo {
namespace {

std::string JsonOrNull(const std::string& text, bool present) { return present ? JsonString(text) : "null"; }

std::string FileJson(const TFileOutcome& o) {
  const char* status = o.Written ? "written" : o.Skipped ? "skipped" : "failed";
  const std::string reason = o.Written ? std::string() : ReasonOf(o);
  const bool sized = o.Written && o.Width > 0 && o.Height > 0;
  return "{\"type\":\"file\",\"source\":" + JsonString(o.Source) + ",\"output\":" + JsonOrNull(o.Output, !o.Output.empty()) +
         ",\"status\":\"" + status + "\",\"reason\":" + JsonOrNull(reason, !o.Written) +
         ",\"width\":" + (sized ? std::to_string(o.Width) : "null") +
         ",\"height\":" + (sized ? std::to_string(o.Height) : "null") +
         ",\"quality\":" + (o.Written && o.Quality > 0 ? std::to_string(o.Quality) : "null") +
         ",\"bytes\":" + (o.Written ? std::to_string(o.Bytes) : "null") +
         ",\"milliseconds\":" + std::to_string(o.Milliseconds) + "}";
}

}  // namespace

TCliView::TCliView(TRunSettings settings, TSourceList entries, TCliReport report)
    : settings_(std::move(settings)),
      entries_(std::move(entries)),
      report_(report),
      bar_(report == TCliReport::Text && ::isatty(1)) {}

void TCliView::ShowMessage(const std::string& text) {
  refused_ = true;
  ClearBar();
  std::cerr << EscapeForTerminal(text) << "\n";
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
  const int total = ShardEntryCount(settings_, entries_.Count());  // this process's share of the list
  const int filled = total > 0 ? done_ * kWidth / total : kWidth;
  std::cout << "\r[" << std::string(static_cast<size_t>(filled), '#') << std::string(static_cast<size_t>(kWidth - filled), '.')
            << "] " << done_ << "/" << total << "  " << threads_ << "\033[K" << std::flush;
  bar_drawn_ = true;
}

void TCliView::FileFinished(const TFileOutcome& o) {
  ++finished_;
  for (const std::string& warning : o.Warnings) {
    if (report_ == TCliReport::Json) {
      std::cout << "{\"type\":\"warning\",\"source\":" << JsonString(o.Source) << ",\"reason\":" << JsonString(warning)
                << "}" << std::endl;
    } else {
      ClearBar();
      std::cout << std::flush;
      std::cerr << "warning: " << EscapeForTerminal(o.Source) << ": " << EscapeForTerminal(warning) << std::endl;
    }
  }
  if (o.Written)
    ++written_;
  else if (o.Skipped)
    ++skipped_;
  if (o.ExistingOutput) ++existing_;
  if (!o.Written && !o.ExistingOutput) ++failures_;

  if (report_ == TCliReport::Json) {
    std::cout << FileJson(o) << std::endl;
    return;
  }
  ClearBar();
  if (o.Written) {
    if (report_ == TCliReport::Text) std::cout << EscapeForTerminal(o.Output) << std::endl;
  } else if (o.ExistingOutput) {
    if (report_ == TCliReport::Text)
      std::cout << "skipped: " << EscapeForTerminal(o.Source) << ": " << EscapeForTerminal(o.Output) << " exists"
                << std::endl;
  } else {
    std::cout << std::flush;
    std::cerr << "failed: " << EscapeForTerminal(o.Source) << ": " << EscapeForTerminal(ReasonOf(o)) << std::endl;
  }
  DrawBar();
}

void TCliView::ShowError(const std::string& text) {
  ++failures_;
  ClearBar();
  std::cout << std::flush;
  std::cerr << "pellavo-cli: " << EscapeForTerminal(text) << std::endl;
  DrawBar();
}

void TCliView::ShowInterrupted(int signal, int running) {
  ClearBar();
  std::cout << std::flush;
  std::cerr << "pellavo-cli: " << SignalName(signal) << ": launching nothing more; " << running
            << " running file(s) finish (interrupt again to abandon them)" << std::endl;
  DrawBar();
}

void TCliView::ShowAbandoned() {
  ClearBar();
  std::cout << std::flush;
  std::cerr << "pellavo-cli: running files abandoned" << std::endl;
  DrawBar();
}

void TCliView::SetSummaryText(const std::string& text) {
  ClearBar();
  bar_ = false;
  if (report_ == TCliReport::Json) return;
  std::cout << text << (existing_ > 0 ? ", " + std::to_string(existing_) + " skipped" : std::string()) << std::endl;
}

void TCliView::PrintJsonSummary(int input_errors, int64_t milliseconds, int interrupted_by, int exit_status) {
  std::cout << "{\"type\":\"summary\",\"files\":" << finished_ << ",\"written\":" << written_
            << ",\"failed\":" << (finished_ - written_ - skipped_) << ",\"skipped\":" << skipped_
            << ",\"input_errors\":" << input_errors << ",\"milliseconds\":" << milliseconds << ",\"interrupted\":"
            << (interrupted_by ? "\"" + std::string(SignalName(interrupted_by)) + "\"" : std::string("null"))
            << ",\"exit_status\":" << exit_status << "}" << std::endl;
}

void PrintInputProblem(TCliReport report, const std::string& path, const std::string& reason, bool failed) {
  if (report == TCliReport::Json) {
    std::cout << "{\"type\":\"input\",\"path\":" << JsonString(path) << ",\"status\":\""
              << (failed ? "failed" : "ignored") << "\",\"reason\":" << JsonString(reason) << "}" << std::endl;
    return;
  }
  std::cerr << "pellavo-cli: " << EscapeForTerminal(path) << ": " << EscapeForTerminal(reason) << std::endl;
}

}  // namespace pellavo
