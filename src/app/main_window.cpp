#include "app/main_window.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QMimeData>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QToolButton>
#include <cmath>

#include "app/control_binding.h"
#include "app/desktop_actions.h"
#include "app/dialogs.h"
#include "app/file_filter.h"
#include "app/memory_panel.h"
#include "app/qt_main_queue.h"
#include "app/qt_paths.h"
#include "app/qt_run_view.h"
#include "app/results_view.h"
#include "app/source_list_model.h"
#include "app/source_list_view.h"
#include "app/version.h"
#include "app/viewer_window.h"
#include "app/window_metrics.h"
#include "batch/run_tally.h"
#include "batch/source_list.h"
#include "core/paths.h"
#include "core/version.h"
#include "formats/registry.h"
#include "ui_main_window.h"

namespace pellavo {
namespace {

// "STOP" and "FASTCOPY" stand out in bold red; disabled, they grey out like any control.
void MakeBoldRed(QWidget& widget) {
  QFont bold;
  bold.setBold(true);  // only the weight is set here; face and size still come from the window
  widget.setFont(bold);
  QPalette palette = widget.palette();
  for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::ButtonText, Qt::red);
    palette.setColor(group, QPalette::WindowText, Qt::red);
  }
  widget.setPalette(palette);
}

}  // namespace

TMainWindow::TMainWindow(TQtMainQueue& queue, TWorkerFactory factory, TDialogs& dialogs, TDesktopActions& desktop,
                         QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::TForm1>()),
      queue_(queue),
      dialogs_(dialogs),
      desktop_(desktop),
      list_(new TSourceListModel(this)),
      chooser_(dialogs) {
  custom_colors_.fill(0x00FFFFFF);  // the colour dialog's custom colours start white
  ui_->setupUi(this);
  ShowOptionDefaults(*ui_);
  ui_->ListBox1->SetSourceModel(list_, [this](const std::vector<std::string>& paths) { AddSourcePaths(paths); });
  run_view_ = std::make_unique<TQtRunView>(*this, *ui_, *list_, dialogs_);
  run_ = std::make_unique<TBatchRun>(*run_view_, queue_, std::move(factory));
  memory_ = std::make_unique<TMemoryPanel>(*ui_, dialogs_, this);
  SetUpResults();

  setWindowTitle(QString::fromStdString(WindowCaption(kVersion)));
  SetUpLook();
  SetUpAccessibility();
  ConnectControls();
  ApplyEnablementRules();
  SetKeepOnTop(ui_->keeptop->isChecked());
  // Made hidden with the main window, after it, and kept until the program ends.
  viewer_ = std::make_unique<TViewerWindow>(*this, dialogs_, desktop_);
}

TMainWindow::~TMainWindow() {
  // Completions of running workers still come to this window's run; none may find it gone.
  run_->Stop();
  queue_.DrainThreads();
}

void TMainWindow::SetUpLook() {
  QScreen* screen = this->screen();
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(WindowFontPointSize(static_cast<int>(std::lround(screen->logicalDotsPerInch()))));
  setFont(font);
  MakeBoldRed(*ui_->Button4);
  MakeBoldRed(*ui_->fCopy);

  // The spin edits, both edits and the filter box sit on the light 3D colour: between the
  // face of the controls and their lit edge.
  for (QWidget* w : std::initializer_list<QWidget*>{ui_->SpinEdit1, ui_->SpinEdit2, ui_->SpinEdit3, ui_->SpinEdit4,
                                                   ui_->SpinEdit5, ui_->Edit1, ui_->Edit2, ui_->Filters,
                                                   ui_->SubfolderName, ui_->SpinEditMaxKb}) {
    QPalette palette = w->palette();
    const QColor face = palette.color(QPalette::Button), lit = palette.color(QPalette::Light);
    palette.setColor(QPalette::Active, QPalette::Base, QColor((face.red() + lit.red()) / 2, (face.green() + lit.green()) / 2,
                                                              (face.blue() + lit.blue()) / 2));
    palette.setColor(QPalette::Inactive, QPalette::Base, palette.color(QPalette::Active, QPalette::Base));
    w->setPalette(palette);
  }

  // Files dropped anywhere on the window reach the window itself: no control takes them.
  for (QWidget* child : findChildren<QWidget*>()) child->setAcceptDrops(false);
  setAcceptDrops(true);

  setMinimumSize(kWindowWidth, kWindowHeight);
  resize(kWindowWidth, kWindowHeight);
  move(screen->availableGeometry().center() - rect().center());
}

