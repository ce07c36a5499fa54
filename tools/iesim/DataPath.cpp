#include "tools/iesim/DataPath.h"

#include <fmt/format.h>

#include <utility>

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
  applied_ = {};
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
  applied_ = {};
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

void DataPath::applyPending() {
  if (!module_ || !pair_->config() || pair_->config()->pending().empty()) return;
  const auto& table = model_->exitTable();
  for (const auto& cmd : pair_->config()->pending()) {
    applied_.shown.commands.add([&] { return Orb::DataPathModel::describe(*cmd); });
    const bool add = cmd->cmdName().view() == "addLaneIeExitInfo";
    if (!add && cmd->cmdName().view() != "delLaneIeExitInfo") continue;
    ++(add ? commandCounts_.added : commandCounts_.removed);
    if (const auto* arg = dynamic_cast<const orb::pb::IeLaneToExitInfoArg*>(cmd->arg())) {
      const Lane::VniAndLaneId pair(Lane::VniId(static_cast<int64_t>(arg->lane_info().vni())),
                                    static_cast<uint16_t>(arg->lane_info().lane()));
      if (applied_.pairsSeen.insert(pair).second) applied_.shown.pairs.push_back(pair);
      const auto entry = Orb::DataPathModel::entryNamed(*arg);
      applied_.heldBefore.try_emplace(entry, table.contains(entry));
    }
  }
  model_->drain(*pair_);
}

DataPath::Drained DataPath::drain() {
  applyPending();
  Applied step = std::exchange(applied_, {});
  Drained out = std::move(step.shown);
  if (out.commands.empty()) return out;
  // The changes of the table, as a difference of the whole table before and after would give
  // them: the entries that went, then those that came, each in table order.
  const auto& table = model_->exitTable();
  for (const auto& [entry, held] : step.heldBefore) {
    const auto& e = entry;  // clang 14 captures no structured binding in a lambda
    if (held && !table.contains(e)) out.table.add([&] { return "- " + exitEntryText(e); });
  }
  for (const auto& [entry, held] : step.heldBefore) {
    const auto& e = entry;
    if (!held && table.contains(e)) out.table.add([&] { return "+ " + exitEntryText(e); });
  }
  const auto& anomalies = model_->anomalies();
  for (; anomaliesSeen_ < anomalies.size(); ++anomaliesSeen_) {
    const auto& a = anomalies[anomaliesSeen_];
    out.anomalies.push_back(fmt::format("{}: {}", Orb::anomalyKindName(a.kind), a.text));
  }
  return out;
}

}  // namespace IeSim
