#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/main_window.h"
#include "app/qt_main_queue.h"
#include "app/qt_paths.h"
#include "app/scripted_dialogs.h"
#include "worker/standard_workers.h"

namespace pellavo::test {

// Opens the window with scripted dialogs and a recording desktop, and closes it again; helpers
// find and drive its controls by their object names.
class WindowFixture : public ::testing::Test {
 protected:
  void SetUp() override { Open(MakeStandardWorker); }
  void TearDown() override { window.reset(); }

  void Open(TWorkerFactory factory) {
    window.reset();
    window = std::make_unique<TMainWindow>(queue, std::move(factory), dialogs, desktop);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }

  template <class T = QWidget>
  T* Find(const char* name) {
    T* widget = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << "no " << name;
    return widget;
  }

  void Click(const char* name) { QTest::mouseClick(Find(name), Qt::LeftButton); }

  // Drags local files over the window and drops them at `at` (a point of the window), the way
  // a file manager's drag arrives. Returns whether the window took them.
  bool Drop(const std::vector<std::string>& paths, QPoint at = QPoint(10, 10)) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string& p : paths) urls << QUrl::fromLocalFile(FromPath(p));
    mime.setUrls(urls);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    return drop.isAccepted();
  }

  // Runs the event loop until done() holds or the time is up; returns done().
  bool WaitUntil(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) QTest::qWait(5);
    return done();
  }

  TQtMainQueue queue{[](const std::string& text) { ADD_FAILURE() << "task failed: " << text; }};
  TScriptedDialogs dialogs;
  TRecordingDesktop desktop;
  std::unique_ptr<TMainWindow> window;
};

}  // namespace pellavo::test
