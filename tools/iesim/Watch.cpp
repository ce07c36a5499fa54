#include "tools/iesim/Watch.h"

#include <algorithm>
#include <cmath>

namespace IeSim {

namespace {

using OrbInternetExit::ExitGroupStatusConfig;
using OrbInternetExit::ExitIntfResult;
using OrbInternetExit::ExitOptionStatus;
using OrbInternetExit::IeExitOptionDir;
using OrbInternetExit::ExitGroupToPolicy;
using OrbInternetExit::ExitVniLaneKey;
using OrbInternetExit::GroupVniLaneKey;
using OrbInternetExit::IeGroupToPolicyDir;
using OrbInternetExit::IeStatusConfig;
using OrbInternetExit::IeStatusConfigDir;
using OrbInternetExit::PolicyStatusConfig;
using OrbInternetExit::PolicyStatusExitGroupEntry;
using OrbInternetExit::PolicyVniLaneKey;
using OrbInternetExit::ExitGroupStatus;
using OrbInternetExit::IeExitGroupDir;
using OrbInternetExit::IePolicyDir;
using OrbInternetExit::PolicyStatus;

template <class T>
const T& keyAt(const void* key) {
  return *static_cast<const T*>(key);
}

// The child entity of an entity-map notification: the new one on creation, the old one on
// deletion.
template <class Map>
const typename Map::Element& childOf(const Map& map, const void* key, const void* oldValue) {
  if (oldValue != nullptr) return **static_cast<const typename Map::Value*>(oldValue);
  return *map.lookup(keyAt<typename Map::Key>(key));
}

}  // namespace

std::string seqText(double seqNo) {
  if (std::floor(seqNo) == seqNo && std::fabs(seqNo) < 1e15) {
    return fmt::format("{}", static_cast<int64_t>(seqNo));
  }
  return fmt::format("{}", seqNo);
}

std::string resultText(const ExitIntfResult& r) {
  std::string out(r.resultType.name());
  if (r.intfId.valid()) out += fmt::format(" intf={}", r.intfId);
  if (r.vrfName != ExitIntfResult::defaultVrfName()) out += fmt::format(" vrf={}", r.vrfName);
  auto number = [](uint32_t v) {
    return v == ExitIntfResult::noGate ? std::string("none") : fmt::format("{}", v);
  };
  return out + fmt::format(" gate={} aux={}", number(r.gateId), number(r.auxId));
}

// ---- TreeWatch -------------------------------------------------------------------------------

TreeWatch::~TreeWatch() {
  for (auto& [entity, sub] : subs_) entity->subscriberRemove(sub.get());
}

void TreeWatch::watch(int kind, const Mica::Entity& entity, std::string context) {
  if (subs_.contains(&entity)) return;
  auto sub = std::make_unique<Sub>(*this, kind, entity, std::move(context));
  entity.subscriberAdd(sub.get());
  subs_[&entity] = std::move(sub);
}

void TreeWatch::unwatch(const Mica::Entity& entity) {
  auto it = subs_.find(&entity);
  if (it == subs_.end()) return;
  entity.subscriberRemove(it->second.get());
  subs_.erase(it);
}

// ---- StatusConfigWatch -----------------------------------------------------------------------

StatusConfigWatch::StatusConfigWatch(const IeStatusConfigDir& dir, OutputLog& log)
    : TreeWatch(log) {
  watch(dirKind, dir);
  for (const auto& [pairKey, e] : dir.statusConfig) pair(*e, 0);
}

void StatusConfigWatch::pair(const IeStatusConfig& e, char op) {
  if (op == '+') log_.record(op, "pair {}", e.vniLaneId());
  if (op != '-') watch(pairKind, e);
  for (const auto& [k, g] : e.exitGroupStatusConfig) group(*g, op);
  for (const auto& [k, p] : e.policyStatusConfig) policy(*p, op);
  if (op == '-') {
    unwatch(e);
    log_.record(op, "pair {}", e.vniLaneId());
  }
}

void StatusConfigWatch::group(const ExitGroupStatusConfig& e, char op) {
  if (op == '+') log_.record(op, "group {}", e.groupKey());
  if (op != '-') watch(groupKind, e);
  if (op != 0) {
    for (const auto& k : e.exitOption) log_.record(op, "option {} in {}", k, e.groupKey());
  }
  if (op == '-') {
    unwatch(e);
    log_.record(op, "group {}", e.groupKey());
  }
}

void StatusConfigWatch::policy(const PolicyStatusConfig& e, char op) {
  const std::string key = fmt::format("{}", e.policyKey());
  if (op == '+') log_.record(op, "policy {}", key);
  if (op != '-') watch(policyKind, e, key);
  for (const auto& [seqNo, entryEntity] : e.exitGroup) entry(key, *entryEntity, op);
  if (op == '-') {
    unwatch(e);
    log_.record(op, "policy {}", key);
  }
}

void StatusConfigWatch::entry(const std::string& policyKey, const PolicyStatusExitGroupEntry& e,
                              char op) {
  if (op != 0) {
    log_.record(op, "entry {} {} -> {}", policyKey, seqText(e.seqNo()), e.exitGroup.get());
  }
  if (op == '-') {
    unwatch(e);
  } else {
    watch(entryKind, e, fmt::format("{} {}", policyKey, seqText(e.seqNo())));
  }
}

void StatusConfigWatch::handle(const Sub& sub, Mica::AttrId attr, const void* key,
                               const void* oldValue) {
  const char op = oldValue == nullptr ? '+' : '-';
  switch (sub.kind()) {
    case dirKind: {
      const auto& dir = static_cast<const IeStatusConfigDir&>(sub.entity());
      if (attr == IeStatusConfigDir::statusConfigId) pair(childOf(dir.statusConfig, key, oldValue), op);
      break;
    }
    case pairKind: {
      const auto& e = static_cast<const IeStatusConfig&>(sub.entity());
      if (attr == IeStatusConfig::exitGroupStatusConfigId) {
        group(childOf(e.exitGroupStatusConfig, key, oldValue), op);
      } else if (attr == IeStatusConfig::policyStatusConfigId) {
        policy(childOf(e.policyStatusConfig, key, oldValue), op);
      }
      break;
    }
    case groupKind: {
      const auto& e = static_cast<const ExitGroupStatusConfig&>(sub.entity());
      if (attr == ExitGroupStatusConfig::exitOptionId) {
        const auto& k = keyAt<ExitVniLaneKey>(key);
        log_.record(e.exitOption.contains(k) ? '+' : '-', "option {} in {}", k, e.groupKey());
      }
      break;
    }
    case policyKind: {
      const auto& e = static_cast<const PolicyStatusConfig&>(sub.entity());
      if (attr == PolicyStatusConfig::exitGroupId) {
        entry(sub.context(), childOf(e.exitGroup, key, oldValue), op);
      }
      break;
    }
    case entryKind: {
      const auto& e = static_cast<const PolicyStatusExitGroupEntry&>(sub.entity());
      if (attr == PolicyStatusExitGroupEntry::exitGroupId && oldValue != nullptr) {
        log_.record('~', "entry {}: {} -> {}", sub.context(), keyAt<GroupVniLaneKey>(oldValue),
                    e.exitGroup.get());
      }
      break;
    }
    default: break;
  }
}

// ---- GroupToPolicyWatch ----------------------------------------------------------------------

GroupToPolicyWatch::GroupToPolicyWatch(const IeGroupToPolicyDir& dir, OutputLog& log)
    : TreeWatch(log) {
  watch(dirKind, dir);
  for (const auto& [k, e] : dir.groupToPolicy) group(*e, 0);
}

void GroupToPolicyWatch::group(const ExitGroupToPolicy& e, char op) {
  if (op != '-') watch(groupKind, e);
  if (op != 0) {
    for (const auto& p : e.policy) log_.record(op, "{}: {}", e.groupKey(), p);
  }
  if (op == '-') unwatch(e);
}

void GroupToPolicyWatch::handle(const Sub& sub, Mica::AttrId attr, const void* key,
                                const void* oldValue) {
  if (sub.kind() == dirKind) {
    const auto& dir = static_cast<const IeGroupToPolicyDir&>(sub.entity());
    if (attr == IeGroupToPolicyDir::groupToPolicyId) {
      group(childOf(dir.groupToPolicy, key, oldValue), oldValue == nullptr ? '+' : '-');
    }
    return;
  }
  const auto& e = static_cast<const ExitGroupToPolicy&>(sub.entity());
  if (attr == ExitGroupToPolicy::policyId) {
    const auto& k = keyAt<PolicyVniLaneKey>(key);
    log_.record(e.policy.contains(k) ? '+' : '-', "{}: {}", e.groupKey(), k);
  }
}

// ---- ExitOptionWatch -------------------------------------------------------------------------

ExitOptionWatch::ExitOptionWatch(const IeExitOptionDir& dir, OutputLog& log) : TreeWatch(log) {
  watch(dirKind, dir);
  for (const auto& [k, e] : dir.exitOptionStatus) option(*e, 0);
}

void ExitOptionWatch::option(const ExitOptionStatus& e, char op) {
  if (op == '+') {
    log_.record(op, "{}", e.key());
    if (!(e.resultExitIntf.get() == ExitIntfResult())) {
      log_.record('~', "{}: {}", e.key(), resultText(e.resultExitIntf.get()));
    }
  }
  if (op != '-') watch(optionKind, e);
  if (op != 0) {
    for (const auto& g : e.group) log_.record(op, "{} in {}", e.key(), g.groupName);
  }
  if (op == '-') {
    unwatch(e);
    log_.record(op, "{}", e.key());
  }
}

void ExitOptionWatch::handle(const Sub& sub, Mica::AttrId attr, const void* key,
                             const void* oldValue) {
  if (sub.kind() == dirKind) {
    const auto& dir = static_cast<const IeExitOptionDir&>(sub.entity());
    if (attr == IeExitOptionDir::exitOptionStatusId) {
      option(childOf(dir.exitOptionStatus, key, oldValue), oldValue == nullptr ? '+' : '-');
    }
    return;
  }
  const auto& e = static_cast<const ExitOptionStatus&>(sub.entity());
  if (attr == ExitOptionStatus::groupId) {
    const auto& g = keyAt<GroupVniLaneKey>(key);
    log_.record(e.group.contains(g) ? '+' : '-', "{} in {}", e.key(), g.groupName);
  } else if (attr == ExitOptionStatus::resultExitIntfId) {
    log_.record('~', "{}: {}", e.key(), resultText(e.resultExitIntf.get()));
  }
}

// ---- ExitGroupWatch --------------------------------------------------------------------------

ExitGroupWatch::ExitGroupWatch(const IeExitGroupDir& dir, OutputLog& log) : TreeWatch(log) {
  watch(dirKind, dir);
  for (const auto& [k, e] : dir.exitGroupStatus) group(*e, 0);
}

void ExitGroupWatch::result(const GroupVniLaneKey& g, const ExitVniLaneKey& o, const ExitIntfResult& r,
                            char op) {
  log_.record(op, "{} {}: {}", g, o.exitKey, resultText(r));
  touched_.push_back({g, o, op});
}

void ExitGroupWatch::group(const ExitGroupStatus& e, char op) {
  if (op != '-') watch(groupKind, e);
  if (op != 0) {
    for (const auto& [o, r] : e.result) result(e.groupKey(), o, r, op);
  }
  if (op == '-') {
    unwatch(e);
    log_.note(fmt::format("  {} is down (no usable result)", e.groupKey()));
  }
}

void ExitGroupWatch::handle(const Sub& sub, Mica::AttrId attr, const void* key, const void* oldValue) {
  if (sub.kind() == dirKind) {
    const auto& dir = static_cast<const IeExitGroupDir&>(sub.entity());
    if (attr == IeExitGroupDir::exitGroupStatusId) {
      group(childOf(dir.exitGroupStatus, key, oldValue), oldValue == nullptr ? '+' : '-');
    }
    return;
  }
  const auto& e = static_cast<const ExitGroupStatus&>(sub.entity());
  if (attr != ExitGroupStatus::resultId) return;
  const auto& o = keyAt<ExitVniLaneKey>(key);
  if (const auto* now = e.result.lookup(o)) {
    result(e.groupKey(), o, *now, oldValue == nullptr ? '+' : '~');
  } else {
    result(e.groupKey(), o, keyAt<ExitIntfResult>(oldValue), '-');
  }
}

// ---- PolicyStatusWatch -----------------------------------------------------------------------

PolicyStatusWatch::PolicyStatusWatch(const IePolicyDir& dir, OutputLog& log) : TreeWatch(log) {
  watch(dirKind, dir);
  for (const auto& [k, e] : dir.policyStatus) policy(*e, 0);
}

void PolicyStatusWatch::touch(const PolicyVniLaneKey& k) {
  if (std::find(touched_.begin(), touched_.end(), k) == touched_.end()) touched_.push_back(k);
}

void PolicyStatusWatch::policy(const PolicyStatus& e, char op) {
  if (op != '-') watch(policyKind, e);
  if (op != 0) {
    touch(e.policyKey());
    for (const auto& r : e.exitIntf) log_.record(op, "{} {}", e.policyKey(), resultText(r));
  }
  if (op == '-') {
    unwatch(e);
    log_.note(fmt::format("  {} has no status (no group of it has a result)", e.policyKey()));
  }
}

void PolicyStatusWatch::handle(const Sub& sub, Mica::AttrId attr, const void* key, const void* oldValue) {
  if (sub.kind() == dirKind) {
    const auto& dir = static_cast<const IePolicyDir&>(sub.entity());
    if (attr == IePolicyDir::policyStatusId) {
      policy(childOf(dir.policyStatus, key, oldValue), oldValue == nullptr ? '+' : '-');
    }
    return;
  }
  const auto& e = static_cast<const PolicyStatus&>(sub.entity());
  touch(e.policyKey());
  if (attr == PolicyStatus::exitIntfId) {
    const auto& r = keyAt<ExitIntfResult>(key);
    log_.record(e.exitIntf.contains(r) ? '+' : '-', "{} {}", e.policyKey(), resultText(r));
  } else if (attr == PolicyStatus::winningExitGroupId) {
    const auto& was = keyAt<GroupVniLaneKey>(oldValue);
    if (was.groupName.empty()) {
      log_.record('~', "{} wins {}", e.policyKey(), e.winningExitGroup.get().groupName);
    } else {
      log_.record('~', "{} wins {} (was {})", e.policyKey(), e.winningExitGroup.get().groupName,
                  was.groupName);
    }
  }
}

}  // namespace IeSim
