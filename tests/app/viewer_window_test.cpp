#include <QElapsedTimer>
#include <QListView>
#include <QSignalSpy>
#include <filesystem>

#include "app/picture_view.h"
#include "app/viewer_window.h"
#include "app/window_fixture.h"
#include "formats/jpeg/jpeg.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

// A smooth picture whose every pixel differs from the viewer's background.
TColor32 Smooth(int32_t x, int32_t y) { return ArgbColor(0xFF, uint8_t(40 + x / 8), uint8_t(60 + y / 8), 200); }

void WriteJpeg(const std::string& path, int32_t w, int32_t h) {
  TJPEGImage jpeg;
  jpeg.Assign(test::MakeBitmap32(w, h, Smooth));
  jpeg.WriteToFile(path);
}

class Viewer : public test::WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    viewer = window->findChild<TViewerWindow*>("TForm2");
    ASSERT_NE(viewer, nullptr);
    image = viewer->findChild<TPictureView*>("Image1");
    ASSERT_NE(image, nullptr);
  }

  // Double-clicks the list entry at row, the way a user shows it in the viewer.
  void DoubleClickEntry(int row) {
    auto* list = Find<QListView>("ListBox1");
    const QModelIndex index = list->model()->index(row, 0);
    ASSERT_TRUE(index.isValid()) << "no entry " << row;
    list->scrollTo(index);
    const QPoint at = list->visualRect(index).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  }
  // The colour the viewer shows at a point of its picture.
  QColor Shown(QPoint at) { return image->grab().toImage().pixelColor(at); }
  std::string Caption() { return viewer->windowTitle().toStdString(); }

  TViewerWindow* viewer = nullptr;
  TPictureView* image = nullptr;
  test::TTempDir dir;
};

TEST_F(Viewer, IsMadeHiddenAsASmallStayOnTopWindowWithOnlyACloseButton) {
  EXPECT_FALSE(viewer->isVisible());
  EXPECT_EQ(Caption(), "Viewer");
  EXPECT_EQ(viewer->size(), QSize(300, 225));
  EXPECT_EQ(image->geometry(), QRect(0, 0, 300, 225));
  const Qt::WindowFlags flags = viewer->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(image->accessibleName().isEmpty());
}

TEST_F(Viewer, ShowsEntriesScaledToFitWithTheirFullSizeAndKeepsItsPlace) {
  WriteJpeg(dir.File("photo.jpg"), 1024, 768);
  test::WritePatternBmp(dir.File("small.bmp"), 40, 30);
  window->AddSourcePaths({dir.File("photo.jpg"), dir.File("small.bmp")});

  DoubleClickEntry(0);
  ASSERT_TRUE(viewer->isVisible());
  EXPECT_EQ(Caption(), "Viewer -1024 x 768");
  EXPECT_EQ(viewer->FileName(), dir.File("photo.jpg"));
  EXPECT_EQ(image->PictureRect(), QRect(0, 0, 300, 225)) << "the width fills the area, the height is 225";
  const QColor corner = Shown(QPoint(299, 224));
  EXPECT_NEAR(corner.blue(), 200, 8) << "the picture reaches the bottom right corner";
  // The first showing is centred on the main window.
  const QRect main = window->frameGeometry(), shown = viewer->frameGeometry();
  EXPECT_LE(std::abs(2 * shown.left() + shown.width() - 2 * main.left() - main.width()), 1);
  EXPECT_LE(std::abs(2 * shown.top() + shown.height() - 2 * main.top() - main.height()), 1);

  // A second entry replaces the picture and the caption; the window stays where it is.
  viewer->move(30, 40);
  const QPoint place = viewer->pos();
  DoubleClickEntry(1);
  EXPECT_EQ(Caption(), "Viewer -40 x 30");
  EXPECT_EQ(image->PictureRect(), QRect(0, 0, 40, 30)) << "a smaller picture is shown unscaled";
  EXPECT_EQ(Shown(QPoint(0, 0)).rgb(), test::PatternPixel(0, 0));
  EXPECT_EQ(Shown(QPoint(39, 29)).rgb(), test::PatternPixel(39, 29));
  EXPECT_EQ(Shown(QPoint(45, 35)), viewer->palette().color(QPalette::Window));
  EXPECT_EQ(viewer->pos(), place);

  // Resizing fits the picture again.
  viewer->resize(20, 60);
  EXPECT_EQ(image->PictureRect(), QRect(0, 0, 20, 15));

  // Closed and shown again, it comes back where it was closed.
  viewer->close();
  EXPECT_FALSE(viewer->isVisible());
  DoubleClickEntry(0);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_EQ(viewer->pos(), place);
}

