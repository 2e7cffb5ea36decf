#include "app/folder_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTreeView>
#include <QVBoxLayout>

namespace pellavo {

TFolderDialog::TFolderDialog(const QString& start_folder, QWidget* parent)
    : QDialog(parent), model_(new QFileSystemModel(this)), tree_(new QTreeView(this)), edit_(new QLineEdit(this)) {
  setWindowTitle(QStringLiteral("Select Directory"));
  setObjectName(QStringLiteral("SD"));
  resize(420, 440);

  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  model_->setRootPath(QDir::rootPath());
  tree_->setModel(model_);
  for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
  tree_->setHeaderHidden(true);
  tree_->setAccessibleName(QStringLiteral("Folders"));
  edit_->setObjectName(QStringLiteral("FolderEdit"));
  edit_->setAccessibleName(QStringLiteral("Folder"));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) edit_->setText(QDir::toNativeSeparators(model_->filePath(current)));
          });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(edit_);
  layout->addWidget(tree_, 1);
  layout->addWidget(buttons);

  const QFileInfo start(start_folder);
  ShowFolder(!start_folder.isEmpty() && start.isDir() && start.isExecutable() ? start.absoluteFilePath()
                                                                               : QDir::currentPath());
  // A start folder that does not exist yet is still what the edit line offers.
  if (!start_folder.isEmpty()) edit_->setText(start_folder);
  edit_->setFocus();
}

void TFolderDialog::ShowFolder(const QString& folder) {
  const QModelIndex index = model_->index(folder);
  tree_->setCurrentIndex(index);
  tree_->scrollTo(index);
  tree_->expand(index);
}

QString TFolderDialog::Folder() const {
  const QString text = edit_->text();
  if (text.isEmpty()) return text;
  return QDir::cleanPath(QDir::current().absoluteFilePath(text));
}

}  // namespace pellavo
