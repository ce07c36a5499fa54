// The command queue and the data-path model that drains it into the exit table.
#include "platform/module/DataPathModel.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/engine/IntfId.h"
#include "platform/mica/Publisher.h"
#include "platform/module/Module.h"

namespace Orb {
namespace {

using Anomaly = DataPathModel::AnomalyKind;

orb::pb::IeLaneToExitInfoArg* exitInfo(uint32_t vni, uint32_t lane, const char* intf, uint32_t gate, uint32_t aux = 0,
                                       orb::pb::IeResultType type = orb::pb::IE_RESULT_LOCAL_DEFAULT_VRF) {
  auto* arg = new orb::pb::IeLaneToExitInfoArg;
  arg->mutable_result()->set_result_type(type);
  arg->mutable_result()->set_gate_id(gate);
  arg->mutable_result()->set_intf_id(Wire::IntfId(intf).value());
  arg->mutable_result()->set_aux_id(aux);
  arg->mutable_lane_info()->set_vni(vni);
  arg->mutable_lane_info()->set_lane(lane);
  return arg;
}

struct CountingSubscriber : Mica::Subscriber {
  void onNotification(Mica::AttrId attr, const void*, const void*) override { attrs.push_back(attr); }
  std::vector<Mica::AttrId> attrs;
};

class DataPathModelTest : public testing::Test {
 protected:
  void enq(const char* cmd, google::protobuf::Message* arg, const char* module = "ie") {
    pair->config()->cmdBatchEnq(moduleCmdFactory(module, cmd, arg, true));
  }
  void add(uint32_t vni, uint32_t lane, const char* intf, uint32_t gate, uint32_t aux = 0,
           orb::pb::IeResultType type = orb::pb::IE_RESULT_LOCAL_DEFAULT_VRF) {
    enq("addLaneIeExitInfo", exitInfo(vni, lane, intf, gate, aux, type));
  }

