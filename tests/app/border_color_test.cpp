#include <QAccessible>
#include <QCheckBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>

#include "app/color_swatch.h"
#include "app/control_binding.h"
#include "app/window_fixture.h"
#include "formats/picture.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

constexpr TColor kWhite = 0x00FFFFFF, kRed = 0x000000FF, kBlue = 0x00FF0000;

class BorderColor : public test::WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    swatch = Find<TColorSwatch>("Shape1");
    ASSERT_NE(swatch, nullptr);
  }

  // A mouse event as the swatch gets it, the cursor at global, anywhere on the screen.
  void Send(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, QPoint global) {
    QMouseEvent event(type, QPointF(swatch->mapFromGlobal(global)), QPointF(global), button, held, Qt::NoModifier);
    QApplication::sendEvent(swatch, &event);
  }
  void Press(Qt::MouseButton button) {
    Send(QEvent::MouseButtonPress, button, button, swatch->mapToGlobal(QPoint(8, 8)));
  }
  void Release(Qt::MouseButton button) {
    Send(QEvent::MouseButtonRelease, button, Qt::NoButton, swatch->mapToGlobal(QPoint(8, 8)));
  }
  void MoveTo(QPoint global, Qt::MouseButtons held = Qt::LeftButton) {
    Send(QEvent::MouseMove, Qt::NoButton, held, global);
  }
  void BorderOn() {
    QTest::mouseClick(Find("CheckBox3"), Qt::LeftButton);
    ASSERT_TRUE(swatch->isEnabled());
  }

  TColorSwatch* swatch = nullptr;
};

// A screen whose pixel at (x, y) has red x and green y, and that gives nothing left of x = 0.
std::optional<QColor> TestScreen(const QPoint& at) {
  if (at.x() < 0) return std::nullopt;
  return QColor(at.x() % 256, at.y() % 256, 99);
}

TEST_F(BorderColor, TheSwatchIgnoresTheMouseWhileBorderIsOff) {
  swatch->SetPixelSource(TestScreen);
  ASSERT_FALSE(swatch->isEnabled());
  Press(Qt::RightButton);
  Release(Qt::RightButton);
  Press(Qt::LeftButton);
  MoveTo(QPoint(10, 20));
  Release(Qt::LeftButton);
  EXPECT_TRUE(dialogs.color_requests.empty());
  EXPECT_EQ(swatch->Color(), QColor(Qt::white));

  // Turned on, it has its previous colour.
  BorderOn();
  EXPECT_EQ(swatch->Color(), QColor(Qt::white));
}

TEST_F(BorderColor, ALeftDragTakesTheScreenPixelUnderTheCursorOnEveryMove) {
  swatch->SetPixelSource(TestScreen);
  BorderOn();

  Press(Qt::LeftButton);
  Release(Qt::LeftButton);
  EXPECT_EQ(swatch->Color(), QColor(Qt::white)) << "a click without a move reads nothing";

  Press(Qt::LeftButton);
  EXPECT_TRUE(swatch->Picking());
  MoveTo(QPoint(10, 20));
  EXPECT_EQ(swatch->Color(), QColor(10, 20, 99));
  MoveTo(QPoint(500, 300));  // far outside the window
  EXPECT_EQ(swatch->Color(), QColor(500 % 256, 300 % 256, 99));
  MoveTo(QPoint(-5, 7));  // where the screen gives no pixel
  EXPECT_EQ(swatch->Color(), QColor(500 % 256, 300 % 256, 99));
  Release(Qt::LeftButton);
  EXPECT_FALSE(swatch->Picking());
  MoveTo(QPoint(1, 2), Qt::NoButton);
  EXPECT_EQ(swatch->Color(), QColor(500 % 256, 300 % 256, 99)) << "the release ended the pick";

  // A right press during a pick ends it too.
  Press(Qt::LeftButton);
  dialogs.color_answers = {std::nullopt};
  Press(Qt::RightButton);
  EXPECT_FALSE(swatch->Picking());
  MoveTo(QPoint(3, 4));
  EXPECT_EQ(swatch->Color(), QColor(500 % 256, 300 % 256, 99));
}

