#include "app/ram_optimization.h"

#include <exception>

#include "core/errors.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pellavo {

void TrimWorkingSet() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

TRamOptimization::TRamOptimization(QObject* parent) : QObject(parent) {
  connect(&timer_, &QTimer::timeout, this, &TRamOptimization::Trim);
  Restart();
}

TRamOptimization::~TRamOptimization() {
  enabled_ = false;
  Restart();
}

void TRamOptimization::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Restart();
}

void TRamOptimization::SetPeriod(int period) {
  if (period == period_) return;
  period_ = period;
  Restart();
}

QString TRamOptimization::About() const {
  return QStringLiteral("Trims the process's memory at a fixed period while enabled.");
}

void TRamOptimization::Restart() {
  timer_.stop();
  if (period_ == 0 || !enabled_) return;
  timer_.start(period_);
  if (!timer_.isActive()) throw Exception("Not enough timers available");
}

void TRamOptimization::Trim() {
  try {
    trim_();
  } catch (const std::exception& e) {
    if (report_) report_(e.what());
  }
}

}  // namespace pellavo