  Mica::Ptr<ModuleConfigStatusPair> pair = Mica::make<ModuleConfigStatusPair>();
  DataPathModel model{"ie"};
};

TEST(ModuleConfigTest, QueuesInOrderNotifiesHandsTheBatchOverAndDeletesOnlyOwnedMessages) {
  auto config = Mica::make<ModuleConfig>();
  CountingSubscriber sub;
  config->subscriberAdd(&sub);
  config->cmdBatchEnq(moduleCmdFactory("ie", "first", nullptr, true));
  config->cmdBatchEnq(moduleCmdFactory("ie", "second", nullptr, true));
  EXPECT_EQ(sub.attrs, (std::vector<Mica::AttrId>{ModuleConfig::cmdBatchId, ModuleConfig::cmdBatchId}));
  ModuleConfig::CmdQueue batch{moduleCmdFactory("ie", "stale", nullptr, true)};
  config->batchTake(batch);
  ASSERT_EQ(batch.size(), 2u);
  EXPECT_EQ(batch[0]->cmdName().view(), "first");
  EXPECT_EQ(batch[1]->cmdName().view(), "second");
  EXPECT_EQ(config->enqueuedCount(), 2u);
  config->subscriberRemove(&sub);
  orb::pb::VniLaneArg kept;
  kept.set_vni(5);
  moduleCmdFactory("ie", "y", &kept, false);  // a temporary: gone at the end of the line
  EXPECT_EQ(kept.vni(), 5u);  // still alive: the command did not delete it
}

// Each rejected command is kept with its kind and a text naming what was wrong. The status half
// receives the running totals, and hears nothing of a drain that changes none.
TEST_F(DataPathModelTest, RejectedCommandsAreRecordedWithTheirKindAndTextNotApplied) {
  CountingSubscriber sub;
  pair->status()->subscriberAdd(&sub);
  for (const char* cmd : {"addLaneIeExitInfo", "addLaneIeExitInfo", "delLaneIeExitInfo", "delLaneIeExitInfo"}) {
    enq(cmd, exitInfo(12, 3, "Ethernet1", 4, 9));
  }
  enq("flushEverything", new orb::pb::VniLaneArg);
  enq("addLaneIeExitInfo", nullptr);
  enq("addLaneIeExitInfo", new orb::pb::VniLaneArg);
  auto* noLane = exitInfo(1, 1, "Ethernet1", 4);
  noLane->clear_lane_info();
  enq("addLaneIeExitInfo", noLane);
  enq("addLaneIeExitInfo", exitInfo(0x10000, 1, "Ethernet1", 4));
  enq("addLaneIeExitInfo", exitInfo(1, 1, "Ethernet1", 4, 0, static_cast<orb::pb::IeResultType>(9)));
  enq("addLaneIeExitInfo", exitInfo(1, 1, "Ethernet1", 4), "other");
  EXPECT_EQ(model.drain(*pair), 2u);
  EXPECT_TRUE(model.exitTable().empty());
  EXPECT_EQ(model.rejected(), 9u);
  EXPECT_EQ(pair->status()->cmdsApplied.get(), 2u);
  EXPECT_EQ(pair->status()->cmdsRejected.get(), 9u);
  EXPECT_EQ(sub.attrs.size(), 2u);
  model.drain(*pair);
  EXPECT_EQ(sub.attrs.size(), 2u);
  pair->status()->subscriberRemove(&sub);
  std::vector<std::pair<Anomaly, std::string>> kept;
  for (const auto& a : model.anomalies()) kept.emplace_back(a.kind, a.text);
  EXPECT_EQ(kept, (std::vector<std::pair<Anomaly, std::string>>{
      {Anomaly::repeatedAdd, "addLaneIeExitInfo: entry 12.3 intf=Ethernet1 gate=4 aux=9 "
                             "type=IE_RESULT_LOCAL_DEFAULT_VRF already held"},
      {Anomaly::deleteOfAbsent, "delLaneIeExitInfo: no entry 12.3 intf=Ethernet1 gate=4 aux=9 "
                                "type=IE_RESULT_LOCAL_DEFAULT_VRF"},
      {Anomaly::unknownCommand, "flushEverything: unknown command"},
      {Anomaly::badArgument, "addLaneIeExitInfo: no argument"},
      {Anomaly::badArgument,
       "addLaneIeExitInfo: argument is a orb.pb.VniLaneArg, not a orb.pb.IeLaneToExitInfoArg"},
      {Anomaly::badArgument, "addLaneIeExitInfo: result or lane_info missing"},
      {Anomaly::badArgument, "addLaneIeExitInfo: vni 65536 or lane 1 wider than 16 bits"},
      {Anomaly::badArgument, "addLaneIeExitInfo: unknown result type 9"},
      {Anomaly::otherModule, "addLaneIeExitInfo: addressed to module other, not ie"}}));
  // Only the first anomalies are kept, but all are counted.
  for (size_t i = 0; i < DataPathModel::kMaxAnomaliesKept; ++i) enq("delLaneIeExitInfo", exitInfo(12, 3, "Ethernet1", 4, 9));
  model.drain(*pair);
  EXPECT_EQ(model.anomalies().size(), DataPathModel::kMaxAnomaliesKept);
  EXPECT_EQ(model.anomalyCount(Anomaly::deleteOfAbsent), DataPathModel::kMaxAnomaliesKept + 1);
  EXPECT_EQ(model.anomalyCount(Anomaly::badArgument), 5u);
}

// The queued commands are described one line each. The dump lists the table in pair then
// result order, then the counter set-ups that the drain kept.
TEST_F(DataPathModelTest, DescribesQueuedCommandsAndDumpsTheTableInPairThenResultOrder) {
  add(12, 3, "Ethernet2", 5);
  add(2, 7, "Ethernet1", 4, 1);
  add(12, 3, "Ethernet1", 6, 0, orb::pb::IE_RESULT_LOCAL_OTHER_VRF);
  add(2, 7, "Ethernet1", 4, 1);  // held already: rejected
  auto* counters = new orb::pb::InternetExitCountersArg;
  counters->set_per_exit(true);
  enq("setupCounters", counters);
  auto* edge = new orb::pb::SiEdgeCountersArg;
  edge->set_drops(true);
  enq("setupEdgeCounters", edge);
  enq("flush", nullptr);
  const auto& pending = pair->config()->pending();
  ASSERT_EQ(pending.size(), 7u);
  EXPECT_EQ(DataPathModel::describe(*pending[0]),
            "addLaneIeExitInfo 12.3 intf=Ethernet2 gate=5 aux=0 type=IE_RESULT_LOCAL_DEFAULT_VRF");
  EXPECT_EQ(DataPathModel::describe(*pending[4]), "setupCounters per_exit: true");
  EXPECT_EQ(DataPathModel::describe(*pending[6]), "flush");
  EXPECT_EQ(model.drain(*pair), 5u);
  model.checkInvariants();
  auto ctx = Mica::make<Keel::DumpContext>();
  model.dumpState(ctx, 0);
  EXPECT_EQ(ctx->text(),
            "DataPath ie: applied 5 rejected 2\n"
            "  2.7 intf=Ethernet1 gate=4 aux=1 type=IE_RESULT_LOCAL_DEFAULT_VRF\n"
            "  12.3 intf=Ethernet2 gate=5 aux=0 type=IE_RESULT_LOCAL_DEFAULT_VRF\n"
            "  12.3 intf=Ethernet1 gate=6 aux=0 type=IE_RESULT_LOCAL_OTHER_VRF\n"
            "  counters: per_lane=0 per_exit=1\n"
            "  edge counters: per_gate=0 drops=1\n");
}

}  // namespace
}  // namespace Orb
