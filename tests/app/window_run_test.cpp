#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QUrl>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/qt_paths.h"
#include "app/window_fixture.h"
#include "core/files.h"
#include "formats/all/animations.h"
#include "formats/picture.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using namespace std::chrono_literals;

// Opens once released; workers that wait on it keep a run going for as long as a test needs.
class TGate {
 public:
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// A worker that does nothing but wait for its gate (if any) and report its output path.
class TProbeWorker final : public TBatchWorker {
 public:
  TProbeWorker(const TWorkerOrder& order, TGate* gate) : TBatchWorker(order), gate_(gate) {}

 protected:
  TWorkerReport Work() override {
    if (gate_) gate_->Wait();
    return {Order().Output, {Order().Source, Order().Output, "", true, false}};
  }

 private:
  TGate* gate_;
};

class WindowRun : public test::WindowFixture {
 protected:
  // Probe workers that record their orders; on_launch runs on the main thread at each launch.
  void OpenWithProbes(TGate* gate = nullptr) {
    Open([this, gate](const TWorkerOrder& order) -> std::unique_ptr<TBatchWorker> {
      orders.push_back(order);
      if (on_launch) on_launch(static_cast<int>(orders.size()));
      return std::make_unique<TProbeWorker>(order, gate);
    });
  }
  void Entries(int n) {
    std::vector<std::string> paths;
    for (int i = 0; i < n; ++i) paths.push_back("/src/img" + std::to_string(i) + ".bmp");
    dialogs.open_answers = {paths};
    Click("Button5");
  }
  bool RunOver() { return !window->Run().Running(); }
  std::string Text(const char* label) { return Find<QLabel>(label)->text().toStdString(); }
  void ChooseItem(const char* group, int index) {
    QRadioButton* item = Find(group)->findChildren<QRadioButton*>()[index];
    QTest::mouseClick(item, Qt::LeftButton, Qt::NoModifier, QPoint(6, item->height() / 2));
  }

  std::vector<TWorkerOrder> orders;
  std::function<void(int launched)> on_launch;
};

TEST_F(WindowRun, StartConvertsRealFilesAndShowsTheRunEnding) {
  test::TTempDir src, out;
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) test::WritePatternBmp(src.File(name), 64, 48);
  window->AddSourcePaths({src.Path()});
  Find<QLineEdit>("Edit1")->setText(FromPath(out.Path()));
  ChooseItem("RG3", 3);  // .png
  ChooseItem("RG1", 0);  // Width
  Find<QSpinBox>("SpinEdit1")->setValue(32);

  Click("Button1");
  ASSERT_TRUE(WaitUntil([this] { return RunOver(); }));

  for (const char* name : {"a.png", "b.png", "c.png"}) {
    TPicture picture;
    ASSERT_NO_THROW(picture.ReadFromFile(out.File(name))) << name;
    EXPECT_EQ(picture.Width(), 32) << name;
    EXPECT_EQ(picture.Height(), 24) << name;
  }
  EXPECT_EQ(out.List(), (std::vector<std::string>{"a.png", "b.png", "c.png"}));
  EXPECT_EQ(Text("Label3"), "Threads:0");
  EXPECT_EQ(Text("Label5").rfind("Files processed: 3 in ", 0), 0u) << Text("Label5");
  EXPECT_TRUE(Text("Label5").ends_with(" secs"));
  auto* bar = Find<QProgressBar>("ProgressBar1");
  EXPECT_EQ(bar->maximum(), 3);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_FALSE(Find("Button4")->isEnabled());
  EXPECT_TRUE(Find("Button1")->isEnabled());
  const std::string status = ToPath(Find<QStatusBar>("StatusBar1")->currentMessage());
  EXPECT_TRUE(status == out.File("a.png") || status == out.File("b.png") || status == out.File("c.png")) << status;
  // The end asks for attention without minimising the window.
  EXPECT_FALSE(window->isMinimized());
}

TEST_F(WindowRun, StopAfterAFewLaunchesWithOneThread) {
  OpenWithProbes();
  Entries(10);
  Find<QSpinBox>("SpinEdit2")->setValue(1);
  on_launch = [this](int launched) {
    if (launched == 3) queue.Post([this] { Click("Button4"); });
  };
  Click("Button1");
  ASSERT_TRUE(WaitUntil([this] { return RunOver(); }));
  EXPECT_EQ(orders.size(), 3u);
  EXPECT_EQ(Text("Label5").rfind("Files processed: 3 in ", 0), 0u) << Text("Label5");
  const std::string summary = Find<QLabel>("Label5")->accessibleName().toStdString();
  EXPECT_TRUE(summary.ends_with(" secs, stopped")) << summary;
  EXPECT_EQ(Find<QStatusBar>("StatusBar1")->currentMessage().toStdString(), summary);
  EXPECT_EQ(Find<QProgressBar>("ProgressBar1")->value(), 7);
  EXPECT_FALSE(Find("Button4")->isEnabled());
}

