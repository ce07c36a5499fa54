#include "Orb/OrbInternetExitStatusSm/IeStatusConfigSm.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/trace/Trace.h"
#include "tests/Orb/StatusConfigReference.h"
#include "tests/support/SmTestSupport.h"

namespace OrbInternetExit {
namespace {

using Lane::VniAndLaneId;
using Lane::VniId;
using Reference::describe;
using Reference::extractOf;
using Reference::referenceOf;

VniAndLaneId pair(int vni, int lane) { return VniAndLaneId(VniId(vni), static_cast<uint16_t>(lane)); }
ExitKey local(const char* name) { return ExitKey(name, ExitType::localExit()); }

// Counts every change notified anywhere in a status configuration as it is when the counter is
// built: element additions and deletions at every level, and changes of an entry's group.
class ChangeCounter {
 public:
  int adds = 0, dels = 0, changes = 0;

  explicit ChangeCounter(const IeStatusConfigDir& dir) {
    watchMap(&dir);
    for (const auto& [v, statusCfg] : dir.statusConfig) {
      watchMap(statusCfg);
      for (const auto& [g, group] : statusCfg->exitGroupStatusConfig) {
        const ExitGroupStatusConfig& e = *group;
        watch(group, [this, &e](const void* key, const void*) {
          count(e.exitOption.contains(*static_cast<const ExitVniLaneKey*>(key)));
        });
      }
      for (const auto& [p, policy] : statusCfg->policyStatusConfig) {
        watchMap(policy);
        for (const auto& [seqNo, entry] : policy->exitGroup) {
          watch(entry, [this](const void*, const void*) { ++changes; });
        }
      }
    }
  }
  ~ChangeCounter() {
    for (auto& w : watches_) w->en->subscriberRemove(w.get());
  }
  ChangeCounter(const ChangeCounter&) = delete;
  ChangeCounter& operator=(const ChangeCounter&) = delete;

 private:
  using Fn = std::function<void(const void*, const void*)>;
  struct Watch final : Mica::Subscriber {
    Mica::Ptr<const Mica::Entity> en;  // kept alive: deleted elements are still unsubscribed
    Fn fn;
    void onNotification(Mica::AttrId, const void* key, const void* old) override { fn(key, old); }
  };

  void count(bool added) { added ? ++adds : ++dels; }
  // Entity collections notify creation without and deletion with the old element.
  void watchMap(Mica::Ptr<const Mica::Entity> en) {
    watch(std::move(en), [this](const void*, const void* old) { count(old == nullptr); });
  }
  void watch(Mica::Ptr<const Mica::Entity> en, Fn fn) {
    auto w = std::make_unique<Watch>();
    w->en = std::move(en);
    w->fn = std::move(fn);
    w->en->subscriberAdd(w.get());
    watches_.push_back(std::move(w));
  }
  std::vector<std::unique_ptr<Watch>> watches_;
};

// Turns on levels 6 and 7 of the state machines' trace handler, and restores its mask.
class TraceLevels {
 public:
  TraceLevels() : handler_(Mica::Platform::getDebugHandler("OrbInternetExitStatusSm")), saved_(handler_->levelMask()) {
    handler_->levelMaskIs(saved_ | (1u << 6) | (1u << 7));
  }
  ~TraceLevels() { handler_->levelMaskIs(saved_); }
  TraceLevels(const TraceLevels&) = delete;
  TraceLevels& operator=(const TraceLevels&) = delete;

