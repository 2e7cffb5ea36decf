#pragma once
#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/folder_chooser.h"
#include "batch/batch_run.h"

class QToolButton;

namespace Ui {
class TForm1;
}

namespace pellavo {

class TDesktopActions;
class TMemoryPanel;
class TQtMainQueue;
class TQtRunView;
class TResultsView;
class TSourceListModel;
class TViewerWindow;

// TForm1, the main window: binds the controls of the layout to the source list and the run.
// The run itself, the list's admission rules and the meaning of every option live in the
// engine; this class only wires widgets to them.
class TMainWindow final : public QMainWindow {
  Q_OBJECT
 public:
  TMainWindow(TQtMainQueue& queue, TWorkerFactory factory, TDialogs& dialogs, TDesktopActions& desktop,
              QWidget* parent = nullptr);
  // Lets the workers of a run that is still going finish their file first.
  ~TMainWindow() override;

  // The command line's files and folders, in order, through the list's admission.
  void AddSourcePaths(const std::vector<std::string>& paths);

  const TBatchRun& Run() const { return *run_; }
  // The last run's results, open or not.
  TResultsView& Results() { return *results_; }
  TMemoryPanel& MemoryPanel() { return *memory_; }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void SetUpLook();
  void SetUpAccessibility();
  void SetUpResults();
  void ConnectControls();
  void ApplyEnablementRules();
  void UpdateFileCount();
  void SetKeepOnTop(bool on);

  void SourceFolderClicked();
  void SourceFilesClicked();
  void DestinationClicked();
  void OpenClicked();
  void LatestClicked();
  void ListDoubleClicked();
  void StartClicked();
  void RunEnded();
  void ShowResults();
  void RetryFailed();
  void OpenOutputFolder();
  void BorderColorDialog();
  void BackgroundColorDialog();

  std::unique_ptr<Ui::TForm1> ui_;
  TQtMainQueue& queue_;
  TDialogs& dialogs_;
  TDesktopActions& desktop_;
  TSourceListModel* list_;  // owned by this window as a Qt child
  TFolderChooser chooser_;
  std::unique_ptr<TQtRunView> run_view_;
  std::unique_ptr<TBatchRun> run_;
  std::unique_ptr<TViewerWindow> viewer_;
  std::unique_ptr<TMemoryPanel> memory_;
  TResultsView* results_;         // owned by this window as a Qt child
  QToolButton* results_button_;  // in the status bar; owned by it
  // CD's custom colours: kept for the life of the window, which is the life of the program.
  TCustomColors custom_colors_;
};

}  // namespace pellavo
