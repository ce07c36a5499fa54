// The operator traces: exact texts and levels, the order of the change idiom's two steps, and a
// disabled level that formats nothing.
#include "runtime/Operators.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/mica/Entity.h"
#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "tests/support/TraceLevels.h"

namespace {

using Texts = std::vector<std::string>;
constexpr const char* kHandler = "OrbInternetExitStatusSm";
constexpr uint32_t kOperatorLevels = 0xFu << 6;  // 6 to 9

// A state machine with no inputs or outputs: only the traces of its pipelines are looked at.
class OpsSm final : public Flo::StateMachine {
 public:
  explicit OpsSm(const Flo::SmControl& control) : StateMachine("RtTest", "OpsSm", control) {}
};

class Bag final : public Mica::Entity {
 public:
  enum : Mica::AttrId { itemsId = 1, membersId = 2 };
  Mica::ValueMap<int, int, itemsId> items;
  Mica::ValueSet<int, membersId> members;
};

// Counts every time fmt formats it: a disabled trace must never get that far.
struct Probe {
  static inline int formatted = 0;
  friend bool operator==(const Probe&, const Probe&) { return true; }
};

std::string line(int level, std::string text) { return fmt::format("{}|{}", level, text); }

Texts linesOf(const Mica::TraceCapture& capture) { return IeTest::levelled(capture, kHandler, "|"); }

class OperatorsTest : public testing::Test {
 protected:
  OperatorsTest() : blip_(32) {
    control_.qtHandle = &blip_;
    sm_ = Mica::Ptr<OpsSm>(new OpsSm(control_));
  }
  Blip::TraceHandle blip_;
  Flo::SmControl control_;
  Mica::Ptr<OpsSm> sm_;
  Mica::Ptr<Bag> bag_{new Bag()};
};

}  // namespace

template <>
struct fmt::formatter<Probe> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const Probe&, Ctx& ctx) const {
    ++Probe::formatted;
    return fmt::format_to(ctx.out(), "probe");
  }
};

