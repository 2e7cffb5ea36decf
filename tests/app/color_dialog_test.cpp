#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QTimer>
#include <functional>

#include "app/qt_dialogs.h"

namespace pellavo {
namespace {

// Acts on the colour dialog once it is open: the zero timer runs inside the dialog's own loop.
void WhenOpen(std::function<void(QColorDialog&)> act) {
  QTimer::singleShot(0, [act = std::move(act)] {
    auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    act(*dialog);
  });
}

TEST(ColorDialog, CustomColoursAreTakenBackOnlyOnOk) {
  TQtDialogs dialogs;
  TCustomColors custom;
  custom.fill(0x00FFFFFF);
  custom[0] = 0x00112233;

  // The user adds a custom colour, picks another colour and cancels.
  WhenOpen([](QColorDialog& dialog) {
    EXPECT_EQ(dialog.currentColor(), QColor(0x33, 0x22, 0x11)) << "opened at the swatch's colour";
    EXPECT_EQ(QColorDialog::customColor(0), QColor(0x33, 0x22, 0x11)) << "offers the kept custom colours";
    QColorDialog::setCustomColor(1, QColor(1, 2, 3));
    dialog.setCurrentColor(QColor(9, 9, 9));
    dialog.reject();
  });
  const TCustomColors before = custom;
  EXPECT_EQ(dialogs.PickColor(0x00112233, custom), std::nullopt);
  EXPECT_EQ(custom, before);

  // The same, confirmed.
  WhenOpen([](QColorDialog& dialog) {
    EXPECT_EQ(QColorDialog::customColor(1), QColor(Qt::white)) << "the cancelled colour is not offered";
    QColorDialog::setCustomColor(1, QColor(1, 2, 3));
    dialog.setCurrentColor(QColor(9, 8, 7));
    dialog.accept();
  });
  EXPECT_EQ(dialogs.PickColor(0x00112233, custom), std::optional<TColor>(0x00070809));
  EXPECT_EQ(custom[0], 0x00112233);
  EXPECT_EQ(custom[1], 0x00030201);
}

}  // namespace
}  // namespace pellavo
