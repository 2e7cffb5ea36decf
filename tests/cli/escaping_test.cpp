#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/escaping.h"
#include "cli/path_list.h"

namespace pellavo {
namespace {

using namespace std::string_literals;

TEST(Escaping, TerminalLinesAndJsonStringsKeepEveryByteRecoverable) {
  struct Case {
    std::string text;
    const char* terminal;
    const char* json;
  };
  const Case cases[] = {
      {"/pics/a.jpg", "/pics/a.jpg", R"("/pics/a.jpg")"},
      {"a\nb\r\tc", R"(a\nb\r\tc)", R"("a\nb\r\tc")"},
      {"\x1b[31mred", R"(\x1b[31mred)", R"("\u001b[31mred")"},
      {"nul\0x"s, R"(nul\x00x)", R"("nul\u0000x")"},
      {"del\x7f", R"(del\x7f)", R"("del\u007f")"},
      {"back\\slash \"quoted\"", R"(back\\slash "quoted")", R"("back\\slash \"quoted\"")"},
      // Valid UTF-8 passes; the C1 controls (U+0085, U+009B, a CSI to some terminals) do not.
      {"\xc3\xbc\xe2\x82\xac\xf0\x9f\x98\x80", "\xc3\xbc\xe2\x82\xac\xf0\x9f\x98\x80",
       "\"\xc3\xbc\xe2\x82\xac\xf0\x9f\x98\x80\""},
      {"\xc2\x85\xc2\x9b", R"(\u0085\u009b)", R"("\u0085\u009b")"},
      // Bytes outside valid UTF-8: a lone byte, a cut sequence, an overlong "/", a surrogate.
      {"\xff", R"(\xff)", R"("\udcff")"},
      {"\xe2\x82", R"(\xe2\x82)", R"("\udce2\udc82")"},
      {"\xc0\xaf", R"(\xc0\xaf)", R"("\udcc0\udcaf")"},
      {"\xed\xa0\x80", R"(\xed\xa0\x80)", R"("\udced\udca0\udc80")"},
      {"", "", R"("")"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeForTerminal(c.text), c.terminal) << c.terminal;
    EXPECT_EQ(JsonString(c.text), c.json) << c.json;
  }
}

TEST(PathList, SplitsAtTheSeparatorDropsBlankLinesAndKeepsEmptyNulNames) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitPathList("a.jpg\nb c.png\n\nd.gif", '\n'), (V{"a.jpg", "b c.png", "d.gif"}));
  // A carriage return belongs to the name: a line list from another system shows it escaped.
  EXPECT_EQ(SplitPathList("a.jpg\r\n", '\n'), (V{"a.jpg\r"}));
  EXPECT_EQ(SplitPathList("new\nline.jpg\0\0b.jpg\0"s, '\0'), (V{"new\nline.jpg", "", "b.jpg"}));
  EXPECT_EQ(SplitPathList("\0"s, '\0'), V{""});
  EXPECT_EQ(SplitPathList("", '\n'), V{});
}

}  // namespace
}  // namespace pellavo
