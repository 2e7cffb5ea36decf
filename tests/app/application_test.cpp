#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <stdexcept>

#include "app/application.h"
#include "core/errors.h"

namespace pellavo {
namespace {

// A handler that fails the way a window handler can.
class TFailingObject final : public QObject {
 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("Cannot open clipboard");
    if (e->type() == QEvent::User + 1) throw Exception("JPEG error #43", "Premature end of JPEG file");
    return QObject::event(e);
  }
};

TEST(Application, AnErrorEscapingAHandlerIsReportedAndTheProgramGoesOn) {
  auto* app = dynamic_cast<TApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  std::vector<std::string> reported;
  app->SetErrorReport([&](const std::string& text) { reported.push_back(text); });
  TFailingObject object;
  QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
  QCoreApplication::sendPostedEvents(&object, QEvent::User);
  QCoreApplication::postEvent(&object, new QEvent(QEvent::Type(QEvent::User + 1)));
  QCoreApplication::sendPostedEvents(&object, QEvent::User + 1);
  app->SetErrorReport(nullptr);
  EXPECT_EQ(reported, (std::vector<std::string>{"Cannot open clipboard", "JPEG error #43: Premature end of JPEG file"}));
  EXPECT_EQ(QCoreApplication::applicationName(), "Pellavo");
}

}  // namespace
}  // namespace pellavo