TEST_F(BorderColor, TheColourDialogTakesOkKeepsCancelAndRemembersConfirmedCustomColours) {
  BorderOn();
  TCustomColors confirmed;
  confirmed.fill(kWhite);
  confirmed[0] = kBlue;
  dialogs.color_answers = {std::pair{kRed, confirmed}, std::nullopt, std::pair{kBlue, confirmed}};
  Press(Qt::RightButton);
  EXPECT_EQ(swatch->Color(), QColor(255, 0, 0)) << "OK takes the colour";
  Press(Qt::RightButton);
  EXPECT_EQ(swatch->Color(), QColor(255, 0, 0)) << "Cancel keeps it";
  Press(Qt::RightButton);
  EXPECT_EQ(swatch->Color(), QColor(0, 0, 255));

  ASSERT_EQ(dialogs.color_requests.size(), 3u);
  TCustomColors start;
  start.fill(kWhite);
  EXPECT_EQ(dialogs.color_requests[0], std::pair(kWhite, start)) << "opened at the swatch's colour";
  EXPECT_EQ(dialogs.color_requests[1], std::pair(kRed, confirmed)) << "custom colours confirmed with OK come back";
  EXPECT_EQ(dialogs.color_requests[2], std::pair(kRed, confirmed)) << "a cancelled dialog changed none";
}

TEST_F(BorderColor, TheRunDrawsTheBorderInTheSwatchColour) {
  test::TTempDir src, out;
  test::WritePatternBmp(src.File("a.bmp"), 40, 30);
  window->AddSourcePaths({src.File("a.bmp")});
  Find<QLineEdit>("Edit1")->setText(FromPath(out.Path()));
  QTest::mouseClick(Find("Framit"), Qt::LeftButton);  // no raised frame over the border
  BorderOn();
  TCustomColors custom;
  custom.fill(kWhite);
  dialogs.color_answers = {std::pair{TColor{0x00336699}, custom}};
  Press(Qt::RightButton);

  Click("Button1");
  ASSERT_TRUE(WaitUntil([this] { return !window->Run().Running(); }));
  TPicture picture;
  ASSERT_NO_THROW(picture.ReadFromFile(out.File("a.bmp")));
  const std::vector<TColor32> pixels = test::Pixels(picture.Bitmap());
  ASSERT_FALSE(pixels.empty());
  EXPECT_EQ(pixels[0] & 0x00FFFFFFu, 0x00996633u) << "red 0x99, green 0x66, blue 0x33";
}

TEST_F(BorderColor, BothSwatchesTakeTheFocusInTabOrderAndOpenTheDialogFromTheKeyboard) {
  BorderOn();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  const struct {
    const char *before, *swatch;
    Qt::Key key;
    TColor chosen;
  } cases[] = {{"CheckBox3", "Shape1", Qt::Key_Space, kRed}, {"KeepMetadata", "BackgroundSwatch", Qt::Key_Return, kBlue}};
  for (const auto& c : cases) {
    QWidget* before = Find(c.before);
    before->setFocus(Qt::TabFocusReason);
    QTest::keyClick(before, Qt::Key_Tab);
    auto* target = Find<TColorSwatch>(c.swatch);
    EXPECT_TRUE(target->hasFocus()) << c.swatch << " follows " << c.before;
    dialogs.color_requests.clear();
    dialogs.color_answers = {std::pair{c.chosen, TCustomColors{}}};
    QTest::keyClick(target, c.key);
    EXPECT_EQ(dialogs.color_requests.size(), 1u) << c.swatch;
    EXPECT_EQ(ToColor(target->Color()), c.chosen) << c.swatch;
  }
  EXPECT_EQ(Find("Shape1")->accessibleName(), "Border color");
  EXPECT_EQ(Find("BackgroundSwatch")->accessibleName(), "Background color");

  // A screen reader meets a button it can press.
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(swatch);
  ASSERT_NE(accessible, nullptr);
  EXPECT_EQ(accessible->role(), QAccessible::Button);
  EXPECT_EQ(accessible->text(QAccessible::Name), "Border color");
  ASSERT_NE(accessible->actionInterface(), nullptr);
  dialogs.color_answers = {std::nullopt};
  accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(dialogs.color_requests.size(), 2u) << "the press opens the dialog";
}

}  // namespace
}  // namespace pellavo
