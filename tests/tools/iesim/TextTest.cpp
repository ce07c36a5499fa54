// Which texts a scenario may hold, and how a refused one is printed (an invalid byte, an overlong
// form, a newline, a C1 control and a NUL are pinned through the loader by bad/hostile_texts).
#include "tools/iesim/Text.h"

#include <gtest/gtest.h>

#include <string>

namespace IeSim {
namespace {

struct Case {
  std::string text;
  std::string error;    // textSafetyError("name", text)
  std::string escaped;  // escaped(text)
};

TEST(TextTest, RefusesBrokenUtf8AndControlsAndPrintsThemEscaped) {
  for (const Case& c : {
           Case{"Gr\xc3\xbcn \xe2\x82\xac \xf0\x9f\x98\x80", "", "Gr\xc3\xbcn \xe2\x82\xac \xf0\x9f\x98\x80"},
           Case{"a\"b\\c", "", "a\\\"b\\\\c"},
           // A lead byte whose continuation is missing, at the end and before an ASCII byte.
           Case{"ab\xc3", "name \"ab\\xc3\" is not valid UTF-8 (byte 0xC3 at offset 2)", "ab\\xc3"},
           Case{"\xe2\x82x", "name \"\\xe2\\x82x\" is not valid UTF-8 (byte 0xE2 at offset 0)", "\\xe2\\x82x"},
           // A UTF-16 surrogate, past U+10FFFF.
           Case{"\xed\xa0\x80", "name \"\\xed\\xa0\\x80\" is not valid UTF-8 (byte 0xED at offset 0)",
                "\\xed\\xa0\\x80"},
           Case{"\xf4\x90\x80\x80",
                "name \"\\xf4\\x90\\x80\\x80\" is not valid UTF-8 (byte 0xF4 at offset 0)",
                "\\xf4\\x90\\x80\\x80"},
           Case{"\t", "name \"\\t\" holds a control character (U+0009 at offset 0)", "\\t"},
           Case{"x\x1b[2J", "name \"x\\x1b[2J\" holds a control character (U+001B at offset 1)",
                "x\\x1b[2J"},
           Case{"\x7f", "name \"\\x7f\" holds a control character (U+007F at offset 0)", "\\x7f"},
       }) {
    EXPECT_EQ(textSafetyError("name", c.text), c.error) << c.escaped;
    EXPECT_EQ(escaped(c.text), c.escaped);
  }
}

}  // namespace
}  // namespace IeSim
