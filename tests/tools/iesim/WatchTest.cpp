// The simulator's output watchers: every fact of a watched tree is reported once when it comes
// and once when it goes, also when a whole subtree comes or goes in one notification.
#include "tools/iesim/Watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "types/IeGroupToPolicyDir.h"
#include "types/IeStatusConfigDir.h"

namespace IeSim {
namespace {

using namespace OrbInternetExit;
using Lines = std::vector<std::string>;

Lines take(OutputLog& log) {
  size_t more = 0;
  Lines lines = log.take(more);
  EXPECT_EQ(more, 0u);
  return lines;
}

const Lane::VniAndLaneId v(Lane::VniId(3), 1);
const GroupVniLaneKey wan(Mica::String("Wan"), v);
const GroupVniLaneKey lte(Mica::String("Lte"), v);
const PolicyVniLaneKey gold(Mica::String("Gold"), v);
const ExitVniLaneKey wan1(ExitKey(Mica::String("wan1"), ExitType::localExit()), v);

class StatusConfigWatchTest : public testing::Test {
 protected:
  // The pair with policy Gold (10 -> Wan) and group Wan holding wan1.
  void fill() {
    auto cfg = dir_->statusConfigIs(v);
    cfg->policyStatusConfigIs(gold)->exitGroupIs(10, wan);
    cfg->exitGroupStatusConfigIs(wan)->exitOptionIs(wan1);
  }

  Mica::Ptr<IeStatusConfigDir> dir_ = Mica::make<IeStatusConfigDir>();
  OutputLog log_{"statusConfig"};
};

// Each fact is reported as it comes, an entry naming another group as one change, and a deleted
// pair's facts children first.
TEST_F(StatusConfigWatchTest, ReportsFactsAsTheyComeChangeAndGo) {
  StatusConfigWatch watch(*dir_, log_);
  fill();
  EXPECT_EQ(take(log_), (Lines{"+ pair 3.1", "+ policy Gold@3.1", "+ entry Gold@3.1 10 -> Wan@3.1",
                                "+ group Wan@3.1", "+ option localExit:wan1@3.1 in Wan@3.1"}));
  dir_->statusConfig.lookup(v)->policyStatusConfig.lookup(gold)->exitGroupIs(10, lte);
  EXPECT_EQ(take(log_), (Lines{"~ entry Gold@3.1 10: Wan@3.1 -> Lte@3.1"}));
  dir_->statusConfigDel(v);
  EXPECT_EQ(take(log_), (Lines{"- option localExit:wan1@3.1 in Wan@3.1", "- group Wan@3.1",
                                "- entry Gold@3.1 10 -> Lte@3.1", "- policy Gold@3.1", "- pair 3.1"}));

  // A new pair under the same key is watched afresh: nothing of the old one answers for it.
  dir_->statusConfigIs(v)->exitGroupStatusConfigIs(lte)->exitOptionIs(ExitVniLaneKey(wan1.exitKey, v));
  EXPECT_EQ(take(log_), (Lines{"+ pair 3.1", "+ group Lte@3.1", "+ option localExit:wan1@3.1 in Lte@3.1"}));
}

TEST_F(StatusConfigWatchTest, WhatExistsAtTheStartIsWatchedNotReported) {
  fill();
  StatusConfigWatch watch(*dir_, log_);
  EXPECT_TRUE(take(log_).empty());
  dir_->statusConfig.lookup(v)->exitGroupStatusConfig.lookup(wan)->exitOptionDel(wan1);
  dir_->statusConfig.lookup(v)->policyStatusConfig.lookup(gold)->exitGroupIs(10.5, lte);
  EXPECT_EQ(take(log_), (Lines{"- option localExit:wan1@3.1 in Wan@3.1", "+ entry Gold@3.1 10.5 -> Lte@3.1"}));
}

TEST(GroupToPolicyWatchTest, ReportsMembersAndTheMembersOfADeletedGroup) {
  auto dir = Mica::make<IeGroupToPolicyDir>();
  OutputLog log("groupToPolicy");
  GroupToPolicyWatch watch(*dir, log);
  const PolicyVniLaneKey silver(Mica::String("Silver"), v);
  dir->groupToPolicyIs(wan)->policyIs(gold);
  dir->groupToPolicy.lookup(wan)->policyIs(silver);
  dir->groupToPolicy.lookup(wan)->policyDel(gold);
  dir->groupToPolicyDel(wan);
  EXPECT_EQ(take(log), (Lines{"+ Wan@3.1: Gold@3.1", "+ Wan@3.1: Silver@3.1", "- Wan@3.1: Gold@3.1",
                               "- Wan@3.1: Silver@3.1"}));
}

TEST(OutputLogTest, KeepsTheFirstLinesAndCountsEveryChange) {
  OutputLog log("vniLaneDefRoute");
  for (uint16_t lane = 0; lane < OutputLog::kLinesKept + 3; ++lane) {
    log.record('+', "{}", Lane::VniAndLaneId(Lane::VniId(1), lane));
  }
  size_t more = 0;
  const Lines lines = log.take(more);
  ASSERT_EQ(lines.size(), OutputLog::kLinesKept);
  EXPECT_EQ(lines.front(), "+ 1.0");
  EXPECT_EQ(more, 3u);
  EXPECT_EQ(log.counts().added, OutputLog::kLinesKept + 3);
}

// (10 and 10.5: the entry lines above.)
TEST(SeqTextTest, WholeNumbersPrintWithoutFraction) {
  EXPECT_EQ(seqText(0.25), "0.25");
  EXPECT_EQ(seqText(4294967295.0), "4294967295");
}

}  // namespace
}  // namespace IeSim
