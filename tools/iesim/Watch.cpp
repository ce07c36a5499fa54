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

TreeWatch::TreeWatch(const Mica::Entity& root, OutputLog& log) : root_(root), log_(log) {
  wantsDescendants_ = true;
  root_.subscriberAdd(this);
}

TreeWatch::~TreeWatch() { root_.subscriberRemove(this); }

unsigned TreeWatch::depthOf(const Mica::Entity& e) const noexcept {
  unsigned depth = 0;
  for (const Mica::Entity* up = &e; up != &root_ && up != nullptr; up = up->owner()) ++depth;
  return depth;
}

// ---- StatusConfigWatch -----------------------------------------------------------------------

StatusConfigWatch::StatusConfigWatch(const IeStatusConfigDir& dir, OutputLog& log)
    : TreeWatch(dir, log) {}

void StatusConfigWatch::pair(const IeStatusConfig& e, char op) {
  if (op == '+') log_.record(op, "pair {}", e.vniLaneId());
  for (const auto& [k, g] : e.exitGroupStatusConfig) group(*g, op);
  for (const auto& [k, p] : e.policyStatusConfig) policy(*p, op);
  if (op == '-') log_.record(op, "pair {}", e.vniLaneId());
}

void StatusConfigWatch::group(const ExitGroupStatusConfig& e, char op) {
  if (op == '+') log_.record(op, "group {}", e.groupKey());
  for (const auto& k : e.exitOption) log_.record(op, "option {} in {}", k, e.groupKey());
  if (op == '-') log_.record(op, "group {}", e.groupKey());
}

void StatusConfigWatch::policy(const PolicyStatusConfig& e, char op) {
  if (op == '+') log_.record(op, "policy {}", e.policyKey());
  for (const auto& [seqNo, entryEntity] : e.exitGroup) entry(e, *entryEntity, op);
  if (op == '-') log_.record(op, "policy {}", e.policyKey());
}

void StatusConfigWatch::entry(const PolicyStatusConfig& policy, const PolicyStatusExitGroupEntry& e,
                              char op) {
  log_.record(op, "entry {} {} -> {}", policy.policyKey(), SeqAsText{e.seqNo()}, e.exitGroup.get());
}

// Depth 0 is the directory, 1 a pair, 2 a group or a policy of a pair (told apart by the
// collection holding it), 3 an entry of a policy.
void StatusConfigWatch::handle(const Mica::Entity& source, Mica::AttrId attr, const void* key,
                               const void* oldValue) {
  const char op = oldValue == nullptr ? '+' : '-';
  switch (depthOf(source)) {
    case 0: {
      const auto& dir = static_cast<const IeStatusConfigDir&>(source);
      if (attr == IeStatusConfigDir::statusConfigId) pair(childOf(dir.statusConfig, key, oldValue), op);
      break;
    }
    case 1: {
      const auto& e = static_cast<const IeStatusConfig&>(source);
      if (attr == IeStatusConfig::exitGroupStatusConfigId) {
        group(childOf(e.exitGroupStatusConfig, key, oldValue), op);
      } else if (attr == IeStatusConfig::policyStatusConfigId) {
        policy(childOf(e.policyStatusConfig, key, oldValue), op);
      }
      break;
    }
    case 2: {
      if (source.ownerAttr() == IeStatusConfig::exitGroupStatusConfigId) {
        const auto& e = static_cast<const ExitGroupStatusConfig&>(source);
        if (attr == ExitGroupStatusConfig::exitOptionId) {
          const auto& k = keyAt<ExitVniLaneKey>(key);
          log_.record(e.exitOption.contains(k) ? '+' : '-', "option {} in {}", k, e.groupKey());
        }
      } else if (source.ownerAttr() == IeStatusConfig::policyStatusConfigId) {
        const auto& e = static_cast<const PolicyStatusConfig&>(source);
        if (attr == PolicyStatusConfig::exitGroupId) entry(e, childOf(e.exitGroup, key, oldValue), op);
      }
      break;
    }
    case 3: {
      const auto& e = static_cast<const PolicyStatusExitGroupEntry&>(source);
      if (attr == PolicyStatusExitGroupEntry::exitGroupId && oldValue != nullptr) {
        const auto& policy = static_cast<const PolicyStatusConfig&>(*e.owner());
        log_.record('~', "entry {} {}: {} -> {}", policy.policyKey(), SeqAsText{e.seqNo()},
                    keyAt<GroupVniLaneKey>(oldValue), e.exitGroup.get());
      }
      break;
    }
    default: break;
  }
}

// ---- GroupToPolicyWatch ----------------------------------------------------------------------

GroupToPolicyWatch::GroupToPolicyWatch(const IeGroupToPolicyDir& dir, OutputLog& log)
    : TreeWatch(dir, log) {}

void GroupToPolicyWatch::group(const ExitGroupToPolicy& e, char op) {
  for (const auto& p : e.policy) log_.record(op, "{}: {}", e.groupKey(), p);
}

