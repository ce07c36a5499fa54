// The engine's common state: the per-attribute notifications its readers rely on.
#include "platform/engine/OrbCommonSmData.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Kiln::VrfId;
using Orb::L3Intf;
using Orb::OrbCommonSmData;
using Orb::VxlanInfo;
using Vxlan::VniExtOrNone;
using Wire::IntfId;
using Strings = std::vector<std::string>;

// Records each notification of an OrbCommonSmData as text, decoding key and old value by
// attribute, and what the reader sees of the new value at that moment.
class CsdLog : public Mica::Subscriber {
 public:
  explicit CsdLog(Mica::Ptr<const OrbCommonSmData> csd) : csd_(std::move(csd)) {
    csd_->subscriberAdd(this);
  }
  ~CsdLog() { csd_->subscriberRemove(this); }

  void onNotification(Mica::AttrId attr, const void* key, const void* old) override {
    switch (attr) {
      case OrbCommonSmData::l3IntfId: {
        const auto& intf = *static_cast<const IntfId*>(key);
        const auto* gone = static_cast<const Mica::Ptr<L3Intf>*>(old);
        events.push_back(fmt::format("l3Intf {} old={} present={}", intf,
                                     gone ? (*gone)->intfId().name().str() : "null",
                                     csd_->l3Intf.contains(intf)));
        break;
      }
      case OrbCommonSmData::vxlanInfoId: {
        const auto& prev = *static_cast<const Mica::Ptr<VxlanInfo>*>(old);
        events.push_back(fmt::format("vxlanInfo old={} new={}", name(prev.get()),
                                     name(csd_->vxlanInfo.get().get())));
        break;
      }
      case OrbCommonSmData::defaultRoutePresentInVrfId: {
        const auto vrf = *static_cast<const VrfId*>(key);
        EXPECT_EQ(old, nullptr);
        events.push_back(fmt::format("defaultRoute {} member={}", vrf,
                                     csd_->defaultRoutePresentInVrf.contains(vrf)));
        break;
      }
      default:
        events.push_back(fmt::format("attr {}", attr));
    }
  }
  // Names the VxlanInfo objects of a test: "a", "b", or "null".
  const VxlanInfo* a = nullptr;
  const VxlanInfo* b = nullptr;
  std::string name(const VxlanInfo* p) const { return p == nullptr ? "null" : p == a ? "a" : "b"; }

  Strings take() { return std::exchange(events, {}); }
  Strings events;

 private:
  Mica::Ptr<const OrbCommonSmData> csd_;
};

// Records the VxlanInfo map notifications with their old values and the current value.
class VxlanLog : public Mica::Subscriber {
 public:
  explicit VxlanLog(Mica::Ptr<const VxlanInfo> info) : info_(std::move(info)) {
    info_->subscriberAdd(this);
  }
  ~VxlanLog() { info_->subscriberRemove(this); }

  void onNotification(Mica::AttrId attr, const void* key, const void* old) override {
    const auto* prev = static_cast<const VniExtOrNone*>(old);
    const std::string prevText = prev ? fmt::format("{}", *prev) : "null";
    if (attr == VxlanInfo::vrfIdToVniMapId) {
      const auto vrf = *static_cast<const VrfId*>(key);
      events.push_back(fmt::format("vrfId {} old={} now={}", vrf, prevText,
                                   info_->vrfIdToVniMap.get(vrf)));
    } else {
      const auto& vrf = *static_cast<const Mica::String*>(key);
      events.push_back(fmt::format("vrfName {} old={} now={}", vrf, prevText,
                                   info_->vrfToVniMap.get(vrf)));
    }
  }
  Strings take() { return std::exchange(events, {}); }
  Strings events;

 private:
  Mica::Ptr<const VxlanInfo> info_;
};

TEST(OrbCommonSmDataTest, DefaultRouteSetNotifiesOnlyRealChanges) {
  auto csd = Mica::make<OrbCommonSmData>();
  CsdLog log(csd);
  csd->defaultRoutePresentInVrfIs(VrfId(7));
  csd->defaultRoutePresentInVrfIs(VrfId(7));
  csd->defaultRoutePresentInVrfDel(VrfId(8));
  csd->defaultRoutePresentInVrfDel(VrfId(7));
  EXPECT_EQ(log.take(), (Strings{"defaultRoute 7 member=true", "defaultRoute 7 member=false"}));
}

