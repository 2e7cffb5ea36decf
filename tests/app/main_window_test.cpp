#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <map>

#include "app/desktop_actions.h"
#include "app/folder_chooser.h"
#include "app/qt_paths.h"
#include "app/version.h"
#include "batch/run_options.h"
#include "core/version.h"
#include "app/window_fixture.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using test::WindowFixture;

class MainWindow : public WindowFixture {
 protected:
  QStringList RadioTexts(const char* group) {
    QStringList texts;
    for (QRadioButton* b : Find<QGroupBox>(group)->findChildren<QRadioButton*>()) texts << b->text();
    return texts;
  }
  int Checked(const char* group) {
    const QList<QRadioButton*> buttons = Find<QGroupBox>(group)->findChildren<QRadioButton*>();
    for (int i = 0; i < buttons.size(); ++i)
      if (buttons[i]->isChecked()) return i;
    return -1;
  }
  void Choose(const char* group, int index) {
    QRadioButton* item = Find<QGroupBox>(group)->findChildren<QRadioButton*>()[index];
    QTest::mouseClick(item, Qt::LeftButton, Qt::NoModifier, QPoint(6, item->height() / 2));
  }
  QString Status() { return Find<QStatusBar>("StatusBar1")->currentMessage(); }
};

TEST_F(MainWindow, ControlsStartWithTheirCaptionsItemsRangesAndStates) {
  EXPECT_EQ(window->windowTitle().toStdString(), WindowCaption(kVersion));
  EXPECT_EQ(window->minimumSize(), QSize(584, 545));

  const struct {
    const char* name;
    const char* caption;
    bool enabled;
    int checked;  // -1: not a check box, or one whose start state the option table gives
  } buttons[] = {
      {"Button6", "Source &folder", true, -1}, {"Button5", "Source f&iles", true, -1},
      {"Button2", "&Destination", true, -1},   {"Button3", "Open", false, -1},
      {"Button1", "&Start", true, -1},         {"Button4", "S&TOP", false, -1},
      {"Button7", "Latest", true, -1},        {"incsubs", "Inc sub folders", true, 0},
      {"Framit", "Frame", true, -1},          {"CheckBox3", "Border", true, -1},
      {"syncit", "Max thrds", true, -1},      {"fCopy", "FASTCOPY", true, -1},
      {"CheckBox1", "Overwrite files", true, -1}, {"CheckBox2", "Show memory use", true, 0},
      {"keeptop", "Keep on top", true, 1},
      {"AutoRotate", "Auto-rotate", true, -1}, {"KeepMetadata", "Keep metadata", true, -1},
      {"OnlyShrink", "Only shrink", true, -1}, {"KeepDates", "Keep file dates", true, -1},
      {"KeepTree", "Keep folders", true, -1},  {"IntoSubfolder", "Into sub-folder", true, 0},
      {"SkipExisting", "Skip existing", true, -1}, {"FirstFrame", "First frame only", true, -1},
  };
  for (const auto& b : buttons) {
    auto* button = Find<QAbstractButton>(b.name);
    EXPECT_EQ(button->text(), b.caption) << b.name;
    EXPECT_EQ(button->isEnabled(), b.enabled) << b.name;
    if (b.checked >= 0) {
      EXPECT_EQ(button->isChecked(), b.checked == 1) << b.name;
    }
  }
  EXPECT_TRUE(Find<QPushButton>("Button4")->font().bold());
  EXPECT_TRUE(Find<QCheckBox>("fCopy")->font().bold());
  EXPECT_EQ(Find<QPushButton>("Button4")->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::red));

  // Each option's control starts with the range, the items and the default of the option table.
  for (const TRunOption& o : kRunOptions) {
    if (o.Control.empty()) continue;
    const std::string name(o.Control);
    QWidget* control = Find(name.c_str());
    if (auto* spin = qobject_cast<QSpinBox*>(control)) {
      EXPECT_EQ(spin->minimum(), o.Min) << name;
      EXPECT_EQ(spin->maximum(), o.Max) << name;
      EXPECT_EQ(spin->value(), o.Default) << name;
      EXPECT_EQ(spin->specialValueText().toStdString(), o.OffText) << name;
    } else if (qobject_cast<QGroupBox*>(control)) {
      QStringList items;
      for (std::string_view item : o.Items) items << QString::fromUtf8(item.data(), qsizetype(item.size()));
      EXPECT_EQ(RadioTexts(name.c_str()), items) << name;
      EXPECT_EQ(Checked(name.c_str()), o.Default) << name;
    } else if (auto* box = qobject_cast<QCheckBox*>(control)) {
      EXPECT_EQ(o.Kind, TOptionKind::Switch) << name;
      EXPECT_EQ(box->isChecked(), o.Default == 1) << name;
    } else {
      ADD_FAILURE() << name << " holds no option";
    }
  }
  const struct {
    const char* name;
    bool enabled;
  } spins[] = {{"SpinEdit1", true}, {"SpinEdit4", false}, {"SpinEdit5", false}, {"SpinEdit2", true},
               {"SpinEdit3", true}, {"SpinEditQuality", true}, {"SpinEditMaxKb", true}};
  for (const auto& s : spins) EXPECT_EQ(Find(s.name)->isEnabled(), s.enabled) << s.name;

  const struct {
    const char* name;
    const char* title;
  } groups[] = {
      {"RG3", "Output file format"}, {"RG4", "16:9 format"}, {"RG1", "Max dimension"}, {"RG2", "File name addition"}};
  for (const auto& g : groups) EXPECT_EQ(Find<QGroupBox>(g.name)->title(), g.title) << g.name;

  auto* filters = Find<QComboBox>("Filters");
  QStringList filter_items;
  for (int i = 0; i < filters->count(); ++i) filter_items << filters->itemText(i);
  EXPECT_EQ(filter_items, QStringList({"Nearest", "Draft", "Linear", "Cosine", "Spline", "Lanczos", "Mitchell"}));
  EXPECT_TRUE(filters->isEditable());
  EXPECT_EQ(filters->currentText(), "Lanczos");
  EXPECT_EQ(filters->currentIndex(), 5);

  const struct {
    const char *name, *text;
  } labels[] = {{"Label5", "Files processed:"}, {"Label3", "Threads: "}, {"Label1", "Files: 0"},
                {"Label4", "Resampler"},        {"Label6", "Thrd delay"}, {"WLabel", "Memory usage:"},
                {"PLabel", "Peak memory usage:"}, {"LabelQuality", "Quality"}, {"LabelMaxKb", "Max KB"}};
  for (const auto& l : labels) EXPECT_EQ(Find<QLabel>(l.name)->text(), l.text) << l.name;

  EXPECT_TRUE(Find<QLineEdit>("Edit1")->text().isEmpty());
  EXPECT_TRUE(Find<QLineEdit>("Edit2")->text().isEmpty());
  EXPECT_EQ(Find<QLineEdit>("SubfolderName")->text(), "small");
  EXPECT_FALSE(Find("SubfolderName")->isEnabled());
  EXPECT_EQ(Find<QSpinBox>("SpinEditMaxKb")->text(), "Off") << "no size limit at start";
  {
    // Before the mouse has rested anywhere on it.
    TMainWindow unshown(queue, MakeStandardWorker, dialogs, desktop);
    EXPECT_TRUE(unshown.findChild<QStatusBar*>("StatusBar1")->currentMessage().isEmpty());
  }
  EXPECT_FALSE(Find("Panel3")->isVisible()) << "the memory panel starts hidden";
  EXPECT_FALSE(Find("Shape1")->isEnabled());
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(MainWindow, HintsAreTheStatusTipsAsWrittenAndEveryControlHasAnAccessibleName) {
  const struct {
    const char *name, *hint;
  } hints[] = {
      {"Button6", "Select all image files in a folder"},
      {"Button5", "Select image files"},
      {"incsubs", "Include sub-folders when dragging or selecting a folder"},
      {"Label5", "Processing summary"},
      {"ListBox1", "Drag file or folders from explorer.  Double click to open file in viewer"},
      {"SpeedButton1", "Optimize memory use"},
      {"Label3", "Number of active threads"},
      {"Label1", "Number of image files"},
      {"Edit2", "Text to be added - $ will be substituted with consecutive numbering"},
      {"Filters", "Image resampling filter - see readme for filter comparison"},
      {"Edit1", "Destination will be the same as source if left empty"},
      {"Button3", "Open explorer at destination folder if shown"},
      {"Shape1", "Border color - drag cursor or right click to open color dialog"},
      {"keeptop", "Keep application on top "},
      {"Button7", "Check for current version"},
      {"IntoSubfolder", "Without a destination, put the outputs into this folder beside each source"},
      {"SubfolderName", "Name of the sub-folder beside each source - one folder name, created when missing"},
      // Controls without a hint.
      {"Button2", ""}, {"Button1", ""}, {"Button4", ""}, {"CheckBox2", ""},
      {"Label4", ""}, {"Label6", ""}, {"ProgressBar1", ""}, {"WLabel", ""}, {"PLabel", ""}, {"LabelQuality", ""}, {"LabelMaxKb", ""},
  };
  std::vector<std::pair<std::string, std::string>> expected;
  for (const auto& h : hints) expected.emplace_back(h.name, h.hint);
  // The options' controls show the hints of the option table.
  for (const TRunOption& o : kRunOptions)
    if (!o.Control.empty()) expected.emplace_back(o.Control, OptionText(o.Hint));
  for (const auto& [name, hint] : expected) {
    QWidget* w = Find(name.c_str());
    EXPECT_EQ(w->statusTip().toStdString(), hint) << name;
    EXPECT_TRUE(w->toolTip().isEmpty()) << name << ": hints are not pop-up tips";
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(accessible, nullptr) << name;
    EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << name << " has no accessible name";
  }
  for (const char* unlabeled : {"SpinEdit1", "SpinEdit4", "SpinEdit5", "SpinEdit2", "SpinEdit3", "Edit1", "Edit2",
                                "Shape1", "ListBox1", "Filters", "StatusBar1"})
    EXPECT_FALSE(Find(unlabeled)->accessibleName().isEmpty()) << unlabeled;
  EXPECT_EQ(Find("Edit1")->accessibleName(), "Destination folder");
  EXPECT_EQ(Find("SpinEditQuality")->accessibleName(), "Quality");
  EXPECT_EQ(Find("SubfolderName")->accessibleName(), "Sub-folder name");
  EXPECT_EQ(Find("SpinEditMaxKb")->accessibleName(), "Max KB");
}