 private:
  Mica::Ptr<Mica::DebugHandler> handler_;
  uint32_t saved_;
};

class IeStatusConfigSmTest : public IeTest::ModeFixture {
 protected:
  Mica::Ptr<IeStatusConfigSm> start() {
    auto sm = ieStatusConfigSmFactory(config_, bindings_, dir_, control());
    runUntilIdle();
    EXPECT_TRUE(sm->ready());
    return sm;
  }
  void bind(const char* policy, VniAndLaneId v) { bindings_->polToVniLaneIs(PolicyVniLaneKey(policy, v)); runUntilIdle(); }
  void unbind(const char* policy, VniAndLaneId v) { bindings_->polToVniLaneDel(PolicyVniLaneKey(policy, v)); runUntilIdle(); }
  void entry(const char* policy, double seqNo, const char* group) {
    config_->policyConfigIs(policy)->exitGroupIs(seqNo, group);
    runUntilIdle();
  }
  void entryDel(const char* policy, double seqNo) {
    config_->policyConfigIs(policy)->exitGroupDel(seqNo);
    runUntilIdle();
  }
  void option(const char* group, const char* exit) {
    config_->exitGroupConfigIs(group)->exitOptionIs(local(exit));
    runUntilIdle();
  }
  void optionDel(const char* group, const char* exit) {
    config_->exitGroupConfigIs(group)->exitOptionDel(local(exit));
    runUntilIdle();
  }
  Reference::StatusConfig reference() const { return referenceOf(*config_, *bindings_); }
  std::string actual() const { return describe(extractOf(*dir_)); }
  void expectReference() const { EXPECT_EQ(describe(reference()), actual()); }