TEST(OrbCommonSmDataTest, L3IntfCreatesOnceAndReportsTheRemovedEntity) {
  auto csd = Mica::make<OrbCommonSmData>();
  CsdLog log(csd);
  auto first = csd->l3IntfIs(IntfId("Ethernet1"));
  EXPECT_EQ(csd->l3IntfIs(IntfId("Ethernet1")), first);  // present: same entity, no notification
  EXPECT_EQ(first->intfId(), IntfId("Ethernet1"));
  csd->l3IntfDel(IntfId("Ethernet2"));
  csd->l3IntfDel(IntfId("Ethernet1"));
  EXPECT_EQ(log.take(), (Strings{"l3Intf Ethernet1 old=null present=true",
                                 "l3Intf Ethernet1 old=Ethernet1 present=false"}));
}

TEST(OrbCommonSmDataTest, VxlanInfoReplacementCarriesTheOldObject) {
  auto csd = Mica::make<OrbCommonSmData>();
  auto a = Mica::make<VxlanInfo>();
  auto b = Mica::make<VxlanInfo>();
  CsdLog log(csd);
  log.a = a.get();
  log.b = b.get();
  csd->vxlanInfoIs(a);
  csd->vxlanInfoIs(a);
  csd->vxlanInfoIs(b);
  csd->vxlanInfoIs(nullptr);
  EXPECT_EQ(log.take(), (Strings{"vxlanInfo old=null new=a", "vxlanInfo old=a new=b",
                                 "vxlanInfo old=b new=null"}));
}

TEST(OrbCommonSmDataTest, VxlanMapsNotifyPerKeyWithOldValues) {
  auto info = Mica::make<VxlanInfo>();
  VxlanLog log(info);
  info->vrfIdToVniMapIs(VrfId(1), VniExtOrNone(10));
  info->vrfIdToVniMapIs(VrfId(1), VniExtOrNone(10));
  info->vrfIdToVniMapIs(VrfId(1), VniExtOrNone::none());
  info->vrfIdToVniMapDel(VrfId(2));
  info->vrfIdToVniMapDel(VrfId(1));
  info->vrfToVniMapIs("red", VniExtOrNone(5));
  info->vrfToVniMapIs("red", VniExtOrNone(6));
  info->vrfToVniMapDel("red");
  EXPECT_EQ(log.take(), (Strings{
                            "vrfId 1 old=null now=10",
                            "vrfId 1 old=10 now=noVni",
                            "vrfId 1 old=noVni now=None",
                            "vrfName red old=null now=5",
                            "vrfName red old=5 now=6",
                            "vrfName red old=6 now=None",
                        }));
}

TEST(OrbCommonSmDataTest, DumpListsEveryAttributeInKeyOrder) {
  auto csd = Mica::make<OrbCommonSmData>();
  csd->l3IntfIs(IntfId("eth2"));
  csd->l3IntfIs(IntfId("eth1"));
  csd->defaultRoutePresentInVrfIs(VrfId(3));
  auto ctx = Mica::make<Keel::DumpContext>();
  csd->dumpState(ctx, 0);
  auto info = Mica::make<VxlanInfo>();
  info->vrfIdToVniMapIs(VrfId(3), VniExtOrNone(30));
  info->vrfToVniMapIs("blue", VniExtOrNone::none());
  csd->vxlanInfoIs(info);
  csd->dumpState(ctx, 2);
  csd->checkInvariants();
  EXPECT_EQ(ctx->text(),
            "InternetExitModule: absent\n"
            "L3Intf: #2\n"
            "  Intf: eth1\n"
            "  Intf: eth2\n"
            "DefaultRoutePresentInVrf: #1\n"
            "  VrfId: 3\n"
            "VxlanInfo: absent\n"
            "  InternetExitModule: absent\n"
            "  L3Intf: #2\n"
            "    Intf: eth1\n"
            "    Intf: eth2\n"
            "  DefaultRoutePresentInVrf: #1\n"
            "    VrfId: 3\n"
            "  VxlanInfo:\n"
            "    VrfIdToVni: #1\n"
            "      VrfId: 3 Vni: 30\n"
            "    VrfToVni: #1\n"
            "      VrfName: blue Vni: noVni\n");
}

}  // namespace