TEST_F(WindowRun, ClosingDuringARunAsksAndNoKeepsTheWindowAndTheRun) {
  TGate gate;
  OpenWithProbes(&gate);
  Entries(4);
  Find<QSpinBox>("SpinEdit2")->setValue(1);
  Click("Button1");
  ASSERT_TRUE(window->Run().Running());

  dialogs.yes_no_answers = {false};
  EXPECT_FALSE(window->close());
  EXPECT_EQ(dialogs.questions, std::vector<std::string>{"A run is in progress. Stop after the running files?"});
  EXPECT_TRUE(window->isVisible());
  gate.Open();
  ASSERT_TRUE(WaitUntil([this] { return RunOver(); }));
  EXPECT_EQ(orders.size(), 4u) << "the run went on to its end";
  EXPECT_TRUE(Text("Label5").ends_with(" secs")) << Text("Label5");

  EXPECT_TRUE(window->close()) << "no run, no question";
  EXPECT_EQ(dialogs.questions.size(), 1u);
}

TEST_F(WindowRun, TheFilterBoxRunsWhatItShows) {
  OpenWithProbes();
  Entries(1);
  auto* box = Find<QComboBox>("Filters");
  const struct {
    const char* what;
    std::function<void()> act;
    int expected;
  } cases[] = {
      {"as it starts", [] {}, 5},
      {"Linear picked", [box] { box->setCurrentIndex(2); }, 2},
      {"text that matches no item", [box] { box->lineEdit()->setText("Bogus"); }, 255},
      {"an item's name typed in other letter case", [box] { box->lineEdit()->setText("mitchell"); }, 6},
  };
  for (const auto& c : cases) {
    c.act();
    orders.clear();
    Click("Button1");
    ASSERT_TRUE(WaitUntil([this] { return RunOver(); }));
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(orders[0].Settings.FilterIndex, c.expected) << c.what;
  }
}

TEST_F(WindowRun, DestinationMessagesAreMessageBoxes) {
  OpenWithProbes();
  Entries(2);
  test::TTempDir dir;
  auto* edit = Find<QLineEdit>("Edit1");

  Find<QCheckBox>("fCopy")->setChecked(true);
  Click("Button1");
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"You must specify an existing destination folder"});

  Find<QCheckBox>("fCopy")->setChecked(false);
  edit->setText(FromPath(dir.File("missing")));
  Click("Button1");
  EXPECT_EQ(dialogs.messages.back(), "You must specify an existing destination folder or leave blank");
  EXPECT_TRUE(edit->text().isEmpty());
  EXPECT_FALSE(Find("Button3")->isEnabled());
  EXPECT_TRUE(orders.empty());
}

TEST_F(WindowRun, ANameAdditionThatWouldLeaveTheFolderIsRefusedAtStart) {
  OpenWithProbes();
  Entries(2);
  ChooseItem("RG2", 0);  // Prefix
  Find<QLineEdit>("Edit2")->setText("../");
  Click("Button1");
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find("must not contain \"/\""), std::string::npos) << dialogs.messages[0];
  EXPECT_TRUE(orders.empty());
  EXPECT_TRUE(RunOver());
  EXPECT_FALSE(Find("Button4")->isEnabled());
}

// A tree added as a folder mirrors into the destination with "Keep folders"; run again with
// "Skip existing", nothing is converted and the summary counts the skipped files.
TEST_F(WindowRun, KeepFoldersMirrorsATreeAndSkipExistingResumes) {
  test::TTempDir src, out;
  ::mkdir(src.File("x").c_str(), 0755);
  ::mkdir(src.File("y").c_str(), 0755);
  for (const char* name : {"x/a.bmp", "y/a.bmp", "top.bmp"}) test::WritePatternBmp(src.File(name), 64, 48);
  Find<QCheckBox>("incsubs")->setChecked(true);
  window->AddSourcePaths({src.Path()});
  Find<QLineEdit>("Edit1")->setText(FromPath(out.Path()));
  ChooseItem("RG3", 3);  // .png
  Find<QCheckBox>("KeepTree")->setChecked(true);

  Click("Button1");
  ASSERT_TRUE(WaitUntil([this] { return RunOver(); }));
  EXPECT_EQ(out.List(), (std::vector<std::string>{"top.png", "x", "y"}));
  EXPECT_TRUE(FileExists(out.File("x/a.png")));
  EXPECT_TRUE(FileExists(out.File("y/a.png")));

  Find<QCheckBox>("SkipExisting")->setChecked(true);
  Click("Button1");
  ASSERT_TRUE(WaitUntil([this] { return RunOver(); }));
  const std::string summary = Find("Label5")->accessibleName().toStdString();  // the label may be elided
  EXPECT_TRUE(summary.ends_with(" secs, 0 written, 3 skipped")) << summary;
  EXPECT_EQ(test::TTempDir::ListOf(out.File("x")), std::vector<std::string>{"a.png"}) << "no a[1].png";
}

