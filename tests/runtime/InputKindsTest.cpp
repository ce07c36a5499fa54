// The kinds of input the state machines declare beyond plain nested paths, under every
// scheduling mode: one nested entity read by two sources with two handlers, an attribute
// holding an entity pointer (null arrives as absent), and a collection of the entity such an
// attribute points to, whose replacement is reported as the difference of the two entities.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <string>
#include <utility>
#include <vector>

#include "runtime/InputSm.h"
#include "runtime/Path.h"
#include "runtime/ReadyOutput.h"
#include "runtime/StateMachine.h"
#include "runtime/internal/LevelSm.h"
#include "runtime/internal/RefLevel.h"
#include "tests/runtime/TestSm.h"
#include "tests/support/SmTestSupport.h"
#include "tests/support/TraceLevels.h"

namespace RtTest {
namespace {

using Log = std::vector<std::string>;

struct Item final : Keyed {
  enum : Mica::AttrId { tagsId = 1, weightId = 2 };
  using Keyed::Keyed;
  Mica::ValueSet<int, tagsId> tags;
  Mica::Scalar<int, weightId> weight;
  void tagsIs(int t) { tags.insert(*this, t); }
  void weightIs(int w) { weight.set(*this, w); }
};

struct Label final : Mica::Entity {
  enum : Mica::AttrId { wordsId = 1 };
  Mica::ValueMap<int, int, wordsId> words;
  void wordsIs(int k, int v) { words.set(*this, k, v); }
};

struct Shelf final : Mica::Entity {
  enum : Mica::AttrId { itemsId = 1, currentId = 2 };
  Mica::EntityMap<int, Item, itemsId> items;
  Mica::Scalar<Mica::Ptr<Label>, currentId> current;
  void currentIs(Mica::Ptr<Label> l) { current.set(*this, std::move(l)); }
};

class KindsSm final : public Flo::StateMachine {
 public:
  KindsSm(const Mica::Ptr<const Shelf>& shelf, const Flo::SmControl& control)
      : StateMachine("RtTest", "KindsSm", control), shelf_(shelf) {
    argIs("shelf()", shelf_.get());
    const size_t evalTags = pipelineIs("evalTags");
    const size_t evalWeight = pipelineIs("evalWeight");
    const size_t evalCurrent = pipelineIs("evalCurrent");
    const size_t evalWords = pipelineIs("evalWords");
    auto& shelfSm = inputIs(std::make_unique<Flo::InputArgSm<Shelf>>(*this, "ShelfSm0", shelf_));
    shelfSm.sourceIs<Flo::internal::TopLevel<TagsPath>>(0, evalTags);
    shelfSm.sourceIs<Flo::internal::TopLevel<WeightPath>>(1, evalWeight);
    shelfSm.sourceIs<Flo::internal::TopLevel<CurrentPath>>(2, evalCurrent);
    shelfSm.sourceIs<Flo::internal::RefTopLevel<WordsPath>>(3, evalWords);
    outputIs(std::make_unique<Flo::ReadyOutput>(
        *this, "logOutput", std::vector<size_t>{evalTags, evalWeight, evalCurrent, evalWords}));
  }

  void eventToEvalTags(const int& item, const int& tag, const Quill::Optional<Quill::Unit>& present) {
    add(fmt::format("tags {} {}{}", item, present ? '+' : '-', tag));
  }
  void eventToEvalWeight(const int& item, const Quill::Optional<int>& old, const Quill::Optional<int>& now) {
    add(fmt::format("weight {} {}->{}", item, old, now));
  }
  void eventToEvalCurrent(const Quill::Optional<Mica::Ptr<Label>>& old, const Quill::Optional<Mica::Ptr<Label>>& now) {
    const auto name = [this](const Quill::Optional<Mica::Ptr<Label>>& l) { return !l ? "None" : l->get() == a ? "A" : "B"; };
    add(fmt::format("current {}->{}", name(old), name(now)));
  }
  void eventToEvalWords(const int& k, const Quill::Optional<int>& old, const Quill::Optional<int>& now) {
    add(fmt::format("words {} {}->{}", k, old, now));
  }

  void add(std::string text) { if (initialScanDone()) log.push_back(std::move(text)); }  // runs after the scan
  Log log;
  const Label* a = nullptr;  // printed as "A", any other label as "B"

