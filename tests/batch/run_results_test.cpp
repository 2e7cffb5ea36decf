#include <gtest/gtest.h>
#include <unistd.h>

#include "batch/batch_run.h"
#include "batch/output_naming.h"
#include "batch/replaced_sources.h"
#include "batch/run_tally.h"
#include "support/fake_view.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

TFileOutcome Outcome(TFileStatus status, std::string error = {}) {
  TFileOutcome o;
  o.Source = "/p/a.jpg";
  o.Output = "/out/a.png";
  o.Written = status == TFileStatus::Written;
  o.Skipped = status == TFileStatus::Skipped;
  o.Error = std::move(error);
  return o;
}

TEST(RunTally, TheSummaryAddsCountsOnlyWhenSomethingWasNotWritten) {
  const struct {
    int written, failed, skipped;
    bool stopped;
    const char* added;
  } cases[] = {
      {12, 0, 0, false, ""},
      {10, 2, 0, false, ", 10 written, 2 failed"},
      {0, 3, 0, false, ", 0 written, 3 failed"},
      {4, 0, 1, false, ", 4 written, 1 skipped"},
      {4, 1, 2, false, ", 4 written, 1 failed, 2 skipped"},
      {4, 0, 0, true, ", stopped"},
      {3, 1, 0, true, ", 3 written, 1 failed, stopped"},
  };
  for (const auto& c : cases) {
    TRunTally tally;
    for (int i = 0; i < c.written; ++i) tally.Count(Outcome(TFileStatus::Written));
    for (int i = 0; i < c.failed; ++i) tally.Count(Outcome(TFileStatus::Failed));
    for (int i = 0; i < c.skipped; ++i) tally.Count(Outcome(TFileStatus::Skipped));
    tally.Stopped = c.stopped;
    EXPECT_EQ(TallyText(tally), c.added);
    EXPECT_EQ(tally.Finished(), c.written + c.failed + c.skipped);
  }
}

TEST(RunTally, EachOutcomeInOneLineLedByItsSource) {
  const struct {
    TFileOutcome outcome;
    TFileStatus status;
    const char* line;
  } cases[] = {
      {Outcome(TFileStatus::Written), TFileStatus::Written, "/p/a.jpg: written as /out/a.png"},
      {Outcome(TFileStatus::Failed, "JPEG error #43: Premature end of JPEG file"), TFileStatus::Failed,
       "/p/a.jpg: JPEG error #43: Premature end of JPEG file"},
      {Outcome(TFileStatus::Failed), TFileStatus::Failed, "/p/a.jpg: not written"},
      {Outcome(TFileStatus::Skipped), TFileStatus::Skipped,
       "/p/a.jpg: skipped: the extension is not one of an image format"},
      {Outcome(TFileStatus::Skipped, "the output exists"), TFileStatus::Skipped, "/p/a.jpg: skipped: the output exists"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.outcome.Status(), c.status) << c.line;
    EXPECT_EQ(OutcomeLine(c.outcome), c.line);
  }
}