// "Into sub-folder" puts each output in the named folder beside its source, made when missing.
TEST_F(WindowRun, IntoSubfolderWritesBesideEachSource) {
  test::TTempDir src;
  test::WritePatternBmp(src.File("a.bmp"), 64, 48);
  window->AddSourcePaths({src.File("a.bmp")});
  ChooseItem("RG3", 3);  // .png
  Find<QCheckBox>("IntoSubfolder")->setChecked(true);
  Find<QLineEdit>("SubfolderName")->setText("thumbs");
  Click("Button1");
  ASSERT_TRUE(WaitUntil([this] { return RunOver(); }));
  EXPECT_TRUE(FileExists(src.File("thumbs/a.png")));
  EXPECT_TRUE(dialogs.messages.empty());

  // The folder added with its sub-folders: the outputs in thumbs/ are no sources.
  Find<QCheckBox>("incsubs")->setChecked(true);
  window->AddSourcePaths({src.Path()});
  EXPECT_EQ(Text("Label1"), "Files: 2");
}

// The new controls reach each launched order; combinations that cannot run are refused at Start
// with a message, and nothing is launched.
TEST_F(WindowRun, LargeJobControlsReachTheRunOrAreRefusedAtStart) {
  OpenWithProbes();
  Entries(2);
  Find<QSpinBox>("SpinEditMaxKb")->setValue(250);
  Find<QCheckBox>("SkipExisting")->setChecked(true);
  Find<QCheckBox>("KeepTree")->setChecked(true);
  test::TTempDir out;
  Find<QLineEdit>("Edit1")->setText(FromPath(out.Path()));
  Click("Button1");
  ASSERT_TRUE(WaitUntil([this] { return RunOver(); }));
  ASSERT_EQ(orders.size(), 2u);
  EXPECT_EQ(orders[0].Settings.MaxKb, 250);
  EXPECT_TRUE(orders[0].Settings.SkipExisting);
  EXPECT_TRUE(orders[0].Settings.KeepTree);
  EXPECT_FALSE(orders[0].Settings.Subfolder.has_value());

  const struct {
    const char* what;
    std::function<void()> set;
    const char* says;
  } refusals[] = {
      {"skip and overwrite", [this] { Find<QCheckBox>("CheckBox1")->setChecked(true); },
       "\"Skip existing\" and \"Overwrite files\" cannot both be on"},
      {"a sub-folder name with a separator",
       [this] {
         Find<QCheckBox>("IntoSubfolder")->setChecked(true);
         Find<QLineEdit>("SubfolderName")->setText("a/b");
       },
       "must be one folder name"},
      {"no sub-folder name", [this] { Find<QCheckBox>("IntoSubfolder")->setChecked(true); },
       "Type a folder name for \"Into sub-folder\""},
      {"Max KB for .png", [this] { ChooseItem("RG3", 3); }, "\"Max KB\" applies to"},
      {"keep folders without a destination", [this] { Find<QCheckBox>("KeepTree")->setChecked(true); },
       "choose one with Destination"},
  };
  for (const auto& r : refusals) {
    orders.clear();
    dialogs.messages.clear();
    Find<QCheckBox>("CheckBox1")->setChecked(false);
    Find<QCheckBox>("IntoSubfolder")->setChecked(false);
    Find<QLineEdit>("SubfolderName")->clear();
    Find<QCheckBox>("KeepTree")->setChecked(false);
    Find<QLineEdit>("Edit1")->clear();
    ChooseItem("RG3", 0);
    r.set();
    Click("Button1");
    ASSERT_EQ(dialogs.messages.size(), 1u) << r.what;
    EXPECT_NE(dialogs.messages[0].find(r.says), std::string::npos) << r.what << ": " << dialogs.messages[0];
    EXPECT_TRUE(orders.empty()) << r.what;
    EXPECT_TRUE(RunOver());
  }
}

