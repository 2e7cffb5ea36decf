// The window's tests need an application object for their whole run; they draw offscreen
// unless a platform is chosen explicitly.
#include <gtest/gtest.h>

#include <QApplication>

#include "formats/all/standard_formats.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  pellavo::RegisterStandardFormats();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pellavo"));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