TEST_F(MainWindow, HoverShowsTheHintInTheStatusBarAndAControlWithoutHintEmptiesIt) {
  const struct {
    const char* over;
    QPoint at;  // within the control; null for its centre
    const char* status;
  } moves[] = {
      {"Button5", {}, "Select image files"},
      {"Button1", {}, ""},
      {"RG1", {4, 4}, "Maximum output dimension as pixels or a percentage"},
      {"SpinEdit1", {}, "Set new size in pixels"},
      {"Button4", {}, ""},
  };
  for (const auto& m : moves) {
    QTest::mouseMove(Find(m.over), m.at.isNull() ? QPoint() : m.at);
    // On a real display the pointer's events arrive a moment later.
    WaitUntil([&] { return Status() == m.status; }, 2000);
    EXPECT_EQ(Status().toStdString(), m.status) << "over " << m.over;
  }
}

TEST_F(MainWindow, EnablementRules) {
  auto enabled = [this](const char* name) { return Find(name)->isEnabled(); };

  for (int choice : {3, 0, 3, 1, 3, 2}) {
    Choose("RG1", choice);
    EXPECT_EQ(enabled("SpinEdit4"), choice == 3) << choice;
    EXPECT_EQ(enabled("SpinEdit1"), choice != 3) << choice;
  }

  const struct {
    const char* box;
    std::vector<const char*> follow;
  } switches[] = {{"CheckBox3", {"SpinEdit5", "Shape1"}}, {"syncit", {"SpinEdit2"}}, {"IntoSubfolder", {"SubfolderName"}}};
  for (const auto& s : switches) {
    auto* box = Find<QCheckBox>(s.box);
    for (int i = 0; i < 2; ++i) {
      QTest::mouseClick(box, Qt::LeftButton);
      for (const char* follower : s.follow) EXPECT_EQ(enabled(follower), box->isChecked()) << s.box << " " << follower;
    }
  }

  auto* edit = Find<QLineEdit>("Edit1");
  QTest::keyClicks(edit, "/t");
  EXPECT_TRUE(enabled("Button3")) << "typing a destination enables Open";
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  EXPECT_FALSE(enabled("Button3")) << "deleting its whole text disables it";
}

