#include "app/qt_run_view.h"

#include <QMainWindow>
#include <QTimer>

#include "app/control_binding.h"
#include "app/dialogs.h"
#include "app/qt_paths.h"
#include "app/source_list_model.h"
#include "ui_main_window.h"

namespace pellavo {

TQtRunView::TQtRunView(QMainWindow& window, Ui::TForm1& ui, const TSourceListModel& list, TDialogs& dialogs)
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

void TQtRunView::ClearDestination() { ui_.Edit1->clear(); }

void TQtRunView::SetStatusText(const std::string& text) { ui_.StatusBar1->showMessage(FromPath(text)); }

void TQtRunView::SetProgress(int maximum, int position) {
  ui_.ProgressBar1->setRange(0, maximum);
  ui_.ProgressBar1->setValue(position);
}

void TQtRunView::SetThreadsText(const std::string& text) { ui_.Label3->setText(QString::fromStdString(text)); }

void TQtRunView::SetSummaryText(const std::string& text) { ui_.Label5->setText(QString::fromStdString(text)); }

void TQtRunView::SetStopEnabled(bool enabled) { ui_.Button4->setEnabled(enabled); }

void TQtRunView::SetRunning(bool running) {
  // A second launch loop would reset the counters under running workers, and a removed entry
  // would leave the run asking for a position that no longer exists.
  ui_.Button1->setEnabled(!running);
  ui_.ListBox1->SetRemovalsLocked(running);
}

void TQtRunView::MinimizeAndRestore() {
  // A window closed during the run stays closed.
  if (!window_.isVisible()) return;
  const Qt::WindowStates before = window_.windowState() & ~Qt::WindowMinimized;
  window_.setWindowState(before | Qt::WindowMinimized);
  // A timer rather than a sleep, so the desktop gets to show the minimised window at all.
  QTimer::singleShot(100, &window_, [&window = window_, before] {
    if (window.isVisible()) window.setWindowState(before);
  });
}

}  // namespace pellavo
