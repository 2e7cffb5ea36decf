#include <QCheckBox>
#include <QClipboard>
#include <QDropEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QUrl>

#include "app/file_filter.h"
#include "app/qt_paths.h"
#include "app/window_fixture.h"
#include "formats/registry.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

// A folder with images at two depths, a file that is no image and a hidden one.
class SourceListRoutes : public test::WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    for (const char* name : {"a.bmp", "b.PNG", "notes.txt", ".hidden.bmp", "sub/c.gif", "sub/deeper/d.jpg"}) {
      const std::string path = dir.File(name);
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      test::WriteBytes(path, {0});
    }
  }

  QListView* List() { return Find<QListView>("ListBox1"); }
  std::vector<std::string> Entries() {
    std::vector<std::string> entries;
    for (int row = 0; row < List()->model()->rowCount(); ++row)
      entries.push_back(ToPath(List()->model()->index(row, 0).data().toString()));
    return entries;
  }
  std::string CountLabel() { return Find<QLabel>("Label1")->text().toStdString(); }
  std::string Counted() { return "Files: " + std::to_string(Entries().size()); }

  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(List(), key, modifiers); }
  void SelectRows(std::initializer_list<int> rows, int caret) {
    auto* selection = List()->selectionModel();
    selection->clearSelection();
    selection->setCurrentIndex(List()->model()->index(caret, 0), QItemSelectionModel::NoUpdate);
    for (int row : rows) selection->select(List()->model()->index(row, 0), QItemSelectionModel::Select);
  }

  test::TTempDir dir;
};

TEST_F(SourceListRoutes, DroppedFoldersExpandUnderIncSubFolders) {
  const struct {
    bool subfolders;
    std::vector<std::string> added;
  } cases[] = {
      {false, {"a.bmp", "b.PNG"}},
      {true, {"a.bmp", "b.PNG", "sub/c.gif", "sub/deeper/d.jpg"}},
  };
  for (const auto& c : cases) {
    Find<QCheckBox>("incsubs")->setChecked(c.subfolders);
    const size_t before = Entries().size();
    EXPECT_TRUE(Drop({dir.Path()}));
    std::vector<std::string> expected;
    for (const std::string& name : c.added) expected.push_back(dir.File(name));
    const std::vector<std::string> entries = Entries();
    EXPECT_EQ(std::vector<std::string>(entries.begin() + static_cast<long>(before), entries.end()), expected);
    EXPECT_EQ(CountLabel(), Counted());
  }
}

TEST_F(SourceListRoutes, DroppedFilesPassByTheirExtensionAndRepeat) {
  EXPECT_TRUE(Drop({dir.File("a.bmp"), dir.File("notes.txt"), dir.File("a.bmp"), dir.File(".hidden.bmp"), dir.File("missing")}));
  EXPECT_EQ(Entries(), (std::vector<std::string>{dir.File("a.bmp"), dir.File("a.bmp"), dir.File(".hidden.bmp")}));
  EXPECT_EQ(CountLabel(), "Files: 3");
}

TEST_F(SourceListRoutes, SourceFilesAppendsWhatWasPickedWithoutTests) {
  dialogs.open_answers = {std::vector<std::string>{dir.File("notes.txt"), "/no/such/file.bmp"}, std::nullopt};
  Click("Button5");
  EXPECT_EQ(Entries(), (std::vector<std::string>{dir.File("notes.txt"), "/no/such/file.bmp"}));
  EXPECT_EQ(CountLabel(), "Files: 2");
  ASSERT_EQ(dialogs.open_filters.size(), 1u);
  EXPECT_EQ(dialogs.open_filters[0], QtFileFilter(FileFormatFilter(TGraphic::StaticClass())));
  Click("Button5");  // cancelled
  EXPECT_EQ(Entries().size(), 2u);
}

TEST_F(SourceListRoutes, SourceFolderScansTheChosenFolder) {
  dialogs.folder_answers = {dir.File("sub"), std::nullopt};
  Click("Button6");
  EXPECT_EQ(Entries(), std::vector<std::string>{dir.File("sub/c.gif")});
  EXPECT_EQ(CountLabel(), "Files: 1");
  Click("Button6");  // cancelled
  EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(SourceListRoutes, CommandLineArgumentsInOrder) {
  window->AddSourcePaths({dir.File("sub/c.gif"), dir.Path(), dir.File("nothing-here")});
  EXPECT_EQ(Entries(), (std::vector<std::string>{dir.File("sub/c.gif"), dir.File("a.bmp"), dir.File("b.PNG")}));
  EXPECT_EQ(CountLabel(), "Files: 3");
}

TEST_F(SourceListRoutes, PasteTakesAFileListOverTextAndTextReplacesTheList) {
  window->AddSourcePaths({dir.File("a.bmp")});
  QClipboard* clipboard = QGuiApplication::clipboard();

  // A file manager's copy: a file list that also reads as text. The list is appended.
  auto* files = new QMimeData;
  files->setUrls({QUrl::fromLocalFile(FromPath(dir.File("b.PNG"))), QUrl::fromLocalFile(FromPath(dir.File("sub")))});
  files->setText("ignored.png");
  clipboard->setMimeData(files);
  Key(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Entries(), (std::vector<std::string>{dir.File("a.bmp"), dir.File("b.PNG"), dir.File("sub/c.gif")}));
  EXPECT_EQ(CountLabel(), "Files: 3");

  // Plain text replaces the list by its lines, keeping only names with a registered extension
  // of at least three letters, whether or not they exist.
  clipboard->setText("/x/one.jpg\r\n/x/two.jp\n/x/folder\r/x/three.jpeg\n");
  Key(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"/x/one.jpg", "/x/three.jpeg"}));
  EXPECT_EQ(CountLabel(), "Files: 2");

  clipboard->setText("");
  Key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_TRUE(Entries().empty());
  EXPECT_EQ(CountLabel(), "Files: 0");
}

TEST_F(SourceListRoutes, CopyPutsTheSelectedEntriesOnTheClipboardInListOrder) {
  window->AddSourcePaths({dir.File("a.bmp"), dir.File("b.PNG"), dir.File("sub/c.gif")});
  SelectRows({2, 0}, 1);
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
            dir.File("a.bmp") + "\r\n" + dir.File("sub/c.gif") + "\r\n");

  List()->selectionModel()->clearSelection();
  Key(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "");
}

TEST_F(SourceListRoutes, DeleteRemovesTheCaretEntryAndCtrlDeleteTheSelectedOnes) {
  std::vector<std::string> five;
  for (const char* name : {"0.bmp", "1.bmp", "2.bmp", "3.bmp", "4.bmp"}) five.push_back(dir.File(name));
  dialogs.open_answers = {five};
  Click("Button5");

  SelectRows({1, 3}, 4);
  Key(Qt::Key_Delete);
  EXPECT_EQ(Entries(), (std::vector<std::string>{five[0], five[1], five[2], five[3]}));
  EXPECT_EQ(CountLabel(), "Files: 4");

  SelectRows({1, 3}, 0);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(Entries(), (std::vector<std::string>{five[0], five[2]}));
  EXPECT_EQ(CountLabel(), "Files: 2");

  Key(Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(List()->selectionModel()->selectedRows().size(), 2);
  Key(Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_TRUE(Entries().empty());
  EXPECT_EQ(CountLabel(), "Files: 0");

  Key(Qt::Key_Delete);  // an empty list stays empty
  EXPECT_EQ(CountLabel(), "Files: 0");
}

}  // namespace
}  // namespace pellavo
