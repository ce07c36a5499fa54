// The operator traces the state machines' own trace cases do not reach: a foreach over a map and
// over a literal list, the change idiom's elements, a disabled level that formats nothing, and a
// Blip record that outlives its optional.
#include "runtime/Operators.h"

#include <gtest/gtest.h>

#include <string>
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
struct OpsSm final : Flo::StateMachine {
  explicit OpsSm(const Flo::SmControl& control) : StateMachine("RtTest", "OpsSm", control) {}
};

struct Bag final : Mica::Entity {
  enum : Mica::AttrId { itemsId = 1 };
  Mica::ValueMap<int, int, itemsId> items;
};

// Counts every time fmt formats it: a disabled trace must never get that far.
struct Probe {
  static inline int formatted = 0;
  friend bool operator==(const Probe&, const Probe&) { return true; }
};


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

// A map's elements are flattened by key and handed over with their values; a literal list's in
// order. (Sets are walked by the machines' own trace cases.) The change idiom traces its count,
// then each element as (value, isAdd): the retraction first.
TEST_F(OperatorsTest, ForeachCountsThenFlattensEachElementOfAMapAListAndAChange) {
  constexpr const char* kDef = " foreach( [ ( if ( _o1 != _n2 ) then _o1 else None, false ), ( _n2, true ) ] ) flattening {} elements";
  bag_->items.set(*bag_, 3, 30);
  bag_->items.set(*bag_, 1, 10);
  IeTest::TraceCaptureAt capture(kHandler, kOperatorLevels);
  Texts seen;
  Flo::foreach(*sm_, " foreach( bag.items ) flattening {} elements", bag_->items,
               [&](int k, int v) { seen.push_back(fmt::format("{}={}", k, v)); });
  Flo::foreach(*sm_, " foreach( [ 4, 5 ] ) flattening {} elements", {4, 5},
               [&](int e) { seen.push_back(std::to_string(e)); });
  Flo::foreachChange(*sm_, kDef, Quill::Optional<int>(1), Quill::Optional<int>(2), [](const auto&, bool) {});
  EXPECT_EQ(seen, (Texts{"1=10", "3=30", "4", "5"}));
  EXPECT_EQ(IeTest::levelled(capture, kHandler, "|"),
            (Texts{"6| foreach( bag.items ) flattening 2 elements", "9|Flattening element: 1",
                   "9|Flattening element: 3", "6| foreach( [ 4, 5 ] ) flattening 2 elements",
                   "9|Flattening element: 4", "9|Flattening element: 5", "6|" + fmt::format(fmt::runtime(kDef), 2),
                   "9|Flattening element: (1, false)", "9|Flattening element: (2, true)"}));
}

TEST_F(OperatorsTest, DisabledLevelsFormatNothingAndBlipRecordsKeepACopyOfAnOptionalText) {
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
  // The text refers to its optional; a Blip record keeps a copy that outlives it.
  {
    const Quill::Optional<Mica::String> name(Mica::String("E1"));
    blip_.record("exitOpt={}", Flo::optionalText(name));
  }
  EXPECT_EQ(blip_.decoded().back(), "exitOpt=Optional( E1 )");
}

}  // namespace
