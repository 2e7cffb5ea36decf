// pellavo: the desktop window over the same run that pellavo-cli drives.
#include <string>
#include <vector>

#include "app/application.h"
#include "app/desktop_actions.h"
#include "app/main_window.h"
#include "app/qt_dialogs.h"
#include "app/qt_main_queue.h"
#include "formats/all/standard_formats.h"
#include "worker/standard_workers.h"

using namespace pellavo;

int main(int argc, char** argv) {
  RegisterStandardFormats();
  TApplication app(argc, argv);  // takes Qt's own options out of argv

  TQtDialogs dialogs;
  app.SetErrorReport([&dialogs](const std::string& text) { dialogs.Message(text); });
  TQtMainQueue queue([&app](const std::string& text) { app.ReportError(text); });
  TQtDesktopActions desktop;
  TMainWindow window(queue, MakeStandardWorker, dialogs, desktop);
  dialogs.SetParent(&window);

  // Files and folders named on the command line, as bytes: a name need not be valid text.
  window.AddSourcePaths(std::vector<std::string>(argv + 1, argv + argc));
  window.show();
  return app.exec();
}
