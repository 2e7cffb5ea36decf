#include "app/qt_dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "app/control_binding.h"
#include "app/folder_dialog.h"
#include "app/qt_paths.h"

namespace pellavo {

void TQtDialogs::Message(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), QString::fromStdString(text), QMessageBox::Ok,
                  parent_);
  box.exec();
}

bool TQtDialogs::AskYesNo(const std::string& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

bool TQtDialogs::AskToProceed(const std::string& text, const std::string& proceed) {
  QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), QString::fromStdString(text), QMessageBox::NoButton,
                  parent_);
  QPushButton* go = box.addButton(QString::fromStdString(proceed), QMessageBox::DestructiveRole);
  QPushButton* cancel = box.addButton(QMessageBox::Cancel);
  // Enter alone must not destroy anything.
  box.setDefaultButton(cancel);
  box.setEscapeButton(cancel);
  box.exec();
  return box.clickedButton() == go;
}

std::optional<std::vector<std::string>> TQtDialogs::OpenFiles(const std::string& filter) {
  const QStringList picked = QFileDialog::getOpenFileNames(parent_, QString(), QString(), QString::fromStdString(filter));
  if (picked.isEmpty()) return std::nullopt;
  std::vector<std::string> paths;
  for (const QString& p : picked) paths.push_back(ToPath(p));
  return paths;
}

std::optional<std::string> TQtDialogs::PickFolder(const std::string& start_folder) {
  TFolderDialog dialog(FromPath(start_folder), parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return ToPath(dialog.Folder());
}

std::optional<TColor> TQtDialogs::PickColor(TColor initial, TCustomColors& custom) {
  // Qt keeps one set of custom colours for the whole process and changes it as soon as the user
  // adds one, OK or not; the dialog is given ours each time and they are taken back only on OK.
  for (int i = 0; i < QColorDialog::customCount(); ++i)
    QColorDialog::setCustomColor(i, i < int(custom.size()) ? FromColor(custom[size_t(i)]) : QColor(Qt::white));
  QColorDialog dialog(FromColor(initial), parent_);
  // Qt's own dialog: its custom-colour area is always open, and it can hand back its colours.
  dialog.setOption(QColorDialog::DontUseNativeDialog);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  for (int i = 0; i < int(custom.size()) && i < QColorDialog::customCount(); ++i)
    custom[size_t(i)] = ToColor(QColorDialog::customColor(i));
  return ToColor(dialog.currentColor());
}

}  // namespace pellavo
