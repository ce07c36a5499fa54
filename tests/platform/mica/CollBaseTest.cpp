#include "platform/mica/CollBase.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/mica/Entity.h"
#include "tests/support/TreeLog.h"

namespace {

class Child final : public Mica::Entity {
 public:
  explicit Child(int key) : key_(key) {}
  int key() const noexcept { return key_; }

 private:
  int key_;
};

template <size_t N>
struct Holder final : Mica::Entity {
  enum : Mica::AttrId { valuesId = 1, keysId = 2, childrenId = 3 };
  Mica::ValueMap<int, int, valuesId, N> values;
  Mica::ValueSet<int, keysId, N> keys;
  Mica::EntityMap<int, Child, childrenId, N> children;
};

// One notification as "attr:key:old", the old value being the old child's key for children.
std::string note(Mica::AttrId attr, int key, std::optional<int> old) {
  return fmt::format("{}:{}:{}", attr, key, old ? std::to_string(*old) : "-");
}

// Lookups and both iteration orders agree with the model for every key around the present ones.
template <class Coll, class Model>
void expectSameLookups(const Coll& c, const Model& m) {
  c.checkInvariants();
  ASSERT_EQ(c.size(), m.size());
  EXPECT_EQ(c.empty(), m.empty());
  std::vector<int> forward, backward, model;
  for (auto it = c.begin(); it != c.end(); ++it) forward.push_back(Mica::internal::keyOf(it));
  for (auto it = c.end(); it != c.begin();) backward.push_back(Mica::internal::keyOf(--it));
  for (const auto& [k, v] : m) model.push_back(k);
  EXPECT_EQ(forward, model);
  std::reverse(model.begin(), model.end());
  EXPECT_EQ(backward, model);
  const auto at = [&](auto it) { return it == c.end() ? -100 : Mica::internal::keyOf(it); };
  const auto modelAt = [&](auto it) { return it == m.end() ? -100 : it->first; };
  for (int k = -1; k <= 10; ++k) {
    EXPECT_EQ(c.contains(k), m.contains(k)) << k;
    EXPECT_EQ(c.find(k) == c.end(), !m.contains(k)) << k;
    EXPECT_EQ(at(c.lowerBound(k)), modelAt(m.lower_bound(k))) << k;
    EXPECT_EQ(at(c.upperBound(k)), modelAt(m.upper_bound(k))) << k;
  }
}

template <class T>
class CollBaseTest : public testing::Test {
 protected:
  static constexpr size_t N = T::value;
};
using Capacities = testing::Types<std::integral_constant<size_t, 0>, std::integral_constant<size_t, 1>,
                                  std::integral_constant<size_t, 2>>;
TYPED_TEST_SUITE(CollBaseTest, Capacities);

// Random changes on five keys move the collections across the inline capacity both ways; each
// must match std::map, count and notify exactly its real changes. Children know their owner
// until they are erased or the collection goes.
TYPED_TEST(CollBaseTest, RandomChangesMatchAnOrderedMap) {
  constexpr size_t N = TestFixture::N;
  auto holder = Mica::make<Holder<N>>();
  auto& h = *holder;
  std::optional<IeTest::TreeLog> rec;
  rec.emplace(holder, [](const Mica::Entity&, Mica::AttrId attr, const void* key, const void* old) {
    std::optional<int> o;
    if (old && attr == Holder<N>::valuesId) o = *static_cast<const int*>(old);
    if (old && attr == Holder<N>::childrenId) o = (*static_cast<const Mica::Ptr<Child>*>(old))->key();
    return note(attr, *static_cast<const int*>(key), o);
  });
  std::map<int, int> values;
  std::map<int, int> keys;  // value unused
  std::map<int, Mica::Ptr<Child>> children;
  std::mt19937 rng(20240611);
  std::vector<std::string> expected;
  size_t growths = 0, shrinks = 0;
  for (int step = 0; step < 3000; ++step) {
    const int k = static_cast<int>(rng() % 5);  // few keys: sizes hover around the capacities
    const uint32_t before = h.values.version() + h.keys.version() + h.children.version();
    const size_t sizeBefore = values.size();
    bool changed = false;
    switch (const auto op = rng() % 6; op) {
      case 0: {
        const int v = static_cast<int>(rng() % 3);
        auto it = values.find(k);
        changed = it == values.end() || it->second != v;
        if (changed) expected.push_back(note(1, k, it == values.end() ? std::nullopt : std::optional(it->second)));
        values[k] = v;
        h.values.set(h, k, v);
        break;
      }
      case 1:
        changed = values.contains(k);
        if (changed) expected.push_back(note(1, k, values[k]));
        values.erase(k);
        EXPECT_EQ(h.values.erase(h, k), changed);
        break;
      case 2:
      case 3: {
        const bool add = op == 2;
        changed = add ? keys.emplace(k, 0).second : keys.erase(k) == 1;
        if (changed) expected.push_back(note(2, k, std::nullopt));
        EXPECT_EQ(add ? h.keys.insert(h, k) : h.keys.erase(h, k), changed);
        break;
      }
      case 4: {
        changed = !children.contains(k);
        if (changed) expected.push_back(note(3, k, std::nullopt));
        auto c = h.children.create(h, k);
        if (changed) children[k] = c;
        EXPECT_EQ(c, children[k]);
        break;
      }
      default:
        changed = children.contains(k);
        if (changed) {
          expected.push_back(note(3, k, k));
          EXPECT_EQ(children[k]->owner(), &h);
          EXPECT_EQ(children[k]->ownerAttr(), Holder<N>::childrenId);
        }
        EXPECT_EQ(h.children.erase(h, k), changed);
        if (changed) { EXPECT_EQ(children[k]->owner(), nullptr); }
        children.erase(k);
        break;
    }
    EXPECT_EQ(h.values.version() + h.keys.version() + h.children.version(), before + (changed ? 1 : 0));
    if (sizeBefore <= N && values.size() > N) ++growths;
    if (sizeBefore > N / 2 && values.size() <= N / 2) ++shrinks;
    expectSameLookups(h.values, values);
    expectSameLookups(h.keys, keys);
    expectSameLookups(h.children, children);
    for (const auto& [key, v] : values) EXPECT_EQ(*h.values.lookup(key), v);
    for (const auto& [key, c] : children) EXPECT_EQ(h.children.get(key), c);
    if (this->HasFailure()) FAIL() << "step " << step;
  }
  EXPECT_EQ(rec->events, expected);
  EXPECT_GT(growths, 10u);
  EXPECT_GT(shrinks, 10u);
  rec.reset();
  holder = nullptr;
  ASSERT_FALSE(children.empty());
  for (const auto& [k, c] : children) {
    EXPECT_EQ(c->owner(), nullptr) << k;
    EXPECT_EQ(c->refCount(), 1u) << k;
  }
}

}  // namespace
