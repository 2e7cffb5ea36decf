#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>

#include "app/color_swatch.h"
#include "app/window_fixture.h"
#include "formats/picture.h"
#include "formats/png/png_object.h"
#include "raster/bitmap32.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

// The row below the options: what its controls set reaches the run.
class PhotoRow : public test::WindowFixture {
 protected:
  // A run of the list into JPEG at its own size, without the raised frame; the output's pixels.
  std::vector<TColor32> RunToJpeg(const std::string& source, const test::TTempDir& out) {
    window->AddSourcePaths({source});
    Find<QLineEdit>("Edit1")->setText(FromPath(out.Path()));
    Find<QGroupBox>("RG3")->findChildren<QRadioButton*>()[1]->setChecked(true);  // .jpg
    Find<QCheckBox>("Framit")->setChecked(false);
    Click("Button1");
    EXPECT_TRUE(WaitUntil([this] { return !window->Run().Running(); }));
    TPicture picture;
    picture.ReadFromFile(out.File("a.jpg"));
    TBitmap32 s;
    s.Assign(picture);
    return std::vector<TColor32>(s.Bits(), s.Bits() + size_t(s.Width()) * size_t(s.Height()));
  }
};

TEST_F(PhotoRow, TheBackgroundSwatchFillsTransparentAreas) {
  test::TTempDir src, out;
  TPNGObject png;
  png.SetKeepAlpha(true);
  png.Assign(test::MakeBitmap32(40, 30, [](int32_t, int32_t) { return 0x00000000u; }));  // all clear
  png.WriteToFile(src.File("a.png"));

  auto* swatch = Find<TColorSwatch>("BackgroundSwatch");
  ASSERT_NE(swatch, nullptr);
  EXPECT_TRUE(swatch->isEnabled());
  EXPECT_EQ(swatch->Color(), QColor(Qt::white));
  TCustomColors custom;
  custom.fill(0x00FFFFFF);
  dialogs.color_answers = {std::pair{TColor{0x00336699}, custom}};
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(8, 8), swatch->mapToGlobal(QPointF(8, 8)), Qt::RightButton,
                    Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(swatch, &press);
  EXPECT_EQ(swatch->Color(), QColor(0x99, 0x66, 0x33));

  const std::vector<TColor32> pixels = RunToJpeg(src.File("a.png"), out);
  ASSERT_FALSE(pixels.empty());
  const TColor32 c = pixels[pixels.size() / 2];
  EXPECT_NEAR(RedOf(c), 0x99, 3);
  EXPECT_NEAR(GreenOf(c), 0x66, 3);
  EXPECT_NEAR(BlueOf(c), 0x33, 3);
}

}  // namespace
}  // namespace pellavo
