#include "platform/trace/Duolog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/Counted.h"
#include "tests/support/TraceLevels.h"

namespace {

using IeTest::Counted;
using Mica::Duolog;
using Strings = std::vector<std::string>;

constexpr const char* kExist = "::otherSeqExistInPolicy: %s exist as seqNo %s in policy %s";

// The same text goes to the debug trace (when its level is on) and to the Blip ring (always);
// with the level off nothing is formatted for the text trace; a null ring writes the text only.
TEST(DuologTest, WritesTheSameTextToBothTraces) {
  Counted::resetCounts();
  Mica::TraceCapture capture;
  Mica::DebugHandler debug("Util");
  Blip::TraceHandle blip(16);
  debug.levelMaskIs(uint32_t{1} << 5);
  Duolog::trace(&blip, debug, 5, kExist, std::string("g1"), 10.0, "p1");
  Duolog::trace(&blip, debug, 6, "value %s", Counted(4));
  EXPECT_EQ(Counted::formatted, 0);
  const std::string expected = "::otherSeqExistInPolicy: g1 exist as seqNo 10 in policy p1";
  EXPECT_EQ(IeTest::levelled(capture, "Util"), Strings{"5 " + expected});
  EXPECT_EQ(blip.decoded(), (Strings{expected, "value c4"}));

  auto handler = Mica::Platform::getDebugHandler("DuologTest.Null", true);
  Duolog::trace(nullptr, handler, 5, "::otherSeqExistInPolicy: no other %s exist in policy %s", "g2", "p3");
  EXPECT_EQ(capture.texts(5).back(), "::otherSeqExistInPolicy: no other g2 exist in policy p3");
  EXPECT_EQ(blip.written(), 2u);
}

}  // namespace