void GroupToPolicyWatch::handle(const Mica::Entity& source, Mica::AttrId attr, const void* key,
                                const void* oldValue) {
  if (&source == &root_) {
    const auto& dir = static_cast<const IeGroupToPolicyDir&>(source);
    if (attr == IeGroupToPolicyDir::groupToPolicyId) {
      group(childOf(dir.groupToPolicy, key, oldValue), oldValue == nullptr ? '+' : '-');
    }
    return;
  }
  const auto& e = static_cast<const ExitGroupToPolicy&>(source);
  if (attr == ExitGroupToPolicy::policyId) {
    const auto& k = keyAt<PolicyVniLaneKey>(key);
    log_.record(e.policy.contains(k) ? '+' : '-', "{}: {}", e.groupKey(), k);
  }
}

// ---- ExitOptionWatch -------------------------------------------------------------------------

ExitOptionWatch::ExitOptionWatch(const IeExitOptionDir& dir, OutputLog& log) : TreeWatch(dir, log) {}

void ExitOptionWatch::option(const ExitOptionStatus& e, char op) {
  if (op == '+') {
    log_.record(op, "{}", e.key());
    if (!(e.resultExitIntf.get() == ExitIntfResult())) {
      log_.record('~', "{}: {}", e.key(), ResultAsText{e.resultExitIntf.get()});
    }
  }
  for (const auto& g : e.group) log_.record(op, "{} in {}", e.key(), g.groupName);
  if (op == '-') log_.record(op, "{}", e.key());
}

void ExitOptionWatch::handle(const Mica::Entity& source, Mica::AttrId attr, const void* key,
                             const void* oldValue) {
  if (&source == &root_) {
    const auto& dir = static_cast<const IeExitOptionDir&>(source);
    if (attr == IeExitOptionDir::exitOptionStatusId) {
      option(childOf(dir.exitOptionStatus, key, oldValue), oldValue == nullptr ? '+' : '-');
    }
    return;
  }
  const auto& e = static_cast<const ExitOptionStatus&>(source);
  if (attr == ExitOptionStatus::groupId) {
    const auto& g = keyAt<GroupVniLaneKey>(key);
    log_.record(e.group.contains(g) ? '+' : '-', "{} in {}", e.key(), g.groupName);
  } else if (attr == ExitOptionStatus::resultExitIntfId) {
    log_.record('~', "{}: {}", e.key(), ResultAsText{e.resultExitIntf.get()});
  }
}

// ---- ExitGroupWatch --------------------------------------------------------------------------

ExitGroupWatch::ExitGroupWatch(const IeExitGroupDir& dir, OutputLog& log) : TreeWatch(dir, log) {}

void ExitGroupWatch::result(const GroupVniLaneKey& g, const ExitVniLaneKey& o, const ExitIntfResult& r,
                            char op) {
  log_.record(op, "{} {}: {}", g, o.exitKey, ResultAsText{r});
  touched_.push_back({g, o, op});
}

void ExitGroupWatch::group(const ExitGroupStatus& e, char op) {
  for (const auto& [o, r] : e.result) result(e.groupKey(), o, r, op);
  if (op == '-') log_.note("  {} is down (no usable result)", e.groupKey());
}

void ExitGroupWatch::handle(const Mica::Entity& source, Mica::AttrId attr, const void* key,
                            const void* oldValue) {
  if (&source == &root_) {
    const auto& dir = static_cast<const IeExitGroupDir&>(source);
    if (attr == IeExitGroupDir::exitGroupStatusId) {
      group(childOf(dir.exitGroupStatus, key, oldValue), oldValue == nullptr ? '+' : '-');
    }
    return;
  }
  const auto& e = static_cast<const ExitGroupStatus&>(source);
  if (attr != ExitGroupStatus::resultId) return;
  const auto& o = keyAt<ExitVniLaneKey>(key);
  if (const auto* now = e.result.lookup(o)) {
    result(e.groupKey(), o, *now, oldValue == nullptr ? '+' : '~');
  } else {
    result(e.groupKey(), o, keyAt<ExitIntfResult>(oldValue), '-');
  }
}

// ---- PolicyStatusWatch -----------------------------------------------------------------------

PolicyStatusWatch::PolicyStatusWatch(const IePolicyDir& dir, OutputLog& log) : TreeWatch(dir, log) {}

void PolicyStatusWatch::touch(const PolicyVniLaneKey& k) {
  if (touchedSet_.insert(k).second) touched_.push_back(k);
}

void PolicyStatusWatch::policy(const PolicyStatus& e, char op) {
  touch(e.policyKey());
  for (const auto& r : e.exitIntf) log_.record(op, "{} {}", e.policyKey(), ResultAsText{r});
  if (op == '-') {
    log_.note("  {} has no status (no group of it has a result)", e.policyKey());
  }
}

void PolicyStatusWatch::handle(const Mica::Entity& source, Mica::AttrId attr, const void* key,
                               const void* oldValue) {
  if (&source == &root_) {
    const auto& dir = static_cast<const IePolicyDir&>(source);
    if (attr == IePolicyDir::policyStatusId) {
      policy(childOf(dir.policyStatus, key, oldValue), oldValue == nullptr ? '+' : '-');
    }
    return;
  }
  const auto& e = static_cast<const PolicyStatus&>(source);
  touch(e.policyKey());
  if (attr == PolicyStatus::exitIntfId) {
    const auto& r = keyAt<ExitIntfResult>(key);
    log_.record(e.exitIntf.contains(r) ? '+' : '-', "{} {}", e.policyKey(), ResultAsText{r});
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
