#include "platform/trace/Trace.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/Counted.h"
#include "tests/support/Thrown.h"
#include "tests/support/TraceLevels.h"

namespace {

using Mica::DebugHandler;
using Mica::parseLevelMask;
using Mica::TraceCapture;
using IeTest::Counted;
using Mica::Platform::getDebugHandler;
using Texts = std::vector<std::string>;

uint32_t levels(std::initializer_list<int> on) {
  uint32_t mask = 0;
  for (int level : on) mask |= uint32_t{1} << level;
  return mask;
}

// Only levels in the mask are written, formatted; the others, and levels outside 0..31, are
// neither written nor formatted.
TEST(DebugHandlerTest, WritesAndFormatsOnlyTheLevelsInItsMaskAndIsOnePerName) {
  TraceCapture capture;
  DebugHandler handler("Unit");
  handler.levelMaskIs(levels({5, 7, 31}));
  Counted::resetCounts();
  handler.trace(5, " into( polStatus ): key={} count={}", std::string("p1"), 3);
  handler.trace(6, "value {}", Counted(1));
  handler.traceText(8, "text");
  handler.trace(7, "value {}", Counted(3));
  handler.trace(32, "never");
  handler.traceText(-1, "never");
  EXPECT_EQ(Counted::formatted, 1);
  EXPECT_EQ(IeTest::levelled(capture, "Unit"), (Texts{"5  into( polStatus ): key=p1 count=3", "7 value c3"}));
  EXPECT_TRUE(handler.enabled(31));
  EXPECT_FALSE(handler.enabled(32));
  EXPECT_FALSE(handler.enabled(-1));
  // One handler per name, listed by name; "enable all" applies only when a name is first asked for.
  auto a = getDebugHandler("RegistryTest.List.z", true);
  auto b = getDebugHandler(std::string("RegistryTest.List.z"));
  auto other = getDebugHandler("RegistryTest.List.a");
  EXPECT_EQ(a.get(), b.get());
  EXPECT_NE(a.get(), other.get());
  EXPECT_EQ(getDebugHandler("RegistryTest.List.a", true)->levelMask(), 0u);
  Texts names;
  for (const auto& h : Mica::Platform::debugHandlers()) {
    if (h->name().starts_with("RegistryTest.List.")) names.push_back(h->name());
  }
  EXPECT_EQ(names, (Texts{"RegistryTest.List.a", "RegistryTest.List.z"}));
}

// The default sink is a stream sink on stderr. Captures nest and restore the previous sink; a
// capture filters by level and matches whole texts.
TEST(TraceSinkTest, StreamSinksWriteHandlerLevelAndTextAndCapturesNest) {
  Mica::traceSinkIs(nullptr);
  DebugHandler handler("Stderr");
  handler.levelMaskIs(levels({3}));
  testing::internal::CaptureStderr();
  handler.trace(3, "to {}", "stderr");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Stderr[3]: to stderr\n");
  Mica::TraceSink* const original = Mica::traceSink();
  handler.levelMaskIs(levels({1, 6, 8}));
  {
    TraceCapture outer;
    EXPECT_EQ(Mica::traceSink(), &outer);
    {
      TraceCapture inner;
      handler.traceText(6, "six a");
      handler.traceText(8, "eight");
      handler.traceText(6, "six b");
      EXPECT_EQ(inner.texts(6), (Texts{"six a", "six b"}));
      EXPECT_EQ(inner.texts(), (Texts{"six a", "eight", "six b"}));
      EXPECT_TRUE(inner.contains("eight"));
      EXPECT_FALSE(inner.contains("eigh"));
      inner.clear();
      EXPECT_TRUE(inner.lines().empty());
    }
    EXPECT_EQ(Mica::traceSink(), &outer);
    handler.traceText(1, "outer");
    EXPECT_EQ(outer.texts(), Texts{"outer"});
  }
  EXPECT_EQ(Mica::traceSink(), original);
}

TEST(ParseLevelMaskTest, AcceptsNamesLevelsRangesAndListsAndErrorsNameTheOffendingText) {
  const std::pair<const char*, uint32_t> cases[] = {
      {" all ", ~uint32_t{0}}, {"none", 0u}, {"0", levels({0})}, {"31", levels({31})},
      {"6-9", levels({6, 7, 8, 9})}, {"0,6-9", levels({0, 6, 7, 8, 9})}, {"4-4", levels({4})},
      {" 1 , 3 - 4 ", levels({1, 3, 4})}, {"0-31", ~uint32_t{0}}};
  for (const auto& [text, mask] : cases) EXPECT_EQ(parseLevelMask(text), mask) << text;
  const std::pair<const char*, const char*> errors[] = {
      {"", "\"\""},     {"x", "\"x\""},     {"0,40", "\"40\""},   {"32", "\"32\""},       {"9-6", "\"9-6\""},
      {"6-", "\"6-\""}, {"-1", "\"-1\""},   {"1,,2", "\"\""},     {"7a", "\"7a\""},       {"1-2-3", "\"1-2-3\""},
      {"All", "\"All\""}, {"99999999999", "\"99999999999\""}};
  for (const auto& c : errors) {
    const std::string error = IeTest::thrownText<std::invalid_argument>([&] { parseLevelMask(c.first); });
    EXPECT_NE(error.find(c.second), std::string::npos) << c.first << ": " << error;
  }
}

}  // namespace
