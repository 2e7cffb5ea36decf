#include "app/application.h"

#include <QAccessible>
#include <exception>
#include <iostream>

#include "app/color_swatch.h"

namespace pellavo {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Pellavo"));
  QAccessible::installFactory(ColorSwatchAccessible);
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
