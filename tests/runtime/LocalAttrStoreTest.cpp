// The local attribute store: scalars notify only on a change, each attribute under its own id;
// replacing a local entity notifies its deletion before the creation of the fresh one.
#include "runtime/LocalAttrStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/runtime/TestSm.h"
#include "tests/support/TreeLog.h"

namespace {

using Texts = std::vector<std::string>;

// A scratchpad like the policy status machine's: a key and a set.
struct Scratch final : RtTest::Keyed {
  enum : Mica::AttrId { itemsId = 1 };
  using Keyed::Keyed;
  Mica::ValueSet<int, itemsId> items;
};

using Temp = Flo::LocalScalar<bool, "temp">;
using Count = Flo::LocalScalar<int, "count">;
using Lists = Flo::LocalEntities<int, Scratch, "lists">;
using Store = Flo::LocalAttrStore<Temp, Count, Lists>;

// Logs "<attr id>:<what>" per notification of the store itself.
IeTest::TreeLog logOf(const Mica::Ptr<Store>& store) {
  return IeTest::TreeLog(store, [s = store.get()](const Mica::Entity& source, Mica::AttrId attr, const void* key,
                                                  const void* old) {
    if (&source != s) return std::string();
    if (attr == Store::attrId<Temp>) return fmt::format("{}:{}->{}", attr, *static_cast<const bool*>(old), s->get<Temp>());
    if (attr == Store::attrId<Count>) return fmt::format("{}:{}->{}", attr, *static_cast<const int*>(old), s->get<Count>());
    return fmt::format("{}:{}{}", attr, old ? '-' : '+', *static_cast<const int*>(key));
  });
}

TEST(LocalAttrStoreTest, NotifiesOnlyRealChangesAndReplacesAnEntityByDeletingItFirst) {
  Mica::Ptr<Store> store(new Store());
  auto log = logOf(store);
  // Braced initialisers run in order: false (the default) again, true, true again, 4, false.
  const std::vector<bool> changed{store->set<Temp>(false), store->set<Temp>(true), store->set<Temp>(true),
                                  store->set<Count>(4), store->set<Temp>(false)};
  EXPECT_EQ(changed, (std::vector<bool>{false, true, false, true, true}));
  EXPECT_EQ(log.events, (Texts{"1:false->true", "2:0->4", "1:true->false"}));

  log.events.clear();
  Mica::Ptr<Scratch> first = store->entryIs<Lists>(7);
  first->items.insert(*first, 1);
  EXPECT_EQ(store->entryIs<Lists>(7), first);  // an existing entity is returned as it is
  Mica::Ptr<Scratch> fresh = store->entryReplace<Lists>(7);
  EXPECT_NE(fresh, first);
  EXPECT_TRUE(fresh->items.empty());
  EXPECT_EQ(fresh->key(), 7);
  EXPECT_EQ(store->entries<Lists>().get(7), fresh);
  store->entryReplace<Lists>(8);  // nothing to delete first
  EXPECT_TRUE(store->entryDel<Lists>(8));
  EXPECT_FALSE(store->entryDel<Lists>(8));
  EXPECT_EQ(log.events, (Texts{"3:+7", "3:-7", "3:+7", "3:+8", "3:-8"}));
}

}  // namespace
