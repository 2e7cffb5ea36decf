#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <thread>
#include <vector>

#include "core/errors.h"
#include "formats/metafile/metafile.h"
#include "formats/metafile/play.h"
#include "support/temp_dir.h"

// Fontconfig keeps its configuration for the life of the process; in a sanitizer build that
// shows up as a leak once text has been drawn.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace pellavo {
namespace {

// Inputs the fuzzer found faults with, kept so that the fixed faults stay fixed (they show up
// as crashes here, and as reports in a sanitizer build).
TEST(MetafileFuzzFindings, ReadPlayAndConvertWithoutFault) {
  const std::string folder = "tests/data/metafile/fuzz/";
  DIR* dir = opendir(folder.c_str());
  ASSERT_NE(dir, nullptr);
  std::vector<std::string> names;
  while (dirent* e = readdir(dir))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(dir);
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    TMetafile mf;
    try {
      mf = test::LoadMetafile(test::ReadBytes(folder + name));
    } catch (const EInvalidGraphic&) {
      continue;
    }
    std::vector<TColor32> px(32 * 32, 0);
    mf.Draw(TPixels32{px.data(), 32, 32}, Rect(0, 0, 32, 32));
    if (int64_t{mf.Width()} * mf.Height() <= 256 * 256) {
      TMemoryStream emf, wmf;
      mf.SaveAsEmf(emf);
      mf.SaveAsWmf(wmf);
    }
  }
}

TEST(MetafilePlayback, WorkersPlayAtTheSameTime) {
  // Each worker plays its own metafile; text goes through the font machinery they share.
  const std::vector<uint8_t> bytes = test::ReadBytes("tests/data/metafile/libreoffice-bitmap-text.emf");
  TMetafile reference = test::LoadMetafile(bytes);
  const std::vector<TColor32> expected = test::Play(reference, 0xFFFFFFFF);
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> workers;
  for (size_t t = 0; t < mismatches.size(); ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        TMetafile mf = test::LoadMetafile(bytes);
        if (test::Play(mf, 0xFFFFFFFF) != expected) ++mismatches[t];
      }
    });
  for (std::thread& w : workers) w.join();
  for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
}  // namespace pellavo

#include "formats/metafile/player.h"

namespace pellavo {
namespace {

TEST(MetafileText, AnsiTextIsTheWesternWindowsCodePage) {
  const uint8_t bytes[] = {'A', 0x80, 0x81, 0x92, 0x9F, 0xA0, 0xE9};
  EXPECT_EQ(metafile::FromWindows1252(bytes, sizeof bytes), U"A\u20AC\uFFFD\u2019\u0178\u00A0\u00E9");
}

}  // namespace
}  // namespace pellavo
