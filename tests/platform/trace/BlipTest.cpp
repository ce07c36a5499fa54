#include "platform/trace/Blip.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Counts live copies, to prove that the ring destroys the arguments it drops.
struct Tracked {
  static inline int live = 0;
  static inline int formatted = 0;
  int value;
  explicit Tracked(int v) : value(v) { ++live; }
  Tracked(const Tracked& o) : value(o.value) { ++live; }
  Tracked& operator=(const Tracked&) = default;
  ~Tracked() { --live; }
};

// Larger than a record's inline argument storage.
struct Big {
  std::array<char, Blip::kInlineArgBytes + 8> bytes{};
  int value = 0;
};

}  // namespace

template <>
struct fmt::formatter<Tracked> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const Tracked& t, Ctx& ctx) const {
    ++Tracked::formatted;
    return fmt::format_to(ctx.out(), "t{}", t.value);
  }
};

template <>
struct fmt::formatter<Big> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const Big& b, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "big{}", b.value);
  }
};

namespace {

using Blip::TraceHandle;
using Strings = std::vector<std::string>;

class BlipTest : public testing::Test {
 protected:
  void SetUp() override {
    Tracked::live = 0;
    Tracked::formatted = 0;
  }
};

TEST_F(BlipTest, DecodesBothPlaceholderStylesOldestFirst) {
  TraceHandle blip(8);
  blip.record("grpToPolMap: policy {} updated from {} to {} for seqNo {}", std::string("p1"), 1,
              2.5, 10u);
  blip.record("::otherSeqExistInPolicy: %s exist as seqNo %s in policy %s", "g1", 10.0,
              std::string("p2"));
  blip.record("no arguments");
  EXPECT_EQ(blip.decoded(), (Strings{"grpToPolMap: policy p1 updated from 1 to 2.5 for seqNo 10",
                                     "::otherSeqExistInPolicy: g1 exist as seqNo 10 in policy p2",
                                     "no arguments"}));
  EXPECT_EQ(blip.size(), 3u);
  EXPECT_EQ(blip.written(), 3u);
}

TEST_F(BlipTest, ArgumentsAreCopiedWhenWritten) {
  TraceHandle blip(4);
  Tracked::formatted = 0;
  {
    std::string name = "before";
    std::string viewed = "viewed text";
    blip.record("{} {}", name, std::string_view(viewed));
    blip.record("{}", Tracked(7));
    name = "after";
    viewed.assign(viewed.size(), 'x');
  }
  // Writing formats nothing; decoding does.
  EXPECT_EQ(Tracked::formatted, 0);
  EXPECT_EQ(Tracked::live, 1);
  EXPECT_EQ(blip.decoded(), (Strings{"before viewed text", "t7"}));
  EXPECT_EQ(Tracked::formatted, 1);
}

TEST_F(BlipTest, WrapAroundKeepsTheNewestAndReleasesTheOverwritten) {
  {
    TraceHandle blip(3);
    for (int i = 0; i < 5; ++i) blip.record("r{} {}", i, Tracked(i));
    EXPECT_EQ(Tracked::live, 3);
    EXPECT_EQ(blip.size(), 3u);
    EXPECT_EQ(blip.capacity(), 3u);
    EXPECT_EQ(blip.written(), 5u);
    EXPECT_EQ(blip.decoded(), (Strings{"r2 t2", "r3 t3", "r4 t4"}));
    const auto records = blip.records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records.front().seq, 2u);
    EXPECT_EQ(records.back().seq, 4u);

    blip.clear();
    EXPECT_EQ(Tracked::live, 0);
    EXPECT_EQ(blip.size(), 0u);
    EXPECT_TRUE(blip.decoded().empty());

    // Numbering goes on after clear; the ring fills again from empty.
    blip.record("s{}", Tracked(8));
    blip.record("s{}", Tracked(9));
    EXPECT_EQ(blip.records().front().seq, 5u);
    EXPECT_EQ(blip.decoded(), (Strings{"st8", "st9"}));
    EXPECT_EQ(Tracked::live, 2);
  }
  // Destruction releases what the ring still holds.
  EXPECT_EQ(Tracked::live, 0);
}

TEST_F(BlipTest, OversizedPacksAreFormattedWhenWritten) {
  static_assert(sizeof(Big) > Blip::kInlineArgBytes);
  TraceHandle blip(2);
  Big big;
  big.value = 3;
  blip.record("{} and {}", big, Tracked(4));
  // Formatted at once: the record keeps texts, not the arguments.
  EXPECT_EQ(Tracked::formatted, 1);
  EXPECT_EQ(Tracked::live, 0);
  EXPECT_EQ(blip.decoded(), Strings{"big3 and t4"});
  EXPECT_EQ(Tracked::formatted, 1);

  // Preformatted and inline records share the ring and wrap alike.
  blip.record("inline {}", Tracked(5));
  big.value = 6;
  blip.record("%s only", big);
  EXPECT_EQ(blip.decoded(), (Strings{"inline t5", "big6 only"}));
  EXPECT_EQ(blip.written(), 3u);
}

TEST_F(BlipTest, DisabledHandleRecordsNothingAndKeepsItsRecords) {
  TraceHandle blip(4);
  blip.record("kept");
  blip.enabledIs(false);
  EXPECT_FALSE(blip.enabled());
  blip.record("dropped {}", Tracked(1));
  EXPECT_EQ(Tracked::live, 0);
  EXPECT_EQ(blip.written(), 1u);
  blip.enabledIs(true);
  blip.record("again");
  EXPECT_EQ(blip.decoded(), (Strings{"kept", "again"}));
}

TEST_F(BlipTest, ZeroCapacityKeepsOneRecord) {
  TraceHandle blip(0);
  EXPECT_EQ(blip.capacity(), 1u);
  blip.record("a {}", Tracked(1));
  blip.record("b {}", Tracked(2));
  EXPECT_EQ(blip.decoded(), Strings{"b t2"});
  EXPECT_EQ(Tracked::live, 1);
}

TEST_F(BlipTest, DumpWritesSequenceNumberedLines) {
  TraceHandle blip(2);
  blip.record("first");
  blip.record("second {}", 2);
  blip.record("third %s", "x");
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  blip.dump(file);
  std::rewind(file);
  char buffer[128] = {};
  const size_t read = std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  EXPECT_EQ(std::string(buffer, read), "#1 second 2\n#2 third x\n");
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