// The row for large jobs comes after the row above it in the tab order, left to right.
TEST_F(MainWindow, TheLargeJobRowFollowsInTheTabOrder) {
  const std::vector<std::string> expected = {"KeepDates", "KeepTree", "IntoSubfolder", "SubfolderName", "SkipExisting",
                                             "FirstFrame", "SpinEditMaxKb"};
  std::vector<std::string> order;
  QWidget* w = Find("KeepDates");
  for (int i = 0; i < 200 && order.size() < expected.size(); ++i, w = w->nextInFocusChain()) {
    const std::string name = w->objectName().toStdString();
    if (std::find(expected.begin(), expected.end(), name) != expected.end()) order.push_back(name);
  }
  EXPECT_EQ(order, expected);
}

TEST_F(MainWindow, KeepOnTopOffAndOnAgainStillTakesDrops) {
  test::TTempDir dir;
  test::WritePatternBmp(dir.File("a.bmp"), 4, 4);
  auto* keeptop = Find<QCheckBox>("keeptop");
  QTest::mouseClick(keeptop, Qt::LeftButton);
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window->isVisible());
  QTest::mouseClick(keeptop, Qt::LeftButton);
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window->isVisible());

  EXPECT_TRUE(Drop({dir.File("a.bmp")}));
  EXPECT_EQ(Find<QLabel>("Label1")->text(), "Files: 1");
  // No control keeps a drop for itself, so a drop anywhere on the window reaches the list.
  EXPECT_TRUE(window->acceptDrops());
  for (QWidget* child : window->findChildren<QWidget*>())
    EXPECT_FALSE(child->acceptDrops()) << child->objectName().toStdString();
}

