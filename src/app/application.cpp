#include "app/application.h"

#include <exception>
#include <iostream>

namespace pellavo {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Pellavo"));
}

void TApplication::ReportError(const std::string& text) {
  if (report_)
    report_(text);
  else
    std::cerr << "pellavo: " << text << "\n";
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ReportError(e.what());
  } catch (...) {
    ReportError("Unknown error");
  }
  return false;
}

}  // namespace pellavo
