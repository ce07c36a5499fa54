// What the randomized collection test in CollBaseTest does not reach: scalars, silent clears
// and readers notified after the change.
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
  for (int v : {0, 4, 4, 6}) h.countIs(v);  // 0 is the default: silent, like the second 4
  for (const char* v : {"A", "B"}) h.namesIs(1, v);
  h.namesDel(1);
  EXPECT_EQ(r.log, (Log{"-:0", "-:4", "A", "B", "absent"}));
  EXPECT_EQ(h.count.version(), 2u);

  h.tags.insert(h, 9);
  h.tags.clearSilently();
  EXPECT_TRUE(h.tags.empty());
  EXPECT_EQ(r.log.size(), 6u);
  EXPECT_EQ(h.tags.version(), 2u);  // silent, but still a change
}

}  // namespace
