#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <stdexcept>

#include "app/application.h"

namespace pellavo {
namespace {

// A handler that fails the way a window handler can.
class TFailingObject final : public QObject {
 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("Cannot open clipboard");
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
  app->SetErrorReport(nullptr);
  EXPECT_EQ(reported, std::vector<std::string>{"Cannot open clipboard"});
  EXPECT_EQ(QCoreApplication::applicationName(), "Pellavo");
}

}  // namespace
}  // namespace pellavo
