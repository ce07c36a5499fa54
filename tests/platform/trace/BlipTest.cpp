#include "platform/trace/Blip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/Counted.h"
#include "tests/support/MemoryFile.h"

namespace {

using Blip::TraceHandle;
using IeTest::Counted;
using Strings = std::vector<std::string>;

class BlipTest : public testing::Test {
 protected:
  void SetUp() override { Counted::resetCounts(); }
};

// A disabled handle neither copies nor counts what it is given.
TEST_F(BlipTest, ArgumentsAreCopiedWhenWrittenAndADisabledHandleRecordsNothing) {
  TraceHandle blip(4);
  {
    std::string name = "before";
    std::string viewed = "viewed text";
    blip.record("{} {}", name, std::string_view(viewed));
    blip.record("{}", Counted(7));
    name = "after";
    viewed.assign(viewed.size(), 'x');
  }
  blip.enabledIs(false);
  blip.record("dropped {}", Counted(1));
  EXPECT_EQ(blip.written(), 2u);
  blip.enabledIs(true);
  blip.record("again");
  // Writing formats nothing; decoding does.
  EXPECT_EQ(Counted::formatted, 0);
  EXPECT_EQ(Counted::live, 1);
  EXPECT_EQ(blip.decoded(), (Strings{"before viewed text", "c7", "again"}));
  EXPECT_EQ(Counted::formatted, 1);
}

// Dumped lines carry the records' sequence numbers, which go on after clear.
TEST_F(BlipTest, WrapAroundKeepsTheNewestAndReleasesTheOverwritten) {
  {
    TraceHandle blip(3);
    for (int i = 0; i < 5; ++i) blip.record(i == 4 ? "r{} %s" : "r{} {}", i, Counted(i));
    EXPECT_EQ(Counted::live, 3);
    EXPECT_EQ(blip.written(), 5u);
    IeTest::MemoryFile file;
    blip.dump(file.get());
    EXPECT_EQ(file.text(), "#2 r2 c2\n#3 r3 c3\n#4 r4 c4\n");
    blip.clear();
    EXPECT_EQ(Counted::live, 0);
    EXPECT_TRUE(blip.decoded().empty());
    blip.record("s{}", Counted(8));
    blip.record("s{}", Counted(9));
    EXPECT_EQ(blip.records().front().seq, 5u);
    EXPECT_EQ(blip.decoded(), (Strings{"sc8", "sc9"}));
    EXPECT_EQ(Counted::live, 2);
    // A handle asked for no records keeps one.
    TraceHandle one(0);
    EXPECT_EQ(one.capacity(), 1u);
    one.record("a {}", Counted(1));
    one.record("b {}", Counted(2));
    EXPECT_EQ(one.decoded(), Strings{"b c2"});
    EXPECT_EQ(Counted::live, 3);
  }
  // Destruction releases what the rings still hold.
  EXPECT_EQ(Counted::live, 0);
}

// Three strings are larger than a record's inline argument storage.
TEST_F(BlipTest, OversizedPacksAreFormattedWhenWritten) {
  static_assert(3 * sizeof(std::string) > Blip::kInlineArgBytes);
  TraceHandle blip(2);
  const std::string a = "a", b = "b";
  blip.record("{}{}{} and {}", a, b, a, Counted(4));
  // Formatted at once: the record keeps texts, not the arguments.
  EXPECT_EQ(Counted::formatted, 1);
  EXPECT_EQ(Counted::live, 0);
  EXPECT_EQ(blip.decoded(), Strings{"aba and c4"});
  EXPECT_EQ(Counted::formatted, 1);

  // Preformatted and inline records share the ring and wrap alike.
  blip.record("inline {}", Counted(5));
  blip.record("%s%s%s only", a, b, b);
  EXPECT_EQ(blip.decoded(), (Strings{"inline c5", "abb only"}));
  EXPECT_EQ(blip.written(), 3u);
}

// Placeholders ("{}" and "%s") take the texts in order. Lone braces and percent signs, other
// conversions and a trailing opener are text; placeholders without an argument stay; inserted
// texts are not scanned again.
TEST(BlipSubstituteTest, ReplacesPlaceholdersInOrderAndKeepsEverythingElse) {
  struct Case {
    const char* format;
    Strings args;
    const char* text;
  };
  const Case cases[] = {{"a {} b %s c", {"1", "2"}, "a 1 b 2 c"}, {"{}{}%s", {"x", "y", "z"}, "xyz"},
                        {"", {}, ""},                             {"plain", {"unused"}, "plain"},
                        {"{ x } %d 100% {", {"a"}, "{ x } %d 100% {"}, {"[{%s}]", {"a"}, "[{a}]"},
                        {"{} %s {}", {"{}"}, "{} %s {}"},          {"%s=%s", {"%s"}, "%s=%s"},
                        {"%%s", {"v"}, "%v"}};
  for (const Case& c : cases) EXPECT_EQ(Blip::substitute(c.format, c.args), c.text) << c.format;
}

}  // namespace