namespace {

TEST_F(OperatorsTest, EachOperatorWritesItsTextAtItsLevel) {
  IeTest::TraceCaptureAt capture(kHandler, kOperatorLevels);
  const Flo::Into into{"into( out.items[ k ] )"};
  Flo::from(*sm_, "p = from( in.items[] ): k={} v={}", 1, Quill::Optional<int>());
  Flo::merge(*sm_, "Line 12: merge( p, q ): k={}", 1);
  EXPECT_TRUE(Flo::filter(*sm_, true, "filter( ok )"));
  EXPECT_FALSE(Flo::filter(*sm_, false, "filter( _valueOpt3 )"));
  into.inserting(*sm_, 1);
  into.inserting(*sm_, 1, "b");
  into.insertingValue(*sm_, true);
  into.insertingValue(*sm_, 1, 2);
  into.insertingValue(*sm_, 1, 2, 3);
  into.deleting(*sm_, 1);
  into.deleting(*sm_, 1, 2);
  EXPECT_EQ(linesOf(capture), (Texts{
                                  line(7, "p = from( in.items[] ): k=1 v=None"),
                                  line(7, "Line 12: merge( p, q ): k=1"),
                                  line(6, "filter( _valueOpt3 ) failed, terminating pipeline"),
                                  line(7, "into( out.items[ k ] ): inserting k1=1"),
                                  line(7, "into( out.items[ k ] ): inserting k1=1, k2=b"),
                                  line(7, "into( out.items[ k ] ): inserting value=true"),
                                  line(7, "into( out.items[ k ] ): inserting k1=1, value=2"),
                                  line(7, "into( out.items[ k ] ): inserting k1=1, k2=2, value=3"),
                                  line(7, "into( out.items[ k ] ): deleting k1=1"),
                                  line(7, "into( out.items[ k ] ): deleting k1=1, k2=2"),
                              }));
}

TEST_F(OperatorsTest, ForeachCountsThenFlattensEachElementOfCollectionsAndLists) {
  bag_->items.set(*bag_, 3, 30);
  bag_->items.set(*bag_, 1, 10);
  bag_->members.insert(*bag_, 7);
  IeTest::TraceCaptureAt capture(kHandler, kOperatorLevels);
  Texts seen;
  Flo::foreach(*sm_, " foreach( bag.items ) flattening {} elements", bag_->items,
               [&](int k, int v) { seen.push_back(fmt::format("{}={}", k, v)); });
  Flo::foreach(*sm_, " foreach( bag.members ) flattening {} elements", bag_->members,
               [&](int m) { seen.push_back(fmt::format("m{}", m)); });
  Flo::foreach(*sm_, " foreach( [ 4, 5 ] ) flattening {} elements", {4, 5},
               [&](int e) { seen.push_back(std::to_string(e)); });
  EXPECT_EQ(seen, (Texts{"1=10", "3=30", "m7", "4", "5"}));
  EXPECT_EQ(linesOf(capture), (Texts{
                                  line(6, " foreach( bag.items ) flattening 2 elements"),
                                  line(9, "Flattening element: 1"),
                                  line(9, "Flattening element: 3"),
                                  line(6, " foreach( bag.members ) flattening 1 elements"),
                                  line(9, "Flattening element: 7"),
                                  line(6, " foreach( [ 4, 5 ] ) flattening 2 elements"),
                                  line(9, "Flattening element: 4"),
                                  line(9, "Flattening element: 5"),
                              }));
}

TEST_F(OperatorsTest, ChangeIdiomRetractsADifferentOldValueBeforeAssertingTheNewOne) {
  constexpr const char* kDef = " foreach( [ ( if ( _o1 != _n2 ) then _o1 else None, false ), ( _n2, true ) ] ) flattening {} elements";
  IeTest::TraceCaptureAt capture(kHandler, kOperatorLevels);
  Texts steps;
  auto record = [&](const Quill::Optional<int>& v, bool isAdd) { steps.push_back(fmt::format("{}/{}", v, isAdd)); };
  Flo::foreachChange(*sm_, kDef, Quill::Optional<int>(1), Quill::Optional<int>(2), record);
  Flo::foreachChange(*sm_, kDef, Quill::Optional<int>(2), Quill::Optional<int>(2), record);
  Flo::foreachChange(*sm_, kDef, Quill::Optional<int>(), Quill::Optional<int>(3), record);
  Flo::foreachChange(*sm_, kDef, Quill::Optional<int>(3), Quill::Optional<int>(), record);
  EXPECT_EQ(steps, (Texts{"1/false", "2/true", "None/false", "2/true", "None/false", "3/true", "3/false",
                          "None/true"}));
  const Texts all = capture.texts();
  const Texts first(all.begin(), all.begin() + 3);
  EXPECT_EQ(first, (Texts{fmt::format(fmt::runtime(kDef), 2), "Flattening element: (1, false)",
                          "Flattening element: (2, true)"}));
  EXPECT_EQ(capture.texts(6).size(), 4u);
}

TEST_F(OperatorsTest, NoteGoesToTheDebugTraceAtLevelEightAndToTheBlipRing) {
  IeTest::TraceCaptureAt capture(kHandler, 1u << Flo::kLevelKey);
  Flo::note(*sm_, "policy {} isAdd {}", Mica::String("P"), true);
  const Mica::Ptr<Mica::DebugHandler> other = Mica::Platform::getDebugHandler("OperatorsTestOther");
  other->levelMaskIs(1u << 0);
  Flo::note(sm_->blip(), *other, 0, "Evaluated {} for {}", 1, 2);
  other->levelMaskIs(0);
  ASSERT_EQ(capture.lines().size(), 2u);
  EXPECT_EQ(capture.lines()[0].handler, kHandler);
  EXPECT_EQ(capture.lines()[0].level, 8);
  EXPECT_EQ(capture.lines()[0].text, "policy P isAdd true");
  EXPECT_EQ(capture.lines()[1].handler, "OperatorsTestOther");
  EXPECT_EQ(capture.lines()[1].text, "Evaluated 1 for 2");
  EXPECT_EQ(blip_.decoded(), (Texts{"policy P isAdd true", "Evaluated 1 for 2"}));
}

TEST_F(OperatorsTest, DisabledLevelsFormatNothing) {
  IeTest::TraceLevels levels(kHandler, 0);
  bag_->items.set(*bag_, 1, 1);
  const Probe probe;
  const Quill::Optional<Probe> probeOpt(probe);
  Probe::formatted = 0;
  Flo::from(*sm_, "p = from( x ): a={}", probe);
  Flo::merge(*sm_, "q = merge( p ): a={}", probe);
  Flo::filter(*sm_, false, "filter( x )");
  Flo::foreach(*sm_, " foreach( bag.items ) flattening {} elements", bag_->items, [](int, int) {});
  Flo::foreach(*sm_, " foreach( [ p ] ) flattening {} elements", {probe}, [](const Probe&) {});
  Flo::foreachChange(*sm_, " foreach( [ o, n ] ) flattening {} elements", probeOpt, Quill::Optional<Probe>(),
                     [](const auto&, bool) {});
  Flo::Into{"into( x )"}.insertingValue(*sm_, probe, probe);
  Flo::note(*sm_, "note {} {}", probe, Flo::optionalText(probeOpt));
  EXPECT_EQ(Probe::formatted, 0);
  EXPECT_EQ(blip_.size(), 1u);  // the note's record, kept raw
}

// The text refers to its optional; a Blip record keeps a copy that outlives it.
TEST_F(OperatorsTest, BlipRecordsOfAnOptionalTextKeepACopy) {
  {
    const Quill::Optional<Mica::String> name(Mica::String("E1"));
    blip_.record("exitOpt={}", Flo::optionalText(name));
  }
  EXPECT_EQ(blip_.decoded(), (Texts{"exitOpt=Optional( E1 )"}));
}

}  // namespace
