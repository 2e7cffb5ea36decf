#include "app/results_view.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qt_paths.h"

namespace pellavo {
namespace {

QPushButton* AddButton(QDialogButtonBox& box, const char* name, const QString& text, const QString& accessible,
                       QDialogButtonBox::ButtonRole role) {
  QPushButton* button = box.addButton(text, role);
  button->setObjectName(QString::fromLatin1(name));
  button->setAccessibleName(accessible);
  // Enter in the text must not retry or close anything.
  button->setAutoDefault(false);
  return button;
}

}  // namespace

TResultsView::TResultsView(QWidget* parent)
    : QDialog(parent), summary_(new QLabel(this)), lines_(new QPlainTextEdit(this)) {
  setObjectName(QStringLiteral("ResultsView"));
  setWindowTitle(QStringLiteral("Results"));
  setAccessibleName(QStringLiteral("Results"));
  setModal(false);

  summary_->setObjectName(QStringLiteral("ResultsSummary"));
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  lines_->setObjectName(QStringLiteral("ResultsText"));
  lines_->setAccessibleName(QStringLiteral("Files not written"));
  lines_->setReadOnly(true);
  lines_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  lines_->setLineWrapMode(QPlainTextEdit::NoWrap);

  auto* buttons = new QDialogButtonBox(this);
  retry_ = AddButton(*buttons, "RetryFailed", QStringLiteral("&Retry failed"), QStringLiteral("Retry failed"),
                     QDialogButtonBox::ActionRole);
  QPushButton* open = AddButton(*buttons, "OpenOutputFolder", QStringLiteral("&Open output folder"),
                                QStringLiteral("Open output folder"), QDialogButtonBox::ActionRole);
  QPushButton* copy =
      AddButton(*buttons, "ResultsCopy", QStringLiteral("&Copy"), QStringLiteral("Copy"), QDialogButtonBox::ActionRole);
  QPushButton* close = AddButton(*buttons, "ResultsClose", QStringLiteral("Close"), QStringLiteral("Close"),
                                 QDialogButtonBox::RejectRole);
  retry_->setAccessibleDescription(QStringLiteral("Run the files that failed again"));
  open->setAccessibleDescription(QStringLiteral("Show the folder the outputs were written to"));
  copy->setAccessibleDescription(QStringLiteral("Copy the summary and the files not written as text"));
  connect(retry_, &QPushButton::clicked, this, &TResultsView::RetryRequested);
  connect(open, &QPushButton::clicked, this, &TResultsView::OpenFolderRequested);
  connect(copy, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(Text()); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(lines_, 1);
  layout->addWidget(buttons);
  resize(560, 260);
}

void TResultsView::SetResults(const std::string& summary, const std::vector<std::string>& lines, bool can_retry) {
  summary_->setText(FromPath(summary));
  QStringList text;
  for (const std::string& line : lines) text << FromPath(line);
  lines_->setPlainText(lines.empty() ? QStringLiteral("Every file was written.") : text.join(QLatin1Char('\n')));
  retry_->setEnabled(can_retry);
}

QString TResultsView::Text() const { return summary_->text() + QLatin1Char('\n') + lines_->toPlainText() + QLatin1Char('\n'); }

}  // namespace pellavo
