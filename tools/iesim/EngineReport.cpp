// The end-state tables of the engine and the data path, and --dump.
#include <absl/container/btree_set.h>
#include <fmt/format.h>

#include "platform/module/Module.h"
#include "tools/iesim/CutList.h"
#include "tools/iesim/Report.h"

namespace IeSim {

namespace {

// "10", "65546 (lane vni 10)", "65792 (unusable: low 16 bits 256)", "noVni".
std::string vniText(Vxlan::VniExtOrNone vni) {
  if (vni.isNone()) return "noVni";
  if (!vni.usable()) return fmt::format("{} (unusable: low 16 bits {})", vni.value(), vni.value() & 0xFFFF);
  if (vni.value() != vni.vniId().value()) return fmt::format("{} (lane vni {})", vni.value(), vni.vniId());
  return fmt::format("{}", vni.value());
}

template <class Set>
std::string membersText(const Set& set) {
  return fmt::format("{{{}}}", cutMembers(set, ""));
}

}  // namespace

void Report::engineTable(const World& world) {
  const auto& csd = world.orbcsd();
  const auto& info = csd.vxlanInfo.get();
  absl::btree_set<Kiln::VrfId> vrfs(csd.defaultRoutePresentInVrf.begin(),
                                    csd.defaultRoutePresentInVrf.end());
  if (info) {
    for (const auto& [vrf, vni] : info->vrfIdToVniMap) vrfs.insert(vrf);
  }
  fmt::print(out_, "engine at the end ({} VRF{}, {} with a default route{}):\n", vrfs.size(),
             vrfs.size() == 1 ? "" : "s", csd.defaultRoutePresentInVrf.size(),
             info ? "" : ", no VXLAN bindings object");
  size_t shown = 0;
  for (const Kiln::VrfId vrf : vrfs) {
    if (shown++ == kRowsShown) {
      fmt::print(out_, "  ... {} more VRFs\n", vrfs.size() - kRowsShown);
      break;
    }
    const auto name = world.vrfNames().find(vrf);
    const std::string id = name == world.vrfNames().end()
                               ? fmt::format("vrf {}", vrf)
                               : fmt::format("vrf {} {}", vrf, name->second);
    const auto* vni = info ? info->vrfIdToVniMap.lookup(vrf) : nullptr;
    std::string row = fmt::format("  {:<20} {:<46} {}", id, vni ? "vni " + vniText(*vni) : "(not bound)",
                                  csd.defaultRoutePresentInVrf.contains(vrf) ? "default route" : "");
    row.erase(row.find_last_not_of(' ') + 1);
    fmt::print(out_, "{}\n", row);
  }
  fmt::print(out_, "  {:<20} {}\n", "interfaces",
             cutList(csd.l3Intf, [](const auto& kv) { return fmt::format("{}", kv.first); }));
  fmt::print(out_, "  {:<20} {}\n", "vniDefRoute", membersText(world.vniDefRoute().defaultRoute));
  fmt::print(out_, "  {:<20} {}\n\n", "vniLaneDefRoute",
             membersText(world.vniLaneDefRoute().defaultRoute));
}

void Report::dataPathTable(const World& world) {
  const auto& dp = world.dataPath();
  const auto* model = dp.model();
  if (model == nullptr) {
    fmt::print(out_, "data path at the end: no InternetExit module\n\n");
    return;
  }
  const auto& table = model->exitTable();
  fmt::print(out_, "data path at the end: {} module \"{}\", {} applied, {} rejected, {} exit entr{}:\n",
             dp.module()->typeData().name(), dp.module()->name(), model->applied(), model->rejected(),
             table.size(), table.size() == 1 ? "y" : "ies");
  size_t shown = 0;
  for (const auto& e : table) {
    if (shown++ == kRowsShown) {
      fmt::print(out_, "  ... {} more entries\n", table.size() - kRowsShown);
      break;
    }
    fmt::print(out_, "  {}\n", exitEntryText(e));
  }
  const auto& anomalies = model->anomalies();
  for (size_t i = 0; i < anomalies.size() && i < kRowsShown; ++i) {
    fmt::print(out_, "  {:<10} {}: {}\n", i == 0 ? "anomalies" : "",
               Orb::anomalyKindName(anomalies[i].kind), anomalies[i].text);
  }
  // The model counts every refusal, also those it no longer keeps.
  if (model->rejected() > std::min<uint64_t>(anomalies.size(), kRowsShown)) {
    fmt::print(out_, "  {:<10} ... {} more\n", "", model->rejected() - std::min<uint64_t>(anomalies.size(), kRowsShown));
  }
  fmt::print(out_, "\n");
}

void Report::dump(std::FILE* out, const World& world) {
  const auto& output = world.output();
  fmt::print(out, "polToVniLane ({} keys):\n", output.polToVniLane.size());
  for (const auto& key : output.polToVniLane) fmt::print(out, "  {}\n", key);
  const auto& status = world.statusConfig().statusConfig;
  fmt::print(out, "statusConfig ({} pairs):\n", status.size());
  for (const auto& [pair, cfg] : status) {
    fmt::print(out, "  {}\n", pair);
    for (const auto& line : pairStatusLines(*cfg)) fmt::print(out, "    {}\n", line);
  }
  const auto& groups = world.groupToPolicy().groupToPolicy;
  fmt::print(out, "groupToPolicy ({} groups):\n", groups.size());
  for (const auto& [group, entry] : groups) {
    fmt::print(out, "  {}: {}\n", group, membersText(entry->policy));
  }
  std::fflush(out);
  // The dumpState texts, written through to `out`.
  const Mica::Ptr<const Keel::DumpContext> ctx = Mica::make<Keel::DumpContext>(out);
  Keel::_objDumpPrintf(ctx, "orbcsd:\n");
  world.orbcsd().dumpState(ctx, 2);
  Keel::_objDumpPrintf(ctx, "DefaultRoutePresentInVni:\n");
  world.vniDefRoute().dumpState(ctx, 2);
  Keel::_objDumpPrintf(ctx, "DefaultRoutePresentForVniLane:\n");
  world.vniLaneDefRoute().dumpState(ctx, 2);
  Keel::_objDumpPrintf(ctx, "internetExitModule:\n");
  Orb::dumpChild(ctx, "internetExitModule", world.dataPath().module().get(), 2);
  if (const auto* model = world.dataPath().model()) model->dumpState(ctx, 2);
  std::fflush(out);
}

}  // namespace IeSim
