// What the randomized collection test in CollBaseTest does not reach: scalars, silent clears,
// readers notified after the change, and stepping by key while deleting.
#include "platform/mica/Entity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/mica/String.h"

namespace {

class Holder final : public Mica::Entity {
 public:
  enum : Mica::AttrId { namesId = 1, tagsId = 2, countId = 4 };
  Mica::ValueMap<int, Mica::String, namesId> names;
  Mica::ValueSet<int, tagsId> tags;
  Mica::Scalar<int, countId> count;

  void namesIs(int k, Mica::String v) { names.set(*this, k, std::move(v)); }
  bool namesDel(int k) { return names.erase(*this, k); }
  void countIs(int v) { count.set(*this, v); }
};

using Log = std::vector<std::string>;

// Records "attr:key:old" for the scalar and what a reader sees of the names in the entity.
struct Reader final : Mica::Subscriber {
  explicit Reader(const Holder& h) : h(h) { h.subscriberAdd(this); }
  ~Reader() { h.subscriberRemove(this); }
  void onNotification(Mica::AttrId attr, const void* key, const void* old) override {
    if (attr == Holder::countId) {
      log.push_back(std::string(key ? "key" : "-") + ":" + std::to_string(*static_cast<const int*>(old)));
    } else if (attr == Holder::namesId) {
      auto v = h.names.get(*static_cast<const int*>(key));
      log.push_back(v ? v->str() : "absent");
    } else {
      log.push_back("tags");
    }
  }
  const Holder& h;
  Log log;
};

TEST(EntityTest, ScalarsAndMapsNotifyRealChangesAfterTheEntityHoldsThem) {
  Holder h;
  Reader r(h);
  h.countIs(0);  // the default: silent
  h.countIs(4);
  h.countIs(4);
  h.countIs(6);
  h.namesIs(1, "A");
  h.namesIs(1, "B");
  h.namesDel(1);
  EXPECT_EQ(r.log, (Log{"-:0", "-:4", "A", "B", "absent"}));
  EXPECT_EQ(h.count.get(), 6);
  EXPECT_EQ(h.count.version(), 2u);

  h.tags.insert(h, 9);
  h.tags.clearSilently();
  EXPECT_TRUE(h.tags.empty());
  EXPECT_EQ(r.log.size(), 6u);
  EXPECT_EQ(h.tags.version(), 2u);  // silent, but still a change
}

TEST(EntityTest, DeletingTheCurrentElementWhileSteppingByKeyVisitsEachOnce) {
  Holder h;
  for (int k = 1; k <= 9; ++k) h.namesIs(k, "v");
  std::vector<int> visited;
  for (auto it = h.names.begin(); it != h.names.end();) {
    const int k = it->first;
    visited.push_back(k);
    if (k % 2 == 1) h.namesDel(k);  // invalidates `it`
    if (k == 4) h.namesIs(100, "added ahead");
    it = h.names.upperBound(k);
  }
  EXPECT_EQ(visited, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 100}));
  EXPECT_EQ(h.names.size(), 5u);
  h.names.checkInvariants();
}

}  // namespace
