#include <QAbstractItemModel>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>

#include "app/results_view.h"
#include "app/window_fixture.h"
#include "formats/jpeg/jpeg.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

void WriteJpeg(const std::string& path) {
  TJPEGImage jpeg;
  jpeg.Assign(test::MakeBitmap32(64, 48, test::PatternPixel));
  jpeg.WriteToFile(path);
}

// The first half of a good JPEG: the library stops at the missing data.
void WriteTruncatedJpeg(const std::string& path) {
  WriteJpeg(path);
  const std::vector<uint8_t> bytes = test::ReadBytes(path);
  test::WriteBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2));
}

class RunResults : public test::WindowFixture {
 protected:
  // Real workers; the sources of every launch are recorded.
  void OpenRecording() {
    Open([this](const TWorkerOrder& order) {
      launched.push_back(order.Source);
      return MakeStandardWorker(order);
    });
  }
  void RunToTheEnd() {
    Find<QSpinBox>("SpinEdit1")->setValue(32);  // small outputs: the sizes do not matter here
    Click("Button1");
    ASSERT_TRUE(WaitUntil([this] { return !window->Run().Running(); }));
  }
  QVariant Data(int row, int role) {
    QAbstractItemModel* model = Find<QListView>("ListBox1")->model();
    return model->data(model->index(row, 0), role);
  }
  std::string Text(int row, int role) { return ToPath(Data(row, role).toString()); }
  // The whole summary: the label itself may end in an ellipsis.
  std::string Summary() { return ToPath(Find<QLabel>("Label5")->accessibleName()); }
  std::string Status() { return ToPath(Find<QStatusBar>("StatusBar1")->currentMessage()); }
  void ChooseFormat(int index) {
    QRadioButton* item = Find("RG3")->findChildren<QRadioButton*>()[index];
    QTest::mouseClick(item, Qt::LeftButton, Qt::NoModifier, QPoint(6, item->height() / 2));
  }

  std::vector<std::string> launched;
};

TEST_F(RunResults, AFailedFileIsCountedExplainedOnItsEntryAndCanBeRetriedAlone) {
  OpenRecording();
  test::TTempDir src, out;
  test::WritePatternBmp(src.File("good.bmp"), 64, 48);
  WriteTruncatedJpeg(src.File("broken.jpg"));
  window->AddSourcePaths({src.File("good.bmp"), src.File("broken.jpg")});
  Find<QLineEdit>("Edit1")->setText(FromPath(out.Path()));
  ChooseFormat(3);  // .png
  EXPECT_FALSE(Find<QToolButton>("ResultsButton")->isVisible()) << "no results before a run";

  RunToTheEnd();
  EXPECT_EQ(out.List(), std::vector<std::string>{"good.png"});
  EXPECT_EQ(Summary().rfind("Files processed: 2 in ", 0), 0u) << Summary();
  EXPECT_TRUE(Summary().ends_with(" secs, 1 written, 1 failed")) << Summary();
  EXPECT_EQ(Status(), Summary());

  // The list's text stays the path; the mark, the tool tip and the description say how it went.
  EXPECT_EQ(Text(1, Qt::DisplayRole), src.File("broken.jpg"));
  const std::string failure = Text(1, Qt::ToolTipRole);
  const std::string prefix = src.File("broken.jpg") + ": JPEG error #";
  ASSERT_EQ(failure.rfind(prefix, 0), 0u) << failure;
  const size_t cause = failure.find(": ", prefix.size());
  ASSERT_NE(cause, std::string::npos) << "the cause follows the error: " << failure;
  EXPECT_GT(failure.size(), cause + 2) << failure;
  EXPECT_EQ(Text(1, Qt::AccessibleDescriptionRole), failure);
  EXPECT_EQ(Text(0, Qt::ToolTipRole), src.File("good.bmp") + ": written as " + out.File("good.png"));
  EXPECT_FALSE(Data(0, Qt::DecorationRole).isNull());
  EXPECT_FALSE(Data(1, Qt::DecorationRole).isNull());
  EXPECT_NE(Data(0, Qt::DecorationRole).value<QIcon>().cacheKey(), Data(1, Qt::DecorationRole).value<QIcon>().cacheKey());

  // The results view lists the failure, copies it as text and opens where the outputs went.
  auto* results_button = Find<QToolButton>("ResultsButton");
  ASSERT_TRUE(results_button->isVisible());
  QTest::mouseClick(results_button, Qt::LeftButton);
  TResultsView& results = window->Results();
  ASSERT_TRUE(results.isVisible());
  EXPECT_EQ(ToPath(results.findChild<QPlainTextEdit*>("ResultsText")->toPlainText()), failure);
  QTest::mouseClick(results.findChild<QPushButton*>("ResultsCopy"), Qt::LeftButton);
  EXPECT_EQ(ToPath(QGuiApplication::clipboard()->text()), Summary() + "\n" + failure + "\n");
  QTest::mouseClick(results.findChild<QPushButton*>("OpenOutputFolder"), Qt::LeftButton);
  EXPECT_EQ(desktop.folders, std::vector<std::string>{out.Path()});

  // Mended, the failed file alone runs again; the written one keeps its mark.
  WriteJpeg(src.File("broken.jpg"));
  launched.clear();
  auto* retry = results.findChild<QPushButton*>("RetryFailed");
  ASSERT_TRUE(retry->isEnabled());
  QTest::mouseClick(retry, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([this] { return !window->Run().Running(); }));
  EXPECT_EQ(launched, std::vector<std::string>{src.File("broken.jpg")});
  EXPECT_EQ(out.List(), (std::vector<std::string>{"broken.png", "good.png"}));
  EXPECT_EQ(Summary().rfind("Files processed: 1 in ", 0), 0u) << Summary();
  EXPECT_TRUE(Summary().ends_with(" secs")) << "nothing to add: " << Summary();
  EXPECT_EQ(Text(1, Qt::ToolTipRole), src.File("broken.jpg") + ": written as " + out.File("broken.png"));
  EXPECT_EQ(Text(0, Qt::ToolTipRole), src.File("good.bmp") + ": written as " + out.File("good.png"));

  QTest::mouseClick(results_button, Qt::LeftButton);
  EXPECT_EQ(results.findChild<QPlainTextEdit*>("ResultsText")->toPlainText(), "Every file was written.");
  EXPECT_FALSE(retry->isEnabled());
}

