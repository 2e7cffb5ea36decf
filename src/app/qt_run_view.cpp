#include "app/qt_run_view.h"

#include <QApplication>
#include <QMainWindow>

#include "app/control_binding.h"
#include "app/dialogs.h"
#include "app/qt_paths.h"
#include "app/source_list_model.h"
#include "ui_main_window.h"

namespace pellavo {

TQtRunView::TQtRunView(QMainWindow& window, Ui::TForm1& ui, TSourceListModel& list, TDialogs& dialogs)
    : window_(window), ui_(ui), list_(list), dialogs_(dialogs) {}

TRunSettings TQtRunView::Settings() { return RunSettingsFrom(ReadControls(ui_)); }

int TQtRunView::EntryCount() { return list_.List().Count(); }

std::string TQtRunView::Entry(int index) {
  const auto& entries = list_.List().Entries();
  return index >= 0 && index < static_cast<int>(entries.size()) ? entries[static_cast<size_t>(index)] : std::string();
}

std::string TQtRunView::EntryFolder(int index) {
  return index >= 0 && index < list_.List().Count() ? list_.List().Folder(index) : std::string();
}

void TQtRunView::ShowMessage(const std::string& text) { dialogs_.Message(text); }

bool TQtRunView::ConfirmReplacingSources(int count) {
  return dialogs_.AskToProceed(ReplaceSourcesQuestion(count), "Replace");
}

void TQtRunView::ClearDestination() { ui_.Edit1->clear(); }

void TQtRunView::SetStatusText(const std::string& text) { ui_.StatusBar1->showMessage(FromPath(text)); }

void TQtRunView::SetProgress(int maximum, int position) {
  ui_.ProgressBar1->setRange(0, maximum);
  ui_.ProgressBar1->setValue(position);
}

void TQtRunView::SetThreadsText(const std::string& text) { ui_.Label3->setText(QString::fromStdString(text)); }

void TQtRunView::SetSummaryText(const std::string& text) {
  const std::string added = TallyText(tally_);
  summary_ = text + added;
  const QString full = FromPath(summary_);
  // The top bar has room for the plain summary; the counts may need more, and then the label
  // ends in an ellipsis while the status bar and the results view show it whole.
  ui_.Label5->setText(ui_.Label5->fontMetrics().elidedText(full, Qt::ElideRight, ui_.Label5->width()));
  ui_.Label5->setAccessibleName(full);
  // A run that went as asked leaves the last file's name there.
  if (!added.empty()) ui_.StatusBar1->showMessage(full);
}

void TQtRunView::SetStopEnabled(bool enabled) { ui_.Button4->setEnabled(enabled); }

void TQtRunView::SetRunning(bool running) {
  // A second launch loop would reset the counters under running workers, and a removed entry
  // would leave the run asking for a position that no longer exists.
  ui_.Button1->setEnabled(!running);
  ui_.ListBox1->SetRemovalsLocked(running);
  if (running) {
    tally_ = {};
    destination_ = Settings().DestFolder;
    list_.ClearOutcomes(requested_);
  } else if (on_run_ended_) {
    on_run_ended_();
  }
}

void TQtRunView::DrawAttention() {
  // A window closed during the run stays closed.
  if (window_.isVisible()) QApplication::alert(&window_);
}

void TQtRunView::FileFinished(const TFileOutcome& outcome) {
  tally_.Count(outcome);
  list_.SetOutcome(outcome.Entry, outcome);
}

void TQtRunView::RunStopped(int) { tally_.Stopped = true; }

std::string ReplaceSourcesQuestion(int count) {
  return count == 1 ? "Replace 1 original file? The original cannot be recovered."
                    : "Replace " + std::to_string(count) + " original files? The originals cannot be recovered.";
}

}  // namespace pellavo
