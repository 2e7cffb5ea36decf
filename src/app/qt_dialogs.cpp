#include "app/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

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

}  // namespace pellavo
