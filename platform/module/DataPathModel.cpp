#include "platform/module/DataPathModel.h"

#include <fmt/format.h>

#include <utility>

#include "platform/engine/IntfId.h"

namespace Orb {

struct DataPathModel::Command {
  std::string_view name;
  const google::protobuf::Descriptor* (*argType)();
  bool (*handler)(DataPathModel& model, const google::protobuf::Message& arg);
};

namespace {

// Calls a handler that takes its argument as the generated class; the caller checked the type.
template <class Arg, bool (DataPathModel::*Handler)(const Arg&)>
bool typedHandler(DataPathModel& model, const google::protobuf::Message& arg) {
  return (model.*Handler)(static_cast<const Arg&>(arg));
}

std::string intfText(uint64_t value) {
  if (auto id = Wire::IntfId::fromValue(value)) return id->name().str();
  return fmt::format("#{}", value);
}

std::string entryText(const DataPathModel::ExitEntry& e) {
  const auto type = static_cast<orb::pb::IeResultType>(e.resultType);
  return fmt::format("{} intf={} gate={} aux={} type={}", e.vniLane, intfText(e.intfId), e.gateId,
                     e.auxId, orb::pb::IeResultType_Name(type));
}

}  // namespace

std::string_view anomalyKindName(DataPathModel::AnomalyKind kind) noexcept {
  switch (kind) {
    case DataPathModel::AnomalyKind::repeatedAdd: return "repeatedAdd";
    case DataPathModel::AnomalyKind::deleteOfAbsent: return "deleteOfAbsent";
    case DataPathModel::AnomalyKind::unknownCommand: return "unknownCommand";
    case DataPathModel::AnomalyKind::badArgument: return "badArgument";
    case DataPathModel::AnomalyKind::otherModule: return "otherModule";
  }
  return "unknown";
}

std::span<const DataPathModel::Command> DataPathModel::commandTable() {
  using orb::pb::IeLaneToExitInfoArg;
  using orb::pb::InternetExitCountersArg;
  using orb::pb::SiEdgeCountersArg;
  static const Command table[] = {
      {"addLaneIeExitInfo", &IeLaneToExitInfoArg::descriptor,
       &typedHandler<IeLaneToExitInfoArg, &DataPathModel::addLaneIeExitInfo>},
      {"delLaneIeExitInfo", &IeLaneToExitInfoArg::descriptor,
       &typedHandler<IeLaneToExitInfoArg, &DataPathModel::delLaneIeExitInfo>},
      {"setupCounters", &InternetExitCountersArg::descriptor,
       &typedHandler<InternetExitCountersArg, &DataPathModel::setupCounters>},
      {"setupEdgeCounters", &SiEdgeCountersArg::descriptor,
       &typedHandler<SiEdgeCountersArg, &DataPathModel::setupEdgeCounters>},
  };
  return table;
}

int DataPathModel::findCommand(std::string_view name) noexcept {
  const auto table = commandTable();
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

DataPathModel::DataPathModel(Mica::String moduleName)
    : moduleName_(std::move(moduleName)), appliedByCmd_(commandTable().size(), 0) {}

size_t DataPathModel::drain(const ModuleConfigStatusPair& pair) {
  if (!pair.config()) return 0;
  size_t done = 0;
  // Commands queued while this batch is applied wait for the next drain.
  pair.config()->batchTake(batch_);
  for (const auto& cmd : batch_) {
    if (apply(*cmd)) ++done;
  }
  batch_.clear();  // releases the commands and their messages
  if (const auto& status = pair.status()) {
    status->cmdsAppliedIs(applied_);
    status->cmdsRejectedIs(rejected_);
  }
  return done;
}

bool DataPathModel::apply(const ModuleCmdBase& cmd) {
  const std::string_view name = cmd.cmdName().view();
  if (cmd.moduleName() != moduleName_) {
    return reject(AnomalyKind::otherModule,
                  fmt::format("{}: addressed to module {}, not {}", name, cmd.moduleName(),
                              moduleName_));
  }
  const int index = findCommand(name);
  if (index < 0) return reject(AnomalyKind::unknownCommand, fmt::format("{}: unknown command", name));
  const Command& command = commandTable()[static_cast<size_t>(index)];
  const google::protobuf::Message* arg = cmd.arg();
  if (arg == nullptr) return reject(AnomalyKind::badArgument, fmt::format("{}: no argument", name));
  if (arg->GetDescriptor() != command.argType()) {
    return reject(AnomalyKind::badArgument,
                  fmt::format("{}: argument is a {}, not a {}", name, arg->GetTypeName(),
                              command.argType()->full_name()));
  }
  if (!command.handler(*this, *arg)) return false;
  ++applied_;
  ++appliedByCmd_[static_cast<size_t>(index)];
  return true;
}

std::optional<DataPathModel::ExitEntry> DataPathModel::entryOf(
    std::string_view cmdName, const orb::pb::IeLaneToExitInfoArg& arg) {
  if (!arg.has_result() || !arg.has_lane_info()) {
    reject(AnomalyKind::badArgument, fmt::format("{}: result or lane_info missing", cmdName));
    return {};
  }
  const auto& lane = arg.lane_info();
  if (lane.vni() > 0xFFFF || lane.lane() > 0xFFFF) {
    reject(AnomalyKind::badArgument,
           fmt::format("{}: vni {} or lane {} wider than 16 bits", cmdName, lane.vni(), lane.lane()));
    return {};
  }
  const auto& result = arg.result();
  if (!orb::pb::IeResultType_IsValid(result.result_type())) {
    reject(AnomalyKind::badArgument,
           fmt::format("{}: unknown result type {}", cmdName, static_cast<int>(result.result_type())));
    return {};
  }
  return ExitEntry{Lane::VniAndLaneId::fromValue(lane.vni() << 16 | lane.lane()),
                   static_cast<uint32_t>(result.result_type()), result.gate_id(), result.intf_id(),
                   result.aux_id()};
}

bool DataPathModel::addLaneIeExitInfo(const orb::pb::IeLaneToExitInfoArg& arg) {
  constexpr std::string_view name = "addLaneIeExitInfo";
  const auto entry = entryOf(name, arg);
  if (!entry) return false;
  if (!table_.insert(*entry).second) {
    return rejectLazily(AnomalyKind::repeatedAdd,
                        [&] { return fmt::format("{}: entry {} already held", name, entryText(*entry)); });
  }
  return true;
}

bool DataPathModel::delLaneIeExitInfo(const orb::pb::IeLaneToExitInfoArg& arg) {
  constexpr std::string_view name = "delLaneIeExitInfo";
  const auto entry = entryOf(name, arg);
  if (!entry) return false;
  if (table_.erase(*entry) == 0) {
    return rejectLazily(AnomalyKind::deleteOfAbsent,
                        [&] { return fmt::format("{}: no entry {}", name, entryText(*entry)); });
  }
  return true;
}

bool DataPathModel::setupCounters(const orb::pb::InternetExitCountersArg& arg) {
  counters_ = arg;
  return true;
}

bool DataPathModel::setupEdgeCounters(const orb::pb::SiEdgeCountersArg& arg) {
  edgeCounters_ = arg;
  return true;
}

bool DataPathModel::reject(AnomalyKind kind, std::string text) {
  ++rejected_;
  ++anomalyCounts_[static_cast<size_t>(kind)];
  if (anomalies_.size() < kMaxAnomaliesKept) anomalies_.push_back({kind, std::move(text)});
  return false;
}

std::string DataPathModel::describe(const ModuleCmdBase& cmd) {
  const google::protobuf::Message* arg = cmd.arg();
  if (arg == nullptr) return cmd.cmdName().str();
  if (arg->GetDescriptor() == orb::pb::IeLaneToExitInfoArg::descriptor()) {
    return fmt::format("{} {}", cmd.cmdName(),
                       entryText(entryNamed(static_cast<const orb::pb::IeLaneToExitInfoArg&>(*arg))));
  }
  return fmt::format("{} {}", cmd.cmdName(), arg->ShortDebugString());
}

DataPathModel::ExitEntry DataPathModel::entryNamed(const orb::pb::IeLaneToExitInfoArg& arg) noexcept {
  const auto& r = arg.result();
  const uint32_t pair = (arg.lane_info().vni() & 0xFFFF) << 16 | (arg.lane_info().lane() & 0xFFFF);
  return ExitEntry{Lane::VniAndLaneId::fromValue(pair), static_cast<uint32_t>(r.result_type()),
                   r.gate_id(), r.intf_id(), r.aux_id()};
}

std::vector<DataPathModel::ExitEntry> DataPathModel::exitsOf(Lane::VniAndLaneId vniLane) const {
  std::vector<ExitEntry> out;
  for (auto it = table_.lower_bound(ExitEntry{vniLane}); it != table_.end() && it->vniLane == vniLane;
       ++it) {
    out.push_back(*it);
  }
  return out;
}

uint64_t DataPathModel::applied(std::string_view cmdName) const noexcept {
  const int index = findCommand(cmdName);
  return index < 0 ? 0 : appliedByCmd_[static_cast<size_t>(index)];
}

uint64_t DataPathModel::anomalyCount(AnomalyKind kind) const noexcept {
  const auto i = static_cast<size_t>(kind);
  return i < kAnomalyKinds ? anomalyCounts_[i] : 0;
}

void DataPathModel::dumpState(const Mica::Ptr<const Keel::DumpContext>& ctx, unsigned indent) const {
  const int at = static_cast<int>(indent);
  Keel::_objDumpPrintf(ctx, "%*sDataPath %s: applied %llu rejected %llu\n", at, "",
                       moduleName_.c_str(), static_cast<unsigned long long>(applied_),
                       static_cast<unsigned long long>(rejected_));
  for (const ExitEntry& e : table_) {
    Keel::_objDumpPrintf(ctx, "%*s%s\n", at + 2, "", entryText(e).c_str());
  }
  if (counters_) {
    Keel::_objDumpPrintf(ctx, "%*scounters: per_lane=%d per_exit=%d\n", at + 2, "",
                         counters_->per_lane(), counters_->per_exit());
  }
  if (edgeCounters_) {
    Keel::_objDumpPrintf(ctx, "%*sedge counters: per_gate=%d drops=%d\n", at + 2, "",
                         edgeCounters_->per_gate(), edgeCounters_->drops());
  }
}

}  // namespace Orb