  Mica::Ptr<InternetExitCliConfig> config_{new InternetExitCliConfig()};
  Mica::Ptr<IePolicyToVniLaneDir> bindings_{new IePolicyToVniLaneDir()};
  Mica::Ptr<IeStatusConfigDir> dir_{new IeStatusConfigDir()};
};

TEST_P(IeStatusConfigSmTest, UnconfiguredPolicyGivesEmptyPairUntilConfigured) {
  bind("P", pair(1, 1));
  auto sm = start();
  ASSERT_TRUE(dir_->statusConfig.contains(pair(1, 1)));
  EXPECT_TRUE(dir_->statusConfig.get(pair(1, 1))->policyStatusConfig.empty());
  EXPECT_TRUE(dir_->statusConfig.get(pair(1, 1))->exitGroupStatusConfig.empty());
  expectReference();

  option("G", "wan1");
  entry("P", 10, "G");
  entry("P", 10.5, "H");  // H is not configured
  expectReference();
  const auto policy = dir_->statusConfig.get(pair(1, 1))->policyStatusConfig.get(PolicyVniLaneKey("P", pair(1, 1)));
  ASSERT_TRUE(policy);
  ASSERT_EQ(policy->exitGroup.size(), 2u);  // 10 and 10.5 are distinct keys
  EXPECT_EQ(policy->exitGroup.get(10.5)->exitGroup.get(), GroupVniLaneKey("H", pair(1, 1)));
  EXPECT_FALSE(dir_->statusConfig.get(pair(1, 1))->exitGroupStatusConfig.contains(GroupVniLaneKey("H", pair(1, 1))));

  entryDel("P", 10);
  expectReference();
  EXPECT_TRUE(policy->exitGroup.contains(10.5));
}

TEST_P(IeStatusConfigSmTest, GroupsConfiguredLaterOrWithoutOptions) {
  entry("P", 10, "G");
  bind("P", pair(1, 1));
  bind("Q", pair(2, 1));
  auto sm = start();
  expectReference();
  EXPECT_TRUE(dir_->statusConfig.get(pair(1, 1))->exitGroupStatusConfig.empty());

  option("G", "wan1");
  option("G", "wan2");
  expectReference();
  const auto group = dir_->statusConfig.get(pair(1, 1))->exitGroupStatusConfig.get(GroupVniLaneKey("G", pair(1, 1)));
  ASSERT_TRUE(group);
  EXPECT_EQ(group->exitOption.size(), 2u);

  // A configured group without options, named by a new entry: present with no options.
  config_->exitGroupConfigIs("E");
  entry("P", 20, "E");
  expectReference();
  const auto empty = dir_->statusConfig.get(pair(1, 1))->exitGroupStatusConfig.get(GroupVniLaneKey("E", pair(1, 1)));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->exitOption.empty());
  // The second pair's policy is not configured and holds nothing.
  EXPECT_TRUE(dir_->statusConfig.get(pair(2, 1))->exitGroupStatusConfig.empty());
}

TEST_P(IeStatusConfigSmTest, ChangingAnEntryDropsTheOldGroupEvenWhenStillNamed) {
  option("G", "wan1");
  option("H", "wan2");
  option("H", "wan3");
  entry("P", 10, "G");
  entry("P", 20, "G");
  bind("P", pair(1, 1));
  auto sm = start();
  expectReference();

  entry("P", 10, "H");
  // The retraction of G at 10 deletes G's group entry although 20 still names G.
  auto expected = reference();
  ASSERT_EQ(expected[pair(1, 1)].groups.erase(GroupVniLaneKey("G", pair(1, 1))), 1u);
  EXPECT_EQ(describe(expected), actual());
  EXPECT_EQ(dir_->statusConfig.get(pair(1, 1))
                ->exitGroupStatusConfig.get(GroupVniLaneKey("H", pair(1, 1)))
                ->exitOption.size(),
            2u);

  // A restart over that output produces the full configuration again.
  sm = nullptr;
  sm = start();
  expectReference();
}

TEST_P(IeStatusConfigSmTest, RemovingTheLastEntryKeepsThePair) {
  option("G", "wan1");
  entry("P", 10, "G");
  bind("P", pair(1, 1));
  auto sm = start();
  entryDel("P", 10);
  expectReference();
  ASSERT_TRUE(dir_->statusConfig.contains(pair(1, 1)));
  EXPECT_TRUE(dir_->statusConfig.get(pair(1, 1))->policyStatusConfig.empty());
  EXPECT_TRUE(dir_->statusConfig.get(pair(1, 1))->exitGroupStatusConfig.empty());
}

TEST_P(IeStatusConfigSmTest, RemovingAPolicyOrItsBindingRemovesItsPairs) {
  option("G", "wan1");
  entry("P", 10, "G");
  entry("Q", 10, "G");
  config_->policyConfigIs("E");  // configured without entries
  bind("P", pair(1, 1));
  bind("P", pair(1, 2));
  bind("Q", pair(2, 1));
  bind("E", pair(3, 1));
  auto sm = start();
  expectReference();

  config_->policyConfigDel("P");
  runUntilIdle();
  EXPECT_FALSE(dir_->statusConfig.contains(pair(1, 1)));
  EXPECT_FALSE(dir_->statusConfig.contains(pair(1, 2)));
  EXPECT_TRUE(dir_->statusConfig.contains(pair(2, 1)));

  // E's pair holds no key of E, so it stays.
  config_->policyConfigDel("E");
  runUntilIdle();
  EXPECT_TRUE(dir_->statusConfig.contains(pair(3, 1)));

  unbind("Q", pair(2, 1));
  EXPECT_FALSE(dir_->statusConfig.contains(pair(2, 1)));
  EXPECT_EQ(dir_->statusConfig.size(), 1u);
}

TEST_P(IeStatusConfigSmTest, OptionAndGroupRemovalReachEveryPairNamingTheGroup) {
  option("G", "wan1");
  option("G", "wan2");
  option("H", "wan1");
  entry("P", 10, "G");
  entry("Q", 5, "H");
  entry("Q", 6, "G");
  bind("P", pair(1, 1));
  bind("P", pair(1, 2));
  bind("Q", pair(2, 1));
  auto sm = start();
  expectReference();

  optionDel("G", "wan1");
  expectReference();
  for (VniAndLaneId v : {pair(1, 1), pair(1, 2), pair(2, 1)}) {
    EXPECT_FALSE(dir_->statusConfig.get(v)->exitGroupStatusConfig.get(GroupVniLaneKey("G", v))->exitOption.contains(
        ExitVniLaneKey(local("wan1"), v)));
  }
  // H keeps its own wan1.
  EXPECT_EQ(dir_->statusConfig.get(pair(2, 1))->exitGroupStatusConfig.get(GroupVniLaneKey("H", pair(2, 1)))->exitOption.size(), 1u);

  config_->exitGroupConfigDel("G");
  runUntilIdle();
  expectReference();
  EXPECT_EQ(dir_->statusConfig.get(pair(2, 1))->exitGroupStatusConfig.size(), 1u);

  option("G", "wan9");
  expectReference();
}

TEST_P(IeStatusConfigSmTest, GroupNamedAtTwoSequenceNumbersIsUpdatedPerEntry) {
  option("G", "wan1");
  entry("P", 10, "G");
  entry("P", 20, "G");
  bind("P", pair(1, 1));
  auto sm = start();
  expectReference();

  TraceLevels levels;
  Mica::TraceCapture capture;
  option("G", "wan2");
  expectReference();
  int inserts = 0;
  for (const auto& text : capture.texts(7)) {
    inserts += text == "into( grpStatusCfg.exitOption[ exitOptKey ] ): inserting k1=localExit:wan2@1.1";
  }
  EXPECT_EQ(inserts, 2);

  optionDel("G", "wan1");
  expectReference();
}

TEST_P(IeStatusConfigSmTest, RestartDeletesExactlyTheStaleOutput) {
  option("G", "wan1");
  option("G", "wan2");
  option("H", "wan3");
  entry("P", 10, "G");
  entry("P", 20, "H");
  bind("P", pair(1, 1));
  bind("P", pair(1, 2));
  bind("U", pair(1, 3));  // not configured: an empty pair

  auto stale = reference();
  const VniAndLaneId v = pair(1, 1);
  stale[pair(9, 9)].groups[GroupVniLaneKey("G", pair(9, 9))];                               // stale pair
  stale[v].groups[GroupVniLaneKey("X", v)].insert(ExitVniLaneKey(local("wan1"), v));        // stale group
  stale[v].groups[GroupVniLaneKey("G", v)].insert(ExitVniLaneKey(local("old"), v));         // stale option
  stale[v].entries[{PolicyVniLaneKey("P", v), 30}] = GroupVniLaneKey("X", v);               // stale entry
  stale[v].policies.insert(PolicyVniLaneKey("Old", v));                                     // stale policy
  stale[v].entries[{PolicyVniLaneKey("Old", v), 1}] = GroupVniLaneKey("G", v);
  Reference::fill(*dir_, stale);
  ASSERT_NE(describe(stale), describe(reference()));

  ChangeCounter counter(*dir_);
  auto sm = start();
  expectReference();
  EXPECT_EQ(counter.adds, 0);
  EXPECT_EQ(counter.changes, 0);
  // The pair, the group, the option, the two entries and the emptied policy.
  EXPECT_EQ(counter.dels, 6);
}

TEST_P(IeStatusConfigSmTest, PipelineTraces) {
  option("G", "wan1");
  entry("P", 10, "G");
  auto sm = start();
  TraceLevels levels;
  Mica::TraceCapture capture;

  bind("P", pair(1, 2));
  std::vector<std::string> sinks;
  for (const auto& text : capture.texts(7)) {
    if (text.starts_with("into(") || text.starts_with("laneToPolicyUpd")) sinks.push_back(text);
  }
  EXPECT_EQ(sinks, (std::vector<std::string>{
                       "laneToPolicyUpd = from( iePolicyToVniLaneDir.polToVniLane[] ): polKey=P@1.2 isAdd=true",
                       "into( statusCfgDir.statusConfig[ vniLaneId ] ): inserting k1=1.2, value=1.2",
                       "into( statusCfg.policyStatusConfig[ polKey ].exitGroup[ seqNo ].exitGroup ): inserting "
                       "k1=P@1.2, k2=10, value=G@1.2",
                       "into( statusCfg.exitGroupStatusConfig[ grpKey ] ): inserting k1=G@1.2, value=G@1.2",
                       "into( grpStatusCfg.exitOption[ exitOptKey ] ): inserting k1=localExit:wan1@1.2",
                   }));
  EXPECT_TRUE(capture.contains(" foreach( ( *config.policyConfig[ polName ] ).exitGroup ) flattening 1 elements"));

  capture.clear();
  bind("U", pair(3, 4));
  EXPECT_TRUE(capture.contains(
      "filter( ( ( statusCfgDir.statusConfig[ vniLaneId ] && config.policyConfig[ polName ] ) && "
      "iePolicyToVniLaneDir.polToVniLane[ polKey ] ) ) failed, terminating pipeline"));

  capture.clear();
  unbind("P", pair(1, 2));
  EXPECT_TRUE(capture.contains("into( statusCfgDir.statusConfig[ vniLaneId ] ): deleting k1=1.2"));
}

INSTANTIATE_TEST_SUITE_P(Modes, IeStatusConfigSmTest, IeTest::allModes, IeTest::modeName);

}  // namespace
}  // namespace OrbInternetExit
