#include "app/folder_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTimer>
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
            if (current.isValid() && !revealing_) edit_->setText(QDir::toNativeSeparators(model_->filePath(current)));
          });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(edit_);
  layout->addWidget(tree_, 1);
  layout->addWidget(buttons);

  // The tree shows the start folder, or the nearest folder above it that exists; the edit line
  // offers the start folder as given, even one that does not exist yet.
  shown_ = QDir::currentPath();
  if (!start_folder.isEmpty()) {
    QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(start_folder));
    for (QFileInfo info(folder); !info.isDir() && info.path() != folder; info.setFile(folder)) folder = info.path();
    if (QFileInfo(folder).isDir() && QFileInfo(folder).isExecutable()) shown_ = folder;
  }
  // The model reads folders in the background, adds their rows in batches and sorts them later:
  // whenever rows arrive in a folder on the way or move, the start folder is revealed again,
  // until the user takes the tree in hand.
  reveal_.setSingleShot(true);
  reveal_.setInterval(0);
  connect(&reveal_, &QTimer::timeout, this, &TFolderDialog::ShowFolder);
  connect(model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent) {
    if (shown_.startsWith(model_->filePath(parent))) reveal_.start();
  });
  connect(model_, &QAbstractItemModel::layoutChanged, this, [this] { reveal_.start(); });  // sorted
  tree_->viewport()->installEventFilter(this);
  tree_->installEventFilter(this);
  ShowFolder();
  edit_->setText(start_folder.isEmpty() ? QDir::toNativeSeparators(shown_) : start_folder);
  edit_->setFocus();
}

void TFolderDialog::ShowFolder() {
  const QModelIndex index = model_->index(shown_);
  revealing_ = true;
  tree_->setCurrentIndex(index);
  revealing_ = false;
  for (QModelIndex above = index.parent(); above.isValid(); above = above.parent()) tree_->expand(above);
  tree_->expand(index);
  tree_->scrollTo(index);
}

void TFolderDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Scrolling needs the tree's final size, which it has only now.
  reveal_.start();
}

bool TFolderDialog::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::MouseButtonPress || type == QEvent::KeyPress || type == QEvent::Wheel) {
    // From now on the tree shows what the user chose.
    disconnect(model_, nullptr, this, nullptr);
    reveal_.stop();
  }
  return QDialog::eventFilter(watched, event);
}

QString TFolderDialog::Folder() const {
  const QString text = edit_->text();
  if (text.isEmpty()) return text;
  return QDir::cleanPath(QDir::current().absoluteFilePath(text));
}

}  // namespace pellavo