TEST_F(MainWindow, DestinationOpenAndLatest) {
  test::TTempDir dir;
  auto* edit = Find<QLineEdit>("Edit1");

  // The chooser opens at the destination text and puts the confirmed folder there.
  edit->setText(FromPath(dir.Path()));
  dialogs.folder_answers = {dir.File("new/sub")};
  dialogs.yes_no_answers = {true};
  Click("Button2");
  EXPECT_EQ(dialogs.folder_starts, std::vector<std::string>{dir.Path()});
  EXPECT_EQ(dialogs.questions, std::vector<std::string>{kCreateFolderPrompt});
  EXPECT_EQ(ToPath(edit->text()), dir.File("new/sub"));
  EXPECT_TRUE(Find("Button3")->isEnabled());

  // "Source folder" opens where "Destination" last set the start.
  dialogs.folder_answers = {std::nullopt};
  Click("Button6");
  EXPECT_EQ(dialogs.folder_starts.back(), dir.Path());

  // Cancel leaves the destination as it was.
  dialogs.folder_answers = {std::nullopt};
  Click("Button2");
  EXPECT_EQ(ToPath(edit->text()), dir.File("new/sub"));

  Click("Button3");
  EXPECT_EQ(desktop.folders, std::vector<std::string>{dir.File("new/sub")});
  Click("Button7");
  ASSERT_EQ(desktop.urls.size(), 1u);
  EXPECT_EQ(desktop.urls[0], LatestVersionUrl());
  EXPECT_TRUE(desktop.urls[0].ends_with("/Pellavo.html")) << desktop.urls[0];
}