 private:
  using TagsPath = Flo::Path<KindsSm, &KindsSm::eventToEvalTags, Flo::Level<&Shelf::items, "ShelfSm0", "items">,
                             Flo::Level<&Item::tags, "ItemSm1", "tags">>;
  using WeightPath = Flo::Path<KindsSm, &KindsSm::eventToEvalWeight, Flo::Level<&Shelf::items, "ShelfSm0", "items">,
                               Flo::Level<&Item::weight, "ItemSm1", "weight">>;
  using CurrentPath = Flo::Path<KindsSm, &KindsSm::eventToEvalCurrent, Flo::Level<&Shelf::current, "ShelfSm0", "current">>;
  using WordsPath = Flo::Path<KindsSm, &KindsSm::eventToEvalWords, Flo::Level<&Shelf::current, "ShelfSm0", "current">,
                              Flo::Level<&Label::words, "LabelSm2", "words">>;

  Mica::Ptr<const Shelf> shelf_;
};

class InputKindsTest : public IeTest::ModeFixture {
 protected:
  Mica::Ptr<KindsSm> start() {
    Mica::Ptr<KindsSm> sm(new KindsSm(shelf_, control()));
    sm->a = a_.get();
    sm->handleInitialized();
    runUntilIdle();
    return sm;
  }

  Mica::Ptr<Shelf> shelf_ = Mica::make<Shelf>();
  Mica::Ptr<Label> a_ = Mica::make<Label>();
  Mica::Ptr<Label> b_ = Mica::make<Label>();
};

TEST_P(InputKindsTest, TwoSourcesOfOneNestedEntityAndAnEntityPointerFollowedFromItsStart) {
  auto item = shelf_->items.create(*shelf_, 1);
  item->tagsIs(10);
  item->weightIs(5);
  a_->wordsIs(1, 100);
  a_->wordsIs(2, 200);
  b_->wordsIs(2, 200);
  b_->wordsIs(3, 300);
  auto sm = start();
  const auto taken = [&sm] { return std::exchange(sm->log, Log{}); };
  ASSERT_TRUE(sm->ready());
  // Null pointers arrive as absent; the pointer's collection reads as empty. (The order of the
  // second passes of different sources is the scheduler's.)
  EXPECT_EQ(IeTest::sorted(taken()), (Log{"current None->None", "tags 1 +10", "weight 1 None->5"}));

  // Each attribute of the nested entity goes to its own handler.
  item->weightIs(7);
  item->tagsIs(11);
  EXPECT_EQ(taken(), (Log{"weight 1 5->7", "tags 1 +11"}));

  // Removing the entity retracts through both sources, in source order.
  shelf_->items.erase(*shelf_, 1);
  EXPECT_EQ(taken(), (Log{"tags 1 -10", "tags 1 -11", "weight 1 7->None"}));

  // A pointer set: the attribute changes, and its entity's collection arrives as additions.
  shelf_->currentIs(a_);
  EXPECT_EQ(taken(), (Log{"current None->A", "words 1 None->100", "words 2 None->200"}));
  a_->wordsIs(1, 101);
  EXPECT_EQ(taken(), (Log{"words 1 100->101"}));

  // Replaced: old keys with their value in the new entity or absent, then the new-only keys.
  shelf_->currentIs(b_);
  EXPECT_EQ(taken(), (Log{"current A->B", "words 1 101->None", "words 2 200->200", "words 3 None->300"}));
  a_->wordsIs(1, 102);  // no longer followed
  b_->words.erase(*b_, 3);
  EXPECT_EQ(taken(), (Log{"words 3 300->None"}));

  shelf_->currentIs(nullptr);
  EXPECT_EQ(sm->log, (Log{"current B->None", "words 2 200->None"}));
  EXPECT_EQ(b_->publisher().subscriberCount(), 0u);

  // A machine started over a set pointer follows its entity, until it is destroyed.
  shelf_->currentIs(a_);
  sm = start();
  ASSERT_TRUE(sm->ready());
  EXPECT_EQ(IeTest::sorted(taken()), (Log{"current None->A", "words 1 None->102", "words 2 None->200"}));
  a_->wordsIs(5, 500);
  EXPECT_EQ(sm->log, (Log{"words 5 None->500"}));
  sm = nullptr;
  EXPECT_EQ(a_->publisher().subscriberCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, InputKindsTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace RtTest
