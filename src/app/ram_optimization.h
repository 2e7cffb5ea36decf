#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>

namespace pellavo {

// Hands the memory the process no longer uses back to the system. On this platform that is the
// heap's free memory (malloc_trim), which is the nearest there is to emptying the working set
// without privileges: pages still in use stay resident.
void TrimWorkingSet();

// TRamOptimization: trims the process's memory every Period milliseconds while Enabled. A
// change of either restarts the timer, so the first trim comes one whole period after it.
class TRamOptimization final : public QObject {
  Q_OBJECT
 public:
  static constexpr int kDefaultPeriod = 30000;

  using TTrim = std::function<void()>;
  using TErrorReport = std::function<void(const std::string& text)>;

  // Enabled, with the default period: the timer runs from here on.
  explicit TRamOptimization(QObject* parent = nullptr);
  ~TRamOptimization() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // Milliseconds between two trims; 0 stops trimming.
  int Period() const { return period_; }
  void SetPeriod(int period);
  // Informational text for form editors; a write changes nothing.
  QString About() const;
  void SetAbout(const QString&) {}

  // What a trim does: TrimWorkingSet unless replaced.
  void SetTrim(TTrim trim) { trim_ = std::move(trim); }
  // Where a failed trim is reported; the timer keeps running.
  void SetErrorReport(TErrorReport report) { report_ = std::move(report); }
  const QTimer& Timer() const { return timer_; }

 private:
  // Stops the timer, then starts it again when trimming is on.
  void Restart();
  void Trim();

  QTimer timer_;
  bool enabled_ = true;
  int period_ = kDefaultPeriod;
  TTrim trim_ = TrimWorkingSet;
  TErrorReport report_;
};

}  // namespace pellavo