TEST_F(MainWindow, EveryCaptionFitsItsControl) {
  // The room a caption needs: its text plus the indicator or the button's margins.
  auto needed = [](QWidget* w, const QString& text) {
    const QStyle* style = w->style();
    const int advance = w->fontMetrics().horizontalAdvance(text);
    if (qobject_cast<QCheckBox*>(w))
      return advance + style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
             style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
    if (qobject_cast<QRadioButton*>(w))
      return advance + style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) +
             style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
    if (qobject_cast<QPushButton*>(w)) return advance + 4;  // a frame and a pixel on each side
    return advance;
  };
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (w->window() != window.get()) continue;  // the results view lays itself out
    QString text;
    if (auto* button = qobject_cast<QAbstractButton*>(w))
      text = QString(button->text()).replace("&&", "\x01").remove('&').replace('\x01', '&');  // the mnemonic takes no room
    else if (auto* label = qobject_cast<QLabel*>(w))
      text = label->text();
    if (text.isEmpty() || w->objectName().startsWith("qt_")) continue;
    EXPECT_LE(needed(w, text), w->width()) << w->objectName().toStdString() << " cuts off \"" << text.toStdString() << "\"";
  }
}

TEST_F(MainWindow, ControlsAreAnnouncedAsShownAndTheirMnemonicsDoNotCollide) {
  // The status-bar hint of a control is also its accessible description.
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->statusTip().isEmpty()) {
      EXPECT_EQ(w->accessibleDescription(), w->statusTip()) << w->objectName().toStdString();
    }
  }

  // The filter box is named by its label, the way a combo box is named on this desktop; the line
  // edit that takes its focus must not be announced by the text it shows.
  auto* filters = Find<QComboBox>("Filters");
  EXPECT_EQ(filters->accessibleName(), "Resampler");
  QAccessibleInterface* box = QAccessible::queryAccessibleInterface(filters);
  ASSERT_NE(box, nullptr);
  QStringList labels;
  for (const auto& [other, relation] : box->relations())
    if (relation & QAccessible::Label) labels << other->text(QAccessible::Name);
  EXPECT_EQ(labels, QStringList{"Resampler"});
  QAccessibleInterface* edit = QAccessible::queryAccessibleInterface(filters->lineEdit());
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text(QAccessible::Name), "Resampler");

  auto* optimize = Find<QToolButton>("SpeedButton1");
  optimize->setChecked(true);
  EXPECT_EQ(optimize->accessibleName(), "Optimizing");
  optimize->setChecked(false);
  EXPECT_EQ(optimize->accessibleName(), "Optimize");

  std::map<QChar, std::string> taken;
  for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
    if (button->window() != window.get()) continue;
    const QString text = button->text();
    const qsizetype at = text.indexOf('&');
    if (at < 0 || at + 1 >= text.size() || text[at + 1] == '&') continue;
    const QChar key = text[at + 1].toLower();
    EXPECT_TRUE(taken.emplace(key, button->objectName().toStdString()).second)
        << button->objectName().toStdString() << " and " << taken[key] << " share Alt+" << key.toLatin1();
  }
  for (const char* name : {"Button1", "Button4", "Button2", "Button6", "Button5"})
    EXPECT_TRUE(std::any_of(taken.begin(), taken.end(), [&](const auto& t) { return t.second == name; })) << name;
}

}  // namespace
}  // namespace pellavo
