#include "app/application.h"

#include <QAccessible>
#include <iostream>

#include "app/color_swatch.h"
#include "core/errors.h"

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
  } catch (...) {
    // The error's own text, then its cause in words when it has one.
    ReportError(CurrentErrorReason());
  }
  return false;
}

}  // namespace pellavo
