#pragma once
#include <QApplication>
#include <functional>
#include <string>

namespace pellavo {

// The application object. An error that escapes a window handler is shown in a message box
// with its text — the application's error report — instead of ending the program.
class TApplication final : public QApplication {
 public:
  using TErrorReport = std::function<void(const std::string& text)>;

  TApplication(int& argc, char** argv);
  void SetErrorReport(TErrorReport report) { report_ = std::move(report); }
  void ReportError(const std::string& text);

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  TErrorReport report_;
};

}  // namespace pellavo
