#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>
#include <QToolButton>
#include <deque>
#include <stdexcept>

#include "app/memory_panel.h"
#include "app/ram_optimization.h"
#include "app/window_fixture.h"

namespace pellavo {
namespace {

class MemoryPanel : public test::WindowFixture {
 protected:
  std::string Label(const char* name) { return Find<QLabel>(name)->text().toStdString(); }
  TMemoryPanel& Panel() { return window->MemoryPanel(); }
  const QTimer& Timer1() { return *window->findChild<QTimer*>("Timer1"); }
  TRamOptimization& Trimmer() { return *window->findChild<TRamOptimization*>("RamOptimization1"); }
};

TEST_F(MemoryPanel, ShowMemoryUseShowsThePanelAndRunsTheRefreshWhileItIsShown) {
  ASSERT_NE(window->findChild<QTimer*>("Timer1"), nullptr);
  EXPECT_FALSE(Find("Panel3")->isVisible());
  EXPECT_TRUE(Timer1().isActive()) << "the figures are refreshed from the start, panel hidden";
  EXPECT_EQ(Timer1().interval(), 100);
  // Real figures arrive on their own.
  EXPECT_TRUE(WaitUntil([this] { return Label("WLabel").ends_with("K"); }, 10000)) << Label("WLabel");

  auto* box = Find<QCheckBox>("CheckBox2");
  for (bool on : {true, false, true}) {
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(Find("Panel3")->isVisible(), on);
    EXPECT_EQ(Timer1().isActive(), on);
  }
}

TEST_F(MemoryPanel, FiguresComeFromOneReadingThePeakNeverGoesDownAndAFailedReadChangesNothing) {
  std::deque<std::optional<TMemoryCounters>> readings = {
      TMemoryCounters{12345678, 20000000},
      TMemoryCounters{10000000, 15000000},  // the system's peak was reset
      std::nullopt,
      TMemoryCounters{30000000, 25000000},  // the current figure above a stale peak
  };
  Panel().SetCounterReader([&readings] {
    const std::optional<TMemoryCounters> next = readings.front();
    readings.pop_front();
    return next;
  });
  const struct {
    const char *usage, *peak;
  } expected[] = {
      {"Memory usage: 12056K", "Peak memory usage: 19531K"},
      {"Memory usage: 9766K", "Peak memory usage: 19531K"},
      {"Memory usage: 9766K", "Peak memory usage: 19531K"},
      {"Memory usage: 29297K", "Peak memory usage: 29297K"},
  };
  for (const auto& e : expected) {
    Panel().Refresh();
    EXPECT_EQ(Label("WLabel"), e.usage);
    EXPECT_EQ(Label("PLabel"), e.peak);
  }
}

TEST_F(MemoryPanel, OptimizeTogglesTheTrimmerAndClosingTheWindowSwitchesItOff) {
  auto* button = Find<QToolButton>("SpeedButton1");
  TRamOptimization& trimmer = Trimmer();
  EXPECT_FALSE(trimmer.Enabled());
  EXPECT_EQ(trimmer.Period(), 2000);
  EXPECT_FALSE(trimmer.Timer().isActive());

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_TRUE(button->isChecked());
  EXPECT_EQ(button->text(), "Optimizing");
  EXPECT_TRUE(trimmer.Enabled());
  EXPECT_TRUE(trimmer.Timer().isActive());
  EXPECT_EQ(trimmer.Timer().interval(), 2000);

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(button->text(), "Optimize");
  EXPECT_FALSE(trimmer.Timer().isActive());

  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(trimmer.Timer().isActive());
  window->close();
  EXPECT_FALSE(trimmer.Enabled());
  EXPECT_FALSE(trimmer.Timer().isActive());
}

TEST(RamOptimization, TrimsOnePeriodAfterEachRestartAndReportsFailuresWithoutStopping) {
  TRamOptimization trimmer;
  EXPECT_TRUE(trimmer.Enabled());
  EXPECT_EQ(trimmer.Period(), 30000);
  EXPECT_TRUE(trimmer.Timer().isActive()) << "the class's defaults trim";

  int trims = 0;
  std::vector<std::string> reports;
  trimmer.SetTrim([&trims] {
    if (++trims == 1) throw std::runtime_error("trim failed");
  });
  trimmer.SetErrorReport([&reports](const std::string& text) { reports.push_back(text); });

  const struct {
    bool enabled;
    int period;
    bool running;
  } states[] = {{true, 0, false}, {false, 50, false}, {true, 50, true}};
  for (const auto& s : states) {
    trimmer.SetEnabled(s.enabled);
    trimmer.SetPeriod(s.period);
    EXPECT_EQ(trimmer.Timer().isActive(), s.running) << s.enabled << " " << s.period;
  }
  EXPECT_EQ(trims, 0) << "the first trim waits a whole period";
  QSignalSpy ticks(&trimmer.Timer(), &QTimer::timeout);
  ASSERT_TRUE(ticks.wait(10000));
  EXPECT_EQ(reports, std::vector<std::string>{"trim failed"});
  EXPECT_TRUE(trimmer.Timer().isActive()) << "a failed trim leaves the timer running";
  ASSERT_TRUE(ticks.wait(10000));
  EXPECT_GE(trims, 2);
  EXPECT_EQ(reports.size(), 1u);
}

}  // namespace
}  // namespace pellavo
