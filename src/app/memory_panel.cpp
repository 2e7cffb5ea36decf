#include "app/memory_panel.h"

#include <algorithm>

#include "app/dialogs.h"
#include "ui_main_window.h"

namespace pellavo {

TMemoryPanel::TMemoryPanel(Ui::TForm1& ui, TDialogs& dialogs, QObject* parent)
    : QObject(parent), ui_(ui), timer_(this), trimmer_(this) {
  setObjectName(QStringLiteral("MemoryPanel"));
  timer_.setObjectName(QStringLiteral("Timer1"));
  trimmer_.setObjectName(QStringLiteral("RamOptimization1"));
  // Off before the period changes, so no trim is ever scheduled with the class's defaults.
  trimmer_.SetEnabled(false);
  trimmer_.SetPeriod(kTrimPeriodMs);
  trimmer_.SetErrorReport([&dialogs](const std::string& text) { dialogs.Message(text); });

  connect(&timer_, &QTimer::timeout, this, &TMemoryPanel::Refresh);
  connect(ui_.CheckBox2, &QCheckBox::toggled, this, &TMemoryPanel::ShowPanel);
  connect(ui_.SpeedButton1, &QToolButton::toggled, this, &TMemoryPanel::OptimizeToggled);
  timer_.start(kRefreshMs);
}

void TMemoryPanel::Refresh() {
  const std::optional<TMemoryCounters> counters = reader_();
  if (!counters) return;
  // The system's peak cannot go down by itself, but it can be reset from outside; the figure
  // shown never goes down, and never below the current one.
  peak_ = std::max({peak_, counters->PeakWorkingSetSize, counters->WorkingSetSize});
  ui_.WLabel->setText(QString::fromStdString(MemoryUsageText(counters->WorkingSetSize)));
  ui_.PLabel->setText(QString::fromStdString(PeakMemoryUsageText(peak_)));
}

void TMemoryPanel::ShowPanel(bool shown) {
  ui_.Panel3->setVisible(shown);
  if (shown)
    timer_.start(kRefreshMs);
  else
    timer_.stop();
}

void TMemoryPanel::OptimizeToggled(bool down) {
  trimmer_.SetEnabled(down);
  const QString caption = down ? QStringLiteral("Optimizing") : QStringLiteral("Optimize");
  ui_.SpeedButton1->setText(caption);
  ui_.SpeedButton1->setAccessibleName(caption);
}

}  // namespace pellavo