TEST_F(RunResults, OutputsBesideTheirSourcesOpenTheFolderOfTheFirst) {
  test::TTempDir src;
  test::WritePatternBmp(src.File("a.bmp"), 8, 8);
  window->AddSourcePaths({src.File("a.bmp")});
  ChooseFormat(3);  // .png
  RunToTheEnd();
  QTest::mouseClick(Find<QToolButton>("ResultsButton"), Qt::LeftButton);
  QTest::mouseClick(window->Results().findChild<QPushButton*>("OpenOutputFolder"), Qt::LeftButton);
  EXPECT_EQ(desktop.folders, std::vector<std::string>{src.Path() + "/"});
}

TEST_F(RunResults, StartWithAnEmptyListSaysSo) {
  Click("Button1");
  EXPECT_EQ(Status(), "Nothing to process: the source list is empty");
  EXPECT_FALSE(window->Run().Running());
}

// "Overwrite files" with outputs landing on the run's own sources asks once; Cancel writes
// nothing, Replace goes ahead.
TEST_F(RunResults, ReplacingOriginalsIsAskedExactlyWhenOutputsWouldReplaceSources) {
  const struct {
    const char* what;
    bool overwrite;
    bool destination_is_source_folder;
    bool other_destination;
    int format;  // RG3 index
    bool asked;
  } cases[] = {
      {"same format beside the sources", true, false, false, 0, true},
      {"the destination is the sources' folder", true, true, false, 0, true},
      {"another destination", true, false, true, 0, false},
      {"another format beside the sources", true, false, false, 3, false},
      {"overwriting off", false, false, false, 0, false},
  };
  for (const auto& c : cases) {
    for (const bool replace : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.what << (replace ? ", Replace" : ", Cancel"));
      OpenRecording();
      launched.clear();
      test::TTempDir src, other;
      test::WritePatternBmp(src.File("a.bmp"), 64, 48);
      test::WritePatternBmp(src.File("b.bmp"), 64, 48);
      const std::vector<uint8_t> a = test::ReadBytes(src.File("a.bmp")), b = test::ReadBytes(src.File("b.bmp"));
      window->AddSourcePaths({src.Path()});
      Find<QCheckBox>("CheckBox1")->setChecked(c.overwrite);
      if (c.destination_is_source_folder) Find<QLineEdit>("Edit1")->setText(FromPath(src.Path()));
      if (c.other_destination) Find<QLineEdit>("Edit1")->setText(FromPath(other.Path()));
      ChooseFormat(c.format);
      dialogs.questions.clear();
      if (c.asked) dialogs.proceed_answers = {replace};

      RunToTheEnd();
      if (!c.asked) {
        EXPECT_TRUE(dialogs.questions.empty());
        EXPECT_EQ(launched.size(), 2u);
        if (replace) break;  // nothing asked: one pass is enough
        continue;
      }
      EXPECT_EQ(dialogs.questions, std::vector<std::string>{"Replace 2 original files? The originals cannot be recovered."});
      EXPECT_EQ(dialogs.proceed_captions.back(), "Replace");
      EXPECT_EQ(test::ReadBytes(src.File("a.bmp")) == a, !replace);
      EXPECT_EQ(test::ReadBytes(src.File("b.bmp")) == b, !replace);
      EXPECT_EQ(launched.size(), replace ? 2u : 0u);
      EXPECT_EQ(src.List(), (std::vector<std::string>{"a.bmp", "b.bmp"}));
    }
  }
}

}  // namespace
}  // namespace pellavo