TEST(ReplacedSources, CountsSourcesTheOutputsLandOnHoweverThePathIsSpelt) {
  test::TTempDir dir;
  for (const char* name : {"a.jpg", "b.jpg", "c.png", "sub/d.jpg"}) {
    if (std::string(name).starts_with("sub/")) ::mkdir(dir.File("sub").c_str(), 0755);
    test::WriteBytes(dir.File(name), {1, 2, 3});
  }
  ::symlink(dir.Path().c_str(), dir.File("link").c_str());
  ::symlink(dir.File("a.jpg").c_str(), dir.File("alias.jpg").c_str());
  const std::string a = dir.File("a.jpg"), b = dir.File("b.jpg"), c = dir.File("c.png"), d = dir.File("sub/d.jpg");
  const struct {
    const char* what;
    std::vector<TPlannedOutput> plan;
    bool copies;
    int replaced;
  } cases[] = {
      {"beside the sources in their own format", {{a, a}, {b, b}}, false, 2},
      {"through a link to the folder", {{a, dir.File("link/a.jpg")}}, false, 1},
      {"through \"..\"", {{a, dir.File("sub/../a.jpg")}}, false, 1},
      {"another format: no file there", {{a, dir.File("a.png")}}, false, 0},
      {"onto another entry's source", {{dir.File("c.jpg"), c}, {c, dir.File("c.gif")}}, false, 1},
      {"a file that is no source of the run", {{d, c}}, false, 0},
      {"two outputs on one source count once", {{a, b}, {b, b}}, false, 1},
      {"an output that is a link to a source replaces the link", {{a, dir.File("a.png")}, {b, dir.File("alias.jpg")}},
       false, 0},
      {"a source that is a link, written beside itself", {{dir.File("alias.jpg"), dir.File("alias.jpg")}}, false, 1},
      {"a copy onto its own path rewrites the same bytes", {{a, a}}, true, 0},
      {"a copy onto another source replaces it", {{d, a}, {a, dir.File("elsewhere/a.jpg")}}, true, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(ReplacedSourceCount(c.plan, c.copies), c.replaced) << c.what;
}

TEST(WrittenFileName, AnAliasTakesTheFormatsOwnExtension) {
  const struct {
    const char *output, *converted;
  } cases[] = {
      {"/p/photo.JPEG", "/p/photo.jpg"}, {"/p/IMG.JPG", "/p/IMG.JPG"}, {"/p/a.png", "/p/a.png"},
      {"/p/a.txt", "/p/a.txt"},          {"/p/noext", "/p/noext"},
  };
  for (const auto& c : cases) EXPECT_EQ(WrittenFileName(c.output), c.converted) << c.output;
}

// Start's question before a run replaces its own sources, with probes that write nothing.
class TNoWorker : public TBatchWorker {
 public:
  using TBatchWorker::TBatchWorker;

 protected:
  TWorkerReport Work() override { return {Order().Output, {Order().Source, Order().Output, "", true, false}}; }
};

TEST(BatchRun, OverwritingTheRunsOwnSourcesIsAskedOnceBeforeAnythingStarts) {
  test::TTempDir dir, other;
  for (const char* name : {"a.jpg", "b.jpg", "c.png"}) test::WriteBytes(dir.File(name), {1});
  const struct {
    const char* what;
    bool overwrite;
    std::string dest;
    TOutputFormat format;
    bool fast_copy;
    int asked;  // the count asked about; 0 when nothing is asked
  } cases[] = {
      {"same format beside the sources", true, "", TOutputFormat::Source, false, 3},
      {"without overwriting a free name is taken", false, "", TOutputFormat::Source, false, 0},
      {"the destination is the sources' folder", true, dir.Path() + "/", TOutputFormat::Source, false, 3},
      {"another folder", true, other.Path(), TOutputFormat::Source, false, 0},
      {".png beside the sources replaces c.png only", true, "", TOutputFormat::Png, false, 1},
      {"copies onto their own paths keep their bytes", true, dir.Path(), TOutputFormat::Source, true, 0},
  };
  for (const auto& c : cases) {
    for (const bool answer : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.what << ", answered " << answer);
      test::TFakeView view;
      view.entries = {dir.File("a.jpg"), dir.File("b.jpg"), dir.File("c.png")};
      view.settings.Overwrite = c.overwrite;
      view.settings.DestFolder = c.dest;
      view.settings.OutputFormat = c.format;
      view.settings.FastCopy = c.fast_copy;
      view.replace_answer = answer;
      int launched = 0;
      view.Run([&](const TWorkerOrder& order) {
        ++launched;
        return std::make_unique<TNoWorker>(order);
      });
      EXPECT_EQ(view.replace_questions, c.asked ? std::vector<int>{c.asked} : std::vector<int>{});
      EXPECT_EQ(launched, c.asked && !answer ? 0 : 3);
    }
  }
}

}  // namespace
}  // namespace pellavo
