#pragma once
#include "batch/run_view.h"

class QMainWindow;

namespace Ui {
class TForm1;
}

namespace pellavo {

class TDialogs;
class TSourceListModel;

// The run as the window shows it: options read from the controls, the source list from its
// model, progress on the bar, the labels and the status bar. While a run is active, Start and
// the list's removals are locked.
class TQtRunView final : public TRunView {
 public:
  TQtRunView(QMainWindow& window, Ui::TForm1& ui, const TSourceListModel& list, TDialogs& dialogs);

  TRunSettings Settings() override;
  int EntryCount() override;
  std::string Entry(int index) override;
  std::string EntryFolder(int index) override;

  void ShowMessage(const std::string& text) override;
  void ClearDestination() override;

  void SetStatusText(const std::string& text) override;
  void SetProgress(int maximum, int position) override;
  void SetThreadsText(const std::string& text) override;
  void SetSummaryText(const std::string& text) override;
  void SetStopEnabled(bool enabled) override;

  void SetRunning(bool running) override;
  void MinimizeAndRestore() override;

 private:
  QMainWindow& window_;
  Ui::TForm1& ui_;
  const TSourceListModel& list_;
  TDialogs& dialogs_;
};

}  // namespace pellavo
