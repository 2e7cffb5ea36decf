#include <gtest/gtest.h>

#include <QDir>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTreeView>

#include "app/folder_dialog.h"
#include "app/qt_paths.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

TEST(FolderDialog, OffersTheStartFolderAndReturnsTheEditLineAsAnAbsolutePath) {
  test::TTempDir dir;
  const struct {
    const char* what;
    QString start;
    QString typed;  // empty: leave the edit line as it opens
    QString expected;
    QString tree;  // where the folder tree opens
  } cases[] = {
      {"an existing start folder", FromPath(dir.Path()), "", FromPath(dir.Path()), FromPath(dir.Path())},
      {"a start folder that does not exist yet", FromPath(dir.File("new/deeper")), "", FromPath(dir.File("new/deeper")),
       FromPath(dir.Path())},
      {"a new folder typed in full", "", FromPath(dir.File("a/b")), FromPath(dir.File("a/b")), QDir::currentPath()},
      {"a relative name is taken in the current folder", "", "rel/x", QDir::current().absoluteFilePath("rel/x"),
       QDir::currentPath()},
  };
  for (const auto& c : cases) {
    TFolderDialog dialog(c.start, nullptr);
    auto* edit = dialog.findChild<QLineEdit*>("FolderEdit");
    ASSERT_NE(edit, nullptr);
    if (!c.typed.isEmpty()) edit->setText(c.typed);
    EXPECT_EQ(dialog.Folder(), c.expected) << c.what;
    auto* tree = dialog.findChild<QTreeView*>();
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(qobject_cast<QFileSystemModel*>(tree->model())->filePath(tree->currentIndex()), c.tree) << c.what;
  }
}

}  // namespace
}  // namespace pellavo