void TMainWindow::SetUpResults() {
  run_view_->SetOnRunEnded([this] { RunEnded(); });
  results_ = new TResultsView(this);
  // The status bar's right end, where a run's outcome is shown, opens the details.
  results_button_ = new QToolButton(ui_->StatusBar1);
  results_button_->setObjectName(QStringLiteral("ResultsButton"));
  results_button_->setText(QStringLiteral("&Results"));
  results_button_->setAccessibleName(QStringLiteral("Results"));
  results_button_->setStatusTip(QStringLiteral("Show which files were not written and why"));
  results_button_->setAutoRaise(true);
  ui_->StatusBar1->addPermanentWidget(results_button_);
  results_button_->hide();  // until a run has results
}

void TMainWindow::SetUpAccessibility() {
  // What the status bar shows for a control is also what a screen reader says of it.
  for (QWidget* w : findChildren<QWidget*>())
    if (w->accessibleDescription().isEmpty() && !w->statusTip().isEmpty()) w->setAccessibleDescription(w->statusTip());
  // The editable filter box takes the focus in its line edit, which would be announced by the
  // text it shows.
  if (QLineEdit* edit = ui_->Filters->lineEdit()) {
    edit->setAccessibleName(ui_->Filters->accessibleName());
    edit->setAccessibleDescription(ui_->Filters->statusTip());
  }
}

void TMainWindow::ConnectControls() {
  connect(ui_->Button6, &QPushButton::clicked, this, &TMainWindow::SourceFolderClicked);
  connect(ui_->Button5, &QPushButton::clicked, this, &TMainWindow::SourceFilesClicked);
  connect(ui_->Button2, &QPushButton::clicked, this, &TMainWindow::DestinationClicked);
  connect(ui_->Button3, &QPushButton::clicked, this, &TMainWindow::OpenClicked);
  connect(ui_->Button7, &QPushButton::clicked, this, &TMainWindow::LatestClicked);
  connect(ui_->Button1, &QPushButton::clicked, this, &TMainWindow::StartClicked);
  connect(ui_->Button4, &QPushButton::clicked, this, [this] { run_->Stop(); });
  connect(ui_->keeptop, &QCheckBox::toggled, this, &TMainWindow::SetKeepOnTop);
  connect(ui_->ListBox1, &TSourceListView::DoubleClicked, this, &TMainWindow::ListDoubleClicked);
  connect(ui_->Shape1, &TColorSwatch::ColorDialogRequested, this, &TMainWindow::BorderColorDialog);
  connect(ui_->BackgroundSwatch, &TColorSwatch::ColorDialogRequested, this, &TMainWindow::BackgroundColorDialog);
  connect(results_button_, &QToolButton::clicked, this, &TMainWindow::ShowResults);
  connect(results_, &TResultsView::RetryRequested, this, &TMainWindow::RetryFailed);
  connect(results_, &TResultsView::OpenFolderRequested, this, &TMainWindow::OpenOutputFolder);

  for (QRadioButton* item : ui_->RG1->findChildren<QRadioButton*>())
    connect(item, &QRadioButton::toggled, this, &TMainWindow::ApplyEnablementRules);
  connect(ui_->CheckBox3, &QCheckBox::toggled, this, &TMainWindow::ApplyEnablementRules);
  connect(ui_->syncit, &QCheckBox::toggled, this, &TMainWindow::ApplyEnablementRules);
  connect(ui_->Edit1, &QLineEdit::textChanged, this, &TMainWindow::ApplyEnablementRules);
  connect(ui_->IntoSubfolder, &QCheckBox::toggled, this, &TMainWindow::ApplyEnablementRules);

  connect(list_, &QAbstractItemModel::rowsInserted, this, &TMainWindow::UpdateFileCount);
  connect(list_, &QAbstractItemModel::rowsRemoved, this, &TMainWindow::UpdateFileCount);
  connect(list_, &QAbstractItemModel::modelReset, this, &TMainWindow::UpdateFileCount);
}

void TMainWindow::ApplyEnablementRules() {
  const bool percent = CheckedIndex(*ui_->RG1) == static_cast<int>(TSizeMode::Percent);
  ui_->SpinEdit4->setEnabled(percent);
  ui_->SpinEdit1->setEnabled(!percent);
  const bool border = ui_->CheckBox3->isChecked();
  ui_->SpinEdit5->setEnabled(border);
  ui_->Shape1->setEnabled(border);
  ui_->SpinEdit2->setEnabled(ui_->syncit->isChecked());
  ui_->Button3->setEnabled(!ui_->Edit1->text().isEmpty());
  ui_->SubfolderName->setEnabled(ui_->IntoSubfolder->isChecked());
}

void TMainWindow::UpdateFileCount() {
  ui_->Label1->setText(QString::fromStdString(FileCountText(list_->List().Count())));
}

void TMainWindow::SetKeepOnTop(bool on) {
  const bool shown = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on);
  // Changing a window flag hides the window; drops stay accepted, as they belong to the widget.
  if (shown) show();
}

