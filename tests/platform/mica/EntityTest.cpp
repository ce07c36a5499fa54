// What the randomized collection test in CollBaseTest does not reach: scalars, silent clears
// and readers notified after the change.
#include "platform/mica/Entity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/mica/String.h"
#include "tests/support/TreeLog.h"

namespace {

struct Holder final : Mica::Entity {
  enum : Mica::AttrId { namesId = 1, tagsId = 2, countId = 4 };
  Mica::ValueMap<int, Mica::String, namesId> names;
  Mica::ValueSet<int, tagsId> tags;
  Mica::Scalar<int, countId> count;

  void namesIs(int k, Mica::String v) { names.set(*this, k, std::move(v)); }
  bool namesDel(int k) { return names.erase(*this, k); }
  void countIs(int v) { count.set(*this, v); }
};

using Log = std::vector<std::string>;

TEST(EntityTest, ScalarsAndMapsNotifyRealChangesAfterTheEntityHoldsThem) {
  auto h = Mica::make<Holder>();
  // What a reader sees: the scalar's "key:old", the name now held, or "tags".
  IeTest::TreeLog r(h, [&h](const Mica::Entity&, Mica::AttrId attr, const void* key, const void* old) {
    if (attr == Holder::countId) return std::string(key ? "key" : "-") + ":" + std::to_string(*static_cast<const int*>(old));
    if (attr == Holder::tagsId) return std::string("tags");
    const auto v = h->names.get(*static_cast<const int*>(key));
    return v ? v->str() : std::string("absent");
  });
  for (int v : {0, 4, 4, 6}) h->countIs(v);  // 0 is the default: silent, like the second 4
  for (const char* v : {"A", "B"}) h->namesIs(1, v);
  h->namesDel(1);
  EXPECT_EQ(r.events, (Log{"-:0", "-:4", "A", "B", "absent"}));
  EXPECT_EQ(h->count.version(), 2u);

  h->tags.insert(*h, 9);
  h->tags.clearSilently();
  EXPECT_TRUE(h->tags.empty());
  EXPECT_EQ(r.events, (Log{"-:0", "-:4", "A", "B", "absent", "tags"}));
  EXPECT_EQ(h->tags.version(), 2u);  // silent, but still a change
}

}  // namespace
