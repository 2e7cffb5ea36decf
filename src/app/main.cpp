// pellavo: the desktop window over the same run that pellavo-cli drives.
#include <QIcon>
#include <iostream>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/command_line.h"
#include "app/desktop_actions.h"
#include "app/main_window.h"
#include "app/qt_dialogs.h"
#include "app/qt_main_queue.h"
#include "formats/all/standard_formats.h"
#include "programs/heap_tuning.h"
#include "worker/standard_workers.h"

using namespace pellavo;

int main(int argc, char** argv) {
  TuneHeapForBatches();  // before Qt or a run starts a thread
  switch (CommandLineRequest(std::vector<std::string>(argv + 1, argv + argc))) {
    case TCommandLineRequest::Help:
      std::cout << UsageText();
      return 0;
    case TCommandLineRequest::Version:
      std::cout << VersionText();
      return 0;
    case TCommandLineRequest::OpenWindow:
      break;
  }

  RegisterStandardFormats();
  TApplication app(argc, argv);  // takes Qt's own options out of argv
  // The desktop entry's name lets a Wayland compositor find the entry's icon and name for the window.
  QGuiApplication::setDesktopFileName(QStringLiteral(PELLAVO_DESKTOP_ID));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/pellavo.png")));

  TQtDialogs dialogs;
  app.SetErrorReport([&dialogs](const std::string& text) { dialogs.Message(text); });
  TQtMainQueue queue([&app](const std::string& text) { app.ReportError(text); });
  TQtDesktopActions desktop;
  TMainWindow window(queue, MakeStandardWorker, dialogs, desktop);
  dialogs.SetParent(&window);

  // Files and folders named on the command line, as bytes: a name need not be valid text.
  window.AddSourcePaths(SourceArguments(std::vector<std::string>(argv + 1, argv + argc)));
  window.show();
  return app.exec();
}