TEST_F(Viewer, ALargeJpegIsDecodedReducedAndAgainFinerWhenTheViewerGrows) {
  WriteJpeg(dir.File("large.jpg"), 2400, 1800);
  window->AddSourcePaths({dir.File("large.jpg")});
  DoubleClickEntry(0);
  EXPECT_EQ(Caption(), "Viewer -2400 x 1800") << "the caption gives the full size";
  EXPECT_EQ(image->Image().size(), QSize(300, 225)) << "decoded at an eighth";

  viewer->resize(700, 525);
  EXPECT_EQ(image->PictureRect(), QRect(0, 0, 700, 525));
  EXPECT_EQ(image->Image().size(), QSize(1200, 900)) << "a quarter (600 x 450) is too small, so a half";
  viewer->resize(300, 225);
  EXPECT_EQ(image->Image().size(), QSize(1200, 900)) << "shrinking decodes nothing again";
}

TEST_F(Viewer, AFileThatFailsToLoadIsReportedAndChangesNothingShown) {
  test::WritePatternBmp(dir.File("good.bmp"), 8, 6);
  test::WriteBytes(dir.File("photo.jpe"), {1, 2, 3});
  std::filesystem::copy_file("tests/data/gif/cut-descriptor.gif", dir.File("cut.gif"));
  window->AddSourcePaths({dir.File("photo.jpe"), dir.File("good.bmp"), dir.File("cut.gif")});
  ASSERT_EQ(Find<QListView>("ListBox1")->model()->rowCount(), 3);

  // Hidden, it stays hidden.
  DoubleClickEntry(0);
  // The error's own text, then the file it is about.
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Unknown picture file extension (.jpe)\n\n" + dir.File("photo.jpe")});
  EXPECT_FALSE(viewer->isVisible());
  EXPECT_EQ(Caption(), "Viewer");

  // Shown, it keeps its caption and its picture; only the file name is the new one.
  DoubleClickEntry(1);
  ASSERT_TRUE(viewer->isVisible());
  DoubleClickEntry(2);
  EXPECT_EQ(dialogs.messages.back(), "Premature end of data\n\n" + dir.File("cut.gif"));
  EXPECT_EQ(Caption(), "Viewer -8 x 6");
  EXPECT_EQ(viewer->accessibleName().toStdString(), Caption()) << "announced as shown";
  EXPECT_EQ(image->PictureRect(), QRect(0, 0, 8, 6));
  EXPECT_EQ(Shown(QPoint(7, 5)).rgb(), test::PatternPixel(7, 5));
  EXPECT_EQ(viewer->FileName(), dir.File("cut.gif"));

  // A damaged JPEG: the library's error, its cause in words, and the file.
  WriteJpeg(dir.File("whole.jpg"), 64, 48);
  const std::vector<uint8_t> bytes = test::ReadBytes(dir.File("whole.jpg"));
  test::WriteBytes(dir.File("broken.jpg"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2));
  window->AddSourcePaths({dir.File("broken.jpg")});
  DoubleClickEntry(3);
  const std::string& message = dialogs.messages.back();
  EXPECT_EQ(message.rfind("JPEG error #", 0), 0u) << message;
  const size_t cause = message.find(": ");
  ASSERT_NE(cause, std::string::npos) << message;
  EXPECT_TRUE(message.ends_with("\n\n" + dir.File("broken.jpg"))) << message;
  EXPECT_GT(message.size(), cause + 2 + 2 + dir.File("broken.jpg").size()) << "a cause in words: " << message;
  EXPECT_EQ(Caption(), "Viewer -8 x 6");
}

TEST_F(Viewer, AnAnimatedGifMovesOnToItsSecondFrameAfterItsDelay) {
  window->AddSourcePaths({"tests/data/gif/animated.gif"});
  QSignalSpy frames(viewer, &TViewerWindow::FrameShown);
  QElapsedTimer clock;
  clock.start();
  DoubleClickEntry(0);
  EXPECT_EQ(Caption(), "Viewer -4 x 4");
  // The first frame is red all over; the second puts green at (2, 2) and (3, 3).
  EXPECT_EQ(Shown(QPoint(2, 2)), QColor(255, 0, 0));
  ASSERT_TRUE(frames.wait(10000));
  EXPECT_GE(clock.elapsed(), 100) << "the first frame stays for its 10 hundredths";
  EXPECT_EQ(frames.first().first().toInt(), 1);
  EXPECT_EQ(Shown(QPoint(2, 2)), QColor(0, 255, 0));
  EXPECT_EQ(Shown(QPoint(3, 2)), QColor(255, 0, 0)) << "transparent in the second frame";
}

TEST_F(Viewer, ADoubleClickOnThePictureOpensTheFileOnTheDesktop) {
  test::WritePatternBmp(dir.File("a.bmp"), 8, 6);
  window->AddSourcePaths({dir.File("a.bmp")});
  DoubleClickEntry(0);
  QTest::mouseDClick(image, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
  EXPECT_EQ(desktop.files, std::vector<std::string>{dir.File("a.bmp")});
}

}  // namespace
}  // namespace pellavo
