#include "platform/mica/Entity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/mica/String.h"

namespace {

class Child final : public Mica::Entity {
 public:
  explicit Child(int key) : key_(key) {}
  int key() const noexcept { return key_; }

 private:
  int key_;
};

class Holder final : public Mica::Entity {
 public:
  enum : Mica::AttrId { namesId = 1, tagsId = 2, childrenId = 3, countId = 4 };
  Mica::ValueMap<int, Mica::String, namesId> names;
  Mica::ValueSet<int, tagsId> tags;
  Mica::EntityMap<int, Child, childrenId> children;
  Mica::Scalar<int, countId> count;

  void namesIs(int k, Mica::String v) { names.set(*this, k, std::move(v)); }
  bool namesDel(int k) { return names.erase(*this, k); }
  bool tagsIs(int k) { return tags.insert(*this, k); }
  bool tagsDel(int k) { return tags.erase(*this, k); }
  Mica::Ptr<Child> childrenIs(int k) { return children.create(*this, k); }
  bool childrenDel(int k) { return children.erase(*this, k); }
  void countIs(int v) { count.set(*this, v); }
};

// Records each notification as "attr:key:old", reading the old value by attribute.
class Recorder final : public Mica::Subscriber {
 public:
  explicit Recorder(const Holder& h) : h_(h) { h_.subscriberAdd(this); }
  ~Recorder() { h_.subscriberRemove(this); }
  void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override {
    std::string k = key ? std::to_string(*static_cast<const int*>(key)) : "-";
    std::string old = "null";
    if (oldValue) {
      switch (attr) {
        case Holder::namesId: old = static_cast<const Mica::String*>(oldValue)->str(); break;
        case Holder::childrenId:
          old = "child" + std::to_string((*static_cast<const Mica::Ptr<Child>*>(oldValue))->key());
          break;
        case Holder::countId: old = std::to_string(*static_cast<const int*>(oldValue)); break;
        default: old = "?"; break;
      }
    }
    log.push_back(std::to_string(attr) + ":" + k + ":" + old);
  }
  std::vector<std::string> log;

 private:
  const Holder& h_;
};

using Log = std::vector<std::string>;

TEST(EntityTest, ValueMapNotifiesOnlyChangesWithKeyAndOldValue) {
  Holder h;
  Recorder r(h);
  h.namesIs(5, "P");
  h.namesIs(5, "P");  // unchanged: silent
  h.namesIs(5, "Q");
  EXPECT_FALSE(h.namesDel(7));  // absent: silent
  EXPECT_TRUE(h.namesDel(5));
  EXPECT_EQ(r.log, (Log{"1:5:null", "1:5:P", "1:5:Q"}));
  EXPECT_EQ(h.names.version(), 3u);
  EXPECT_FALSE(h.names.get(5).has_value());
}

TEST(EntityTest, NotifiedReaderSeesTheNewValueInTheEntity) {
  Holder h;
  struct Reader final : Mica::Subscriber {
    const Holder* h;
    std::vector<std::string> seen;
    void onNotification(Mica::AttrId, const void* key, const void*) override {
      auto v = h->names.get(*static_cast<const int*>(key));
      seen.push_back(v ? v->str() : "absent");
    }
  } reader;
  reader.h = &h;
  h.subscriberAdd(&reader);
  h.namesIs(1, "A");
  h.namesIs(1, "B");
  h.namesDel(1);
  h.subscriberRemove(&reader);
  EXPECT_EQ(reader.seen, (Log{"A", "B", "absent"}));
}

TEST(EntityTest, ValueSetNotifiesAddAndDeleteOnce) {
  Holder h;
  Recorder r(h);
  EXPECT_TRUE(h.tagsIs(3));
  EXPECT_FALSE(h.tagsIs(3));
  EXPECT_FALSE(h.tagsDel(4));
  EXPECT_TRUE(h.tagsDel(3));
  EXPECT_EQ(r.log, (Log{"2:3:null", "2:3:null"}));
  EXPECT_EQ(h.tags.version(), 2u);
  h.tagsIs(9);
  h.tags.clearSilently();
  EXPECT_TRUE(h.tags.empty());
  EXPECT_EQ(r.log.size(), 3u);
  EXPECT_EQ(h.tags.version(), 4u);  // silent, but still a change
}

TEST(EntityTest, EntityMapCreatesOnceAndHandsTheOldElementOnDelete) {
  Holder h;
  Recorder r(h);
  auto a = h.childrenIs(2);
  auto again = h.childrenIs(2);
  EXPECT_EQ(a, again);
  EXPECT_EQ(a->key(), 2);
  EXPECT_TRUE(h.childrenDel(2));
  EXPECT_FALSE(h.childrenDel(2));
  EXPECT_EQ(r.log, (Log{"3:2:null", "3:2:child2"}));
  EXPECT_EQ(h.children.get(2), nullptr);
  EXPECT_EQ(a->refCount(), 2u);  // the element lives on while held (a and again)
}

TEST(EntityTest, ScalarNotifiesOnlyChangesWithTheOldValue) {
  Holder h;
  Recorder r(h);
  h.countIs(0);  // the default: silent
  h.countIs(4);
  h.countIs(4);
  h.countIs(6);
  EXPECT_EQ(r.log, (Log{"4:-:0", "4:-:4"}));
  EXPECT_EQ(h.count.get(), 6);
  EXPECT_EQ(h.count.version(), 2u);
}

TEST(EntityTest, ChangeCounterGrowsWithEveryChange) {
  Holder h;
  uint32_t last = h.names.version();
  for (int i = 0; i < 50; ++i) {
    h.namesIs(i % 7, i % 3 ? "x" : "y");
    if (i % 5 == 0) h.namesDel(i % 7);
    EXPECT_GE(h.names.version(), last);
    last = h.names.version();
  }
  const uint32_t before = h.names.version();
  h.namesIs(100, "z");
  EXPECT_GT(h.names.version(), before);
}

TEST(EntityTest, LowerBoundResumesWhereADeletedBookmarkWouldHaveBeen) {
  Holder h;
  for (int k : {10, 20, 30, 40}) h.namesIs(k, "v");
  const int bookmark = 20;
  h.namesDel(bookmark);
  auto it = h.names.lowerBound(bookmark);
  ASSERT_NE(it, h.names.end());
  EXPECT_EQ(it->first, 30);
  EXPECT_EQ(h.names.lowerBound(45), h.names.end());
  h.tagsIs(1);
  h.tagsIs(5);
  h.tagsDel(1);
  EXPECT_EQ(*h.tags.lowerBound(1), 5);
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

TEST(EntityTest, IterationIsInKeyOrder) {
  Holder h;
  for (int k : {5, 1, 9, 3}) h.childrenIs(k);
  std::vector<int> keys;
  for (const auto& [k, child] : h.children) keys.push_back(child->key());
  EXPECT_EQ(keys, (std::vector<int>{1, 3, 5, 9}));
}

}  // namespace
