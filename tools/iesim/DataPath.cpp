#include "tools/iesim/DataPath.h"

#include <absl/container/btree_set.h>
#include <fmt/format.h>

#include <algorithm>
#include <iterator>

#include "Orb/OrbSiEdgeModule.h"

namespace IeSim {

namespace {

// Defaults of a scenario's module: one input gate, and exit gates 1..63 (gate 0 is the
// framework's).
constexpr uint32_t kMaxInGate = 1;
constexpr uint32_t kMaxOutGate = 64;
constexpr uint32_t kReservedInGate = 0;
constexpr uint32_t kReservedOutGate = 1;

const char* kindText(iesim::pb::ModuleKind kind) {
  switch (kind) {
    case iesim::pb::SI_EDGE: return "SiEdge";
    default: return "InternetExit";
  }
}

}  // namespace

std::string exitEntryText(const Orb::DataPathModel::ExitEntry& e) {
  const auto intf = Wire::IntfId::fromValue(e.intfId);
  const std::string intfText = intf ? intf->name().str() : fmt::format("#{}", e.intfId);
  return fmt::format("{} intf={} gate={} aux={} type={}", e.vniLane, intfText, e.gateId, e.auxId,
                     orb::pb::IeResultType_Name(static_cast<orb::pb::IeResultType>(e.resultType)));
}

std::string DataPath::moduleIs(const iesim::pb::Module& m) {
  moduleDel();
  const Mica::String name(m.name().empty() ? std::string("InternetExit") : m.name());
  const auto maxIn = static_cast<uint32_t>(m.has_max_in_gate() ? m.max_in_gate() : kMaxInGate);
  const auto maxOut = static_cast<uint32_t>(m.has_max_out_gate() ? m.max_out_gate() : kMaxOutGate);
  const auto resIn =
      static_cast<uint32_t>(m.has_reserved_in_gate() ? m.reserved_in_gate() : kReservedInGate);
  const auto resOut =
      static_cast<uint32_t>(m.has_reserved_out_gate() ? m.reserved_out_gate() : kReservedOutGate);
  const auto cls = Orb::OrbModule::ModuleClass::forwarding;
  pair_ = Mica::make<Orb::ModuleConfigStatusPair>();
  switch (m.kind()) {
    case iesim::pb::SI_EDGE:
      module_ = Orb::siEdgeFactory(name, cls, maxIn, maxOut, resIn, resOut, pair_, orbcsd_);
      break;
    case iesim::pb::OTHER_MODULE:
      module_ = Mica::make<Orb::Module>(name, cls, maxIn, maxOut, resIn, resOut, nullptr, pair_);
      break;
    default:
      module_ = Orb::internetExitFactory(name, cls, maxIn, maxOut, resIn, resOut, pair_, orbcsd_);
      break;
  }
  model_ = std::make_unique<Orb::DataPathModel>(name);
  anomaliesSeen_ = 0;
  orbcsd_->internetExitModuleIs(module_);
  const std::string gates = maxOut > resOut ? fmt::format("out gates {}..{}", resOut, maxOut - 1)
                                            : std::string("no out gate");
  if (m.kind() == iesim::pb::OTHER_MODULE) {
    return fmt::format("plain Orb::Module \"{}\" ({}, not an InternetExit)", name, gates);
  }
  return fmt::format("{} module \"{}\" ({})", kindText(m.kind()), name, gates);
}

std::string DataPath::moduleDel() {
  if (!module_) return {};
  const std::string what = fmt::format(
      "module \"{}\" and its data path ({} exit entr{})", module_->name(),
      model_->exitTable().size(), model_->exitTable().size() == 1 ? "y" : "ies");
  orbcsd_->internetExitModuleIs(nullptr);
  module_ = nullptr;
  pair_ = nullptr;
  model_.reset();
  return what;
}

Orb::InternetExit* DataPath::internetExit() const noexcept {
  return Orb::moduleCast<Orb::InternetExit>(module_).get();
}

std::pair<uint32_t, uint32_t> DataPath::gateOf(const Wire::IntfId& intf) const {
  const Orb::InternetExit* ie = internetExit();
  if (ie == nullptr || !ie->gateManager()) return {Orb::SiModuleGateManager::noGate, 0};
  return {ie->gateManager()->gateOf(*ie, intf), ie->gateManager()->usersOf(*ie, intf)};
}

DataPath::Drained DataPath::drain() {
  Drained out;
  if (!module_ || !pair_->config()) return out;
  absl::btree_set<Lane::VniAndLaneId> seen;  // a million commands in one step: no linear search
  for (const auto& cmd : pair_->config()->pending()) {
    out.commands.add([&] { return Orb::DataPathModel::describe(*cmd); });
    const bool add = cmd->cmdName().view() == "addLaneIeExitInfo";
    if (!add && cmd->cmdName().view() != "delLaneIeExitInfo") continue;
    ++(add ? commandCounts_.added : commandCounts_.removed);
    if (const auto* arg = dynamic_cast<const orb::pb::IeLaneToExitInfoArg*>(cmd->arg())) {
      const Lane::VniAndLaneId pair(Lane::VniId(static_cast<int64_t>(arg->lane_info().vni())),
                                    static_cast<uint16_t>(arg->lane_info().lane()));
      if (seen.insert(pair).second) out.pairs.push_back(pair);
    }
  }
  if (out.commands.empty()) return out;
  const auto before = model_->exitTable();
  model_->drain(*pair_);
  const auto& after = model_->exitTable();
  std::vector<Orb::DataPathModel::ExitEntry> gone, came;
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                      std::back_inserter(gone));
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::back_inserter(came));
  for (const auto& e : gone) out.table.add([&] { return "- " + exitEntryText(e); });
  for (const auto& e : came) out.table.add([&] { return "+ " + exitEntryText(e); });
  const auto& anomalies = model_->anomalies();
  for (; anomaliesSeen_ < anomalies.size(); ++anomaliesSeen_) {
    const auto& a = anomalies[anomaliesSeen_];
    out.anomalies.push_back(fmt::format("{}: {}", Orb::anomalyKindName(a.kind), a.text));
  }
  return out;
}

}  // namespace IeSim