void TMainWindow::AddSourcePaths(const std::vector<std::string>& paths) {
  // With "Into sub-folder" on, the outputs of an earlier run are not taken as sources.
  const bool into = ui_->IntoSubfolder->isChecked();
  list_->AddSourcePaths(paths, ui_->incsubs->isChecked(), into ? ToPath(ui_->SubfolderName->text()) : std::string());
}

void TMainWindow::SourceFolderClicked() {
  if (const std::optional<std::string> folder = chooser_.Choose()) AddSourcePaths({*folder});
}

void TMainWindow::SourceFilesClicked() {
  const std::string filter = QtFileFilter(FileFormatFilter(TGraphic::StaticClass()));
  if (const auto files = dialogs_.OpenFiles(filter)) list_->AppendUnchecked(*files);
}

void TMainWindow::DestinationClicked() {
  chooser_.SetStartFolder(ToPath(ui_->Edit1->text()));
  if (const std::optional<std::string> folder = chooser_.Choose()) ui_->Edit1->setText(FromPath(*folder));
}

void TMainWindow::OpenClicked() {
  const QString folder = ui_->Edit1->text();
  if (!folder.isEmpty()) desktop_.OpenFolder(ToPath(folder));
}

void TMainWindow::LatestClicked() { desktop_.OpenUrl(LatestVersionUrl()); }

void TMainWindow::ListDoubleClicked() {
  const QModelIndex caret = ui_->ListBox1->currentIndex();
  if (!caret.isValid()) return;
  const auto& entries = list_->List().Entries();
  if (caret.row() >= static_cast<int>(entries.size())) return;
  try {
    viewer_->ShowFile(entries[static_cast<size_t>(caret.row())]);
  } catch (const std::exception&) {
    // The application's error report, given here so the error need not unwind through Qt.
    dialogs_.Message(FileErrorText(entries[static_cast<size_t>(caret.row())]));
  }
}

void TMainWindow::StartClicked() {
  run_view_->SetRequestedRows(std::nullopt);
  run_->Start();
}

void TMainWindow::RunEnded() {
  results_button_->show();
  if (results_->isVisible()) ShowResults();
}

void TMainWindow::ShowResults() {
  std::vector<std::string> lines;
  for (const TFileStatus status : {TFileStatus::Failed, TFileStatus::Skipped})
    for (const int row : list_->RowsWith(status)) lines.push_back(OutcomeLine(*list_->Outcome(row)));
  const bool can_retry = !run_->Running() && !list_->RowsWith(TFileStatus::Failed).empty();
  results_->SetResults(run_view_->Summary(), lines, can_retry);
  results_->show();
  results_->raise();
  results_->activateWindow();
}

void TMainWindow::RetryFailed() {
  std::vector<int> failed = list_->RowsWith(TFileStatus::Failed);
  if (failed.empty() || run_->Running()) return;
  results_->hide();
  run_view_->SetRequestedRows(failed);
  run_->StartEntries(std::move(failed));
}

void TMainWindow::OpenOutputFolder() {
  // The last run's destination; without one, outputs sit beside their sources, and the first
  // entry with an outcome shows where.
  std::string folder = run_view_->Destination();
  for (int row = 0; folder.empty() && row < list_->List().Count(); ++row) {
    const std::optional<TFileOutcome>& outcome = list_->Outcome(row);
    if (outcome) folder = ExtractFilePath(outcome->Output.empty() ? outcome->Source : outcome->Output);
  }
  if (!folder.empty()) desktop_.OpenFolder(folder);
}

void TMainWindow::BorderColorDialog() {
  // The dialog changes nothing on Cancel, so the swatch keeps its colour then.
  if (const std::optional<TColor> color = dialogs_.PickColor(ToColor(ui_->Shape1->Color()), custom_colors_))
    ui_->Shape1->SetColor(FromColor(*color));
}

void TMainWindow::BackgroundColorDialog() {
  if (const std::optional<TColor> color = dialogs_.PickColor(ToColor(ui_->BackgroundSwatch->Color()), custom_colors_))
    ui_->BackgroundSwatch->SetColor(FromColor(*color));
}

void TMainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!LocalFilePaths(*event->mimeData()).empty()) event->acceptProposedAction();
}

void TMainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (!LocalFilePaths(*event->mimeData()).empty()) event->acceptProposedAction();
}

void TMainWindow::dropEvent(QDropEvent* event) {
  const std::vector<std::string> paths = LocalFilePaths(*event->mimeData());
  if (paths.empty()) return;
  AddSourcePaths(paths);
  event->acceptProposedAction();
}

void TMainWindow::closeEvent(QCloseEvent* event) {
  if (run_->Running() && !dialogs_.AskYesNo("A run is in progress. Stop after the running files?")) {
    event->ignore();
    return;
  }
  memory_->WindowClosing();
  // Nothing more is launched; the running workers finish their file before the process ends.
  run_->Stop();
  event->accept();
}

}  // namespace pellavo
