#include <fmt/format.h>

#include <algorithm>
#include <vector>

#include "tools/iesim/Keys.h"
#include "tools/iesim/Steps.h"
#include "tools/iesim/Watch.h"

namespace IeSim {

namespace {

using Kind = iesim::pb::Step::KindCase;
using OrbInternetExit::ExitGroupConfig;
using OrbInternetExit::ExitKey;
using OrbInternetExit::PolicyConfig;

// "10 -> Wan, 20 -> Backup", or "no entry".
std::string entriesText(const PolicyConfig& policy) {
  std::string out;
  for (const auto& [seqNo, entry] : policy.exitGroup) {
    out += fmt::format("{}{} -> {}", out.empty() ? "" : ", ", seqText(seqNo), entry->exitGroupName.get());
  }
  return out.empty() ? "no entry" : out;
}

// "localExit:wan1, fibDefault:dflt", or "no option".
std::string optionsText(const ExitGroupConfig& group) {
  std::string out;
  for (const auto& option : group.exitOption) out += fmt::format("{}{}", out.empty() ? "" : ", ", option);
  return out.empty() ? "no option" : out;
}

// The policy `name`, created (with a note) when absent.
Mica::Ptr<PolicyConfig> policyOf(World& world, const std::string& name, StepRecord& r) {
  if (!world.config().policyConfig.contains(Mica::String(name))) {
    r.notes.push_back(fmt::format("policy {} created", name));
  }
  return world.config().policyConfigIs(Mica::String(name));
}

Mica::Ptr<ExitGroupConfig> groupOf(World& world, const std::string& name, StepRecord& r) {
  if (!world.config().exitGroupConfig.contains(Mica::String(name))) {
    r.notes.push_back(fmt::format("group {} created", name));
  }
  return world.config().exitGroupConfigIs(Mica::String(name));
}

// Makes the policy's entries exactly those of `p`: entries that go are removed first, so that a
// group moving to another sequence number is never named twice.
void writePolicy(World& world, const iesim::pb::Policy& p) {
  auto policy = world.config().policyConfigIs(Mica::String(p.name()));
  std::vector<double> gone;
  for (const auto& [seqNo, entry] : policy->exitGroup) {
    bool kept = false;
    for (const auto& e : p.entry()) kept = kept || e.seq() == seqNo;
    if (!kept) gone.push_back(seqNo);
  }
  for (const double seqNo : gone) policy->exitGroupDel(seqNo);
  for (const auto& e : p.entry()) policy->exitGroupIs(e.seq(), Mica::String(e.group()));
}

// Makes the group's options exactly those of `g`, removals first.
void writeGroup(World& world, const iesim::pb::Group& g) {
  auto group = world.config().exitGroupConfigIs(Mica::String(g.name()));
  std::vector<ExitKey> wanted, gone;
  for (const auto& o : g.option()) wanted.push_back(checkedExitOption(o));
  for (const auto& option : group->exitOption) {
    if (std::find(wanted.begin(), wanted.end(), option) == wanted.end()) gone.push_back(option);
  }
  for (const auto& option : gone) group->exitOptionDel(option);
  for (const auto& option : wanted) group->exitOptionIs(option);
}

void configurePolicy(World& world, const iesim::pb::Policy& p, StepRecord& r) {
  const PolicyConfig* old = world.config().policyConfig.lookup(Mica::String(p.name()));
  const std::string before = old ? entriesText(*old) : std::string();
  writePolicy(world, p);
  const std::string after = entriesText(*world.config().policyConfig.lookup(Mica::String(p.name())));
  r.what = fmt::format("configure policy {}: {} ({})", p.name(), after,
                       !old ? std::string("new")
                       : before == after ? std::string("unchanged")
                                         : "was " + before);
}

void removePolicy(World& world, const std::string& name, StepRecord& r) {
  const PolicyConfig* old = world.config().policyConfig.lookup(Mica::String(name));
  r.what = fmt::format("remove policy {} ({})", name,
                       old ? "was " + entriesText(*old) : std::string("not configured"));
  world.config().policyConfigDel(Mica::String(name));
}

void setEntry(World& world, const iesim::pb::SetEntry& e, StepRecord& r) {
  auto policy = policyOf(world, e.policy(), r);
  const auto* old = policy->exitGroup.lookup(e.seq());
  const Mica::String group(e.group());
  r.what = fmt::format("set entry {} {} -> {} ({})", e.policy(), seqText(e.seq()), group,
                       !old ? std::string("new")
                       : old->exitGroupName.get() == group
                           ? std::string("unchanged")
                           : fmt::format("was {}", old->exitGroupName.get()));
  policy->exitGroupIs(e.seq(), group);
}

void removeEntry(World& world, const iesim::pb::RemoveEntry& e, StepRecord& r) {
  PolicyConfig* policy = world.config().policyConfig.lookup(Mica::String(e.policy()));
  const auto* old = policy ? policy->exitGroup.lookup(e.seq()) : nullptr;
  r.what = fmt::format("remove entry {} {} ({})", e.policy(), seqText(e.seq()),
                       old ? fmt::format("was {}", old->exitGroupName.get())
                       : policy ? std::string("no such entry")
                                : std::string("policy not configured"));
  if (policy) policy->exitGroupDel(e.seq());
}

void configureGroup(World& world, const iesim::pb::Group& g, StepRecord& r) {
  const ExitGroupConfig* old = world.config().exitGroupConfig.lookup(Mica::String(g.name()));
  const std::string before = old ? optionsText(*old) : std::string();
  writeGroup(world, g);
  const std::string after = optionsText(*world.config().exitGroupConfig.lookup(Mica::String(g.name())));
  r.what = fmt::format("configure group {}: {} ({})", g.name(), after,
                       !old ? std::string("new")
                       : before == after ? std::string("unchanged")
                                         : "was " + before);
}

void removeGroup(World& world, const std::string& name, StepRecord& r) {
  const ExitGroupConfig* old = world.config().exitGroupConfig.lookup(Mica::String(name));
  r.what = fmt::format("remove group {} ({})", name,
                       old ? "was " + optionsText(*old) : std::string("not configured"));
  world.config().exitGroupConfigDel(Mica::String(name));
}

void changeOption(World& world, const iesim::pb::OptionChange& c, bool add, StepRecord& r) {
  const ExitKey option = checkedExitOption(c.option());
  if (add) {
    auto group = groupOf(world, c.group(), r);
    r.what = fmt::format("add option {} to {} ({})", option, c.group(),
                         group->exitOption.contains(option) ? "already there" : "new");
    group->exitOptionIs(option);
    return;
  }
  ExitGroupConfig* group = world.config().exitGroupConfig.lookup(Mica::String(c.group()));
  r.what = fmt::format("remove option {} from {} ({})", option, c.group(),
                       !group                               ? "group not configured"
                       : group->exitOption.contains(option) ? "was there"
                                                            : "not there");
  if (group) group->exitOptionDel(option);
}

}  // namespace

bool runConfigStep(World& world, const iesim::pb::Step& step, StepRecord& r) {
  switch (step.kind_case()) {
    case Kind::kConfigurePolicy: configurePolicy(world, step.configure_policy(), r); return true;
    case Kind::kRemovePolicy: removePolicy(world, step.remove_policy().name(), r); return true;
    case Kind::kSetEntry: setEntry(world, step.set_entry(), r); return true;
    case Kind::kRemoveEntry: removeEntry(world, step.remove_entry(), r); return true;
    case Kind::kConfigureGroup: configureGroup(world, step.configure_group(), r); return true;
    case Kind::kRemoveGroup: removeGroup(world, step.remove_group().name(), r); return true;
    case Kind::kAddOption: changeOption(world, step.add_option(), true, r); return true;
    case Kind::kRemoveOption: changeOption(world, step.remove_option(), false, r); return true;
    default: return false;
  }
}

void loadConfig(World& world, const iesim::pb::Config& config) {
  for (const auto& g : config.group()) writeGroup(world, g);
  for (const auto& p : config.policy()) writePolicy(world, p);
}

}  // namespace IeSim