TEST_F(WindowRun, StartAndRemovalsAreLockedWhileARunIsActive) {
  TGate gate;
  OpenWithProbes(&gate);
  Entries(3);
  Find<QSpinBox>("SpinEdit2")->setValue(1);
  test::TTempDir dir;
  test::WritePatternBmp(dir.File("late.bmp"), 2, 2);

  bool checked = false;
  on_launch = [&](int launched) {
    if (launched != 1) return;
    queue.Post([&] {
      EXPECT_FALSE(Find("Button1")->isEnabled());
      Find<QPushButton>("Button1")->click();  // even a click that gets through starts nothing
      auto* list = Find<QListView>("ListBox1");
      list->selectionModel()->setCurrentIndex(list->model()->index(0, 0), QItemSelectionModel::Select);
      QTest::keyClick(list, Qt::Key_Delete);
      QTest::keyClick(list, Qt::Key_Delete, Qt::ControlModifier);
      QGuiApplication::clipboard()->setText("/x/replaced.jpg\n");
      QTest::keyClick(list, Qt::Key_V, Qt::ControlModifier);
      EXPECT_EQ(Text("Label1"), "Files: 3");
      // Drops are still taken: they only add.
      EXPECT_TRUE(Drop({dir.File("late.bmp")}));
      EXPECT_EQ(Text("Label1"), "Files: 4");
      checked = true;
      gate.Open();
    });
  };
  Click("Button1");
  ASSERT_TRUE(WaitUntil([this] { return RunOver(); }));
  EXPECT_TRUE(checked);
  // The run covers the entries it started with; the second Start launched nothing.
  EXPECT_EQ(orders.size(), 3u);
  EXPECT_EQ(Text("Label5").rfind("Files processed: 3 in ", 0), 0u) << Text("Label5");
  EXPECT_TRUE(Find("Button1")->isEnabled());
  QTest::keyClick(Find("ListBox1"), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(Find("ListBox1"), Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(Text("Label1"), "Files: 0") << "removals work again after the run";
}

TEST_F(WindowRun, ClosingDuringARunLaunchesNothingMoreAndLetsRunningWorkersFinish) {
  test::TTempDir src, out;
  const char* names[] = {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp", "f.bmp"};
  for (const char* name : names) test::WritePatternBmp(src.File(name), 400, 300);
  int launched = 0;
  Open([&](const TWorkerOrder& order) -> std::unique_ptr<TBatchWorker> {
    ++launched;
    return MakeStandardWorker(order);
  });
  window->AddSourcePaths({src.Path()});
  Find<QLineEdit>("Edit1")->setText(FromPath(out.Path()));
  ChooseItem("RG3", 1);  // .jpg
  Find<QSpinBox>("SpinEdit2")->setValue(2);

  Click("Button1");  // launches the first two
  dialogs.yes_no_answers = {true};
  EXPECT_TRUE(window->close());
  EXPECT_EQ(dialogs.questions, std::vector<std::string>{"A run is in progress. Stop after the running files?"});
  window.reset();  // what the program does once its window is closed
  EXPECT_EQ(queue.LiveThreads(), 0);
  EXPECT_EQ(launched, 2);
  // Exactly the launched files, each complete; no temporary left behind.
  ASSERT_EQ(out.List(), (std::vector<std::string>{"a.jpg", "b.jpg"}));
  for (const char* name : {"a.jpg", "b.jpg"}) {
    TPicture picture;
    ASSERT_NO_THROW(picture.ReadFromFile(out.File(name))) << name;
    EXPECT_EQ(picture.Width(), 800) << name;  // "Largest" at 800 pixels
  }
}

// An animation keeps its frames through a run of the window; "First frame only" reaches the run
// and writes the first frame alone.
TEST_F(WindowRun, AnimationsKeepTheirFramesUnlessFirstFrameOnly) {
  test::TTempDir src, out;
  std::filesystem::copy_file("samples/orbit.gif", src.File("orbit.gif"));
  Find<QLineEdit>("Edit1")->setText(FromPath(out.Path()));
  ChooseItem("RG3", 4);  // .gif
  Find<QSpinBox>("SpinEdit1")->setValue(80);
  EXPECT_FALSE(Find<QCheckBox>("FirstFrame")->isChecked());
  EXPECT_EQ(Find("FirstFrame")->accessibleName(), "First frame only");
  window->AddSourcePaths({src.File("orbit.gif")});
  Find<QCheckBox>("CheckBox1")->setChecked(true);  // the second run replaces the first's output
  for (const bool first_only : {false, true}) {
    Find<QCheckBox>("FirstFrame")->setChecked(first_only);
    Click("Button1");
    ASSERT_TRUE(WaitUntil([this] { return RunOver(); }));
    const std::unique_ptr<TFrameSource> frames = OpenFrameSource(out.File("orbit.gif"), TDecodeLimits{});
    if (first_only) {
      EXPECT_EQ(frames, nullptr);
      continue;
    }
    ASSERT_NE(frames, nullptr);
    EXPECT_EQ(frames->FrameCount(), 12);
    EXPECT_EQ(frames->Width(), 80);
    EXPECT_EQ(frames->Height(), 60);
    EXPECT_EQ(frames->Plays(), 0);
    TAnimationFrame frame;
    ASSERT_TRUE(frames->Next(frame));
    EXPECT_EQ(frame.DelayMs, 80);
  }
}

}  // namespace
}  // namespace pellavo
