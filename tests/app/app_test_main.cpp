// The window's tests need the application object for their whole run; they draw offscreen
// unless a platform is chosen explicitly.
#include <gtest/gtest.h>

#include "app/application.h"
#include "formats/all/standard_formats.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  pellavo::RegisterStandardFormats();
  pellavo::TApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
