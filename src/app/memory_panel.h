#pragma once
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>

#include "app/memory_counters.h"
#include "app/ram_optimization.h"

namespace Ui {
class TForm1;
}

namespace pellavo {

class TDialogs;

// The memory panel (Panel3) and what drives it: "Show memory use" shows and hides it, Timer1
// refreshes its two figures every 100 ms, and the "Optimize" toggle switches the window's
// trimmer, RamOptimization1, on and off.
//
// Timer1 runs from the start, so the figures are current the moment the panel is first shown;
// after that it runs exactly while the panel is shown.
class TMemoryPanel final : public QObject {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 100;
  static constexpr int kTrimPeriodMs = 2000;

  using TCounterReader = std::function<std::optional<TMemoryCounters>()>;

  // Binds the panel's controls of ui; failed trims are reported through dialogs.
  TMemoryPanel(Ui::TForm1& ui, TDialogs& dialogs, QObject* parent);

  // Where the figures come from: ReadMemoryCounters unless replaced.
  void SetCounterReader(TCounterReader reader) { reader_ = std::move(reader); }
  // Timer1Timer: both figures from one reading. When the counters cannot be read the labels
  // keep what they show, and nothing is reported: it would be at every tick.
  void Refresh();
  // The main window is closing: the trimmer stops.
  void WindowClosing() { trimmer_.SetEnabled(false); }

  const QTimer& Timer() const { return timer_; }
  TRamOptimization& Trimmer() { return trimmer_; }

 private:
  void ShowPanel(bool shown);
  void OptimizeToggled(bool down);

  Ui::TForm1& ui_;
  QTimer timer_;
  TRamOptimization trimmer_;
  TCounterReader reader_ = ReadMemoryCounters;
  uint64_t peak_ = 0;  // the largest peak shown so far
};

}  // namespace pellavo
