#include "bench/StatusChainFixture.h"

#include <fmt/format.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

namespace IeBench {

using OrbInternetExit::ExitGroupStatusConfig;
using OrbInternetExit::ExitResultType;
using OrbInternetExit::ExitType;
using OrbInternetExit::GroupVniLaneKey;
using OrbInternetExit::PolicyStatusExitGroupEntry;
using OrbInternetExit::PolicyVniLaneKey;

namespace {
// Seed of the binding order (the same as BenchSupport's, offset: another population).
constexpr uint64_t kSeed = 20261206 + 65;

// Exit group `name` with its two options.
void groupIs(InternetExitCliConfig& config, const std::string& name) {
  auto group = config.exitGroupConfigIs(Mica::String(name));
  group->exitOptionIs(ExitKey(Mica::String("wan-" + name), ExitType::localExit()));
  group->exitOptionIs(ExitKey(Mica::String("peer-" + name), ExitType::remoteExit()));
}

// Policy `name` listing `first` at 10 and `second` at 20, both groups configured.
void policyIs(InternetExitCliConfig& config, const Mica::String& name, const std::string& first,
              const std::string& second) {
  groupIs(config, first);
  groupIs(config, second);
  auto policy = config.policyConfigIs(name);
  policy->exitGroupIs(10, Mica::String(first));
  policy->exitGroupIs(20, Mica::String(second));
}
}  // namespace

const Mica::String& dedicatedPolicy() {
  static const Mica::String name("ie-policy-k");
  return name;
}

const Mica::String& dedicatedGroup() {
  static const Mica::String name("ie-group-k10");
  return name;
}

const Wire::IntfId& dedicatedInterface() {
  static const Wire::IntfId intf("eth-k");
  return intf;
}

Wire::IntfId interfaceOf(const Mica::String& localExitName) {
  const std::string_view name = localExitName.view();
  if (name.substr(4) == dedicatedGroup().view()) return dedicatedInterface();
  return Wire::IntfId(fmt::format("eth-{}", name.substr(4)));  // "wan-<group>" -> "eth-<group>"
}

Mica::Ptr<Lane::LaneStatusDir> laneStatusWithDedicated(size_t n, size_t k) {
  std::vector<uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  std::shuffle(order.begin(), order.end(), std::mt19937_64(kSeed));
  const size_t stride = k == 0 ? 0 : n / k;
  const auto& names = policyNames();
  Mica::Ptr<Lane::LaneStatusDir> lanes(new Lane::LaneStatusDir());
  for (uint32_t i : order) {
    const bool dedicated = stride != 0 && i % stride == 0 && i / stride < k;
    lanes->laneToIEMapIs(pairOf(i), dedicated ? dedicatedPolicy() : names[policyOf(i)]);
  }
  return lanes;
}

Mica::Ptr<InternetExitCliConfig> standardConfig(bool dedicated) {
  Mica::Ptr<InternetExitCliConfig> config(new InternetExitCliConfig());
  const auto& names = policyNames();
  for (size_t p = 0; p < names.size(); ++p) {
    policyIs(*config, names[p], fmt::format("ie-group-{:03}", 2 * p),
             fmt::format("ie-group-{:03}", 2 * p + 1));
  }
  if (dedicated) policyIs(*config, dedicatedPolicy(), dedicatedGroup().str(), "ie-group-k20");
  return config;
}

OrbInternetExit::ModuleOptions moduleOptions() {
  return OrbInternetExit::ModuleOptions{.internetExit = true,
                                        .maxInGate = 4,
                                        .maxOutGate = kOutputGates,
                                        .reservedInGate = 1,
                                        .reservedOutGate = 2};
}

Environment::Environment(const InternetExitCliConfig& config, const Lane::LaneStatusDir& lanes, bool makeModule)
    : orbcsd(Mica::make<Orb::OrbCommonSmData>()),
      connections(Mica::make<SiConnectionStatusDir>()),
      responses(Mica::make<SvcResolverResponseDir>()),
      requests(Mica::make<SvcResolverRequestDir>()),
      notifications(Mica::make<SvcInUseNotificationDir>()) {
  auto vxlan = Mica::make<Orb::VxlanInfo>();
  vxlan->vrfIdToVniMapIs(Kiln::VrfId(1), Vxlan::VniExtOrNone(kDefaultRouteVni));
  orbcsd->vxlanInfoIs(vxlan);
  orbcsd->defaultRoutePresentInVrfIs(Kiln::VrfId(1));
  const Mica::String defaultVrf("default");
  uint32_t num = 0;
  for (const auto& [name, group] : config.exitGroupConfig) {
    for (const ExitKey& option : group->exitOption) {
      if (option.type != ExitType::localExit()) continue;
      const Wire::IntfId intf = interfaceOf(option.name);
      orbcsd->l3IntfIs(intf);
      connections->connectionIs(option.name, ResultConnIntf(intf, defaultVrf, ++num));
    }
  }
  // The responses of the answered remote options.
  for (const auto& [pair, policy] : lanes.laneToIEMap) {
    const auto* p = config.policyConfig.lookup(policy);
    if (!p) continue;
    const bool dedicated = policy == dedicatedPolicy();
    for (const auto& [seqNo, entry] : p->exitGroup) {
      const bool answered = dedicated ? entry->exitGroupName.get() != dedicatedGroup()
                                      : pair.vniId().value() % kAnsweredEvery == 0;
      if (!answered) continue;
      const auto* group = config.exitGroupConfig.lookup(entry->exitGroupName.get());
      if (!group) continue;
      for (const ExitKey& option : group->exitOption) {
        if (option.type != ExitType::remoteExit()) continue;
        responses->resolverResponseIs(VniLaneSvcGroupName(option.name, pair),
                                      {static_cast<uint16_t>(1 + pair.value() % 1000)});
      }
    }
  }
  if (makeModule) {
    const auto o = moduleOptions();
    ownModulePair = Mica::make<Orb::ModuleConfigStatusPair>();
    ownModule = Orb::internetExitFactory(Mica::String("InternetExit"), Orb::OrbModule::ModuleClass::forwarding,
                                         o.maxInGate, o.maxOutGate, o.reservedInGate, o.reservedOutGate,
                                         ownModulePair, orbcsd);
  }
}

Environment::~Environment() {
  // orbcsd holds the module, and the module orbcsd: break the cycle.
  if (ownModule && orbcsd->internetExitModule.get() == ownModule) orbcsd->internetExitModuleIs(nullptr);
}

VniLaneSvcGroupName remoteOptionOf(size_t i) {
  return VniLaneSvcGroupName(Mica::String(fmt::format("peer-ie-group-{:03}", 2 * policyOf(i))), pairOf(i));
}

Chain::Chain(Mica::Ptr<Lane::LaneStatusDir> lanesIn, Mica::Ptr<InternetExitCliConfig> configIn, bool withModuleIn)
    : lanes(std::move(lanesIn)),
      config(std::move(configIn)),
      env(std::make_unique<Environment>(*config, *lanes, !withModuleIn)),
      scheduler(new Keel::TaskScheduler()),
      dataPath(std::make_unique<Orb::DataPathModel>(Mica::String("InternetExit"))),
      withModule(withModuleIn) {
  const auto outputs = OrbInternetExit::LibraryOutputs::create();
  bindings = outputs.policyToVniLane;
  status = outputs.statusConfig;
  exitOptions = outputs.exitOption;
  exitGroups = outputs.exitGroup;
  groupToPolicy = outputs.groupToPolicy;
  policies = outputs.policy;
  vniDefaultRoutes = outputs.vniDefaultRoute;
  vniLaneDefaultRoutes = outputs.vniLaneDefaultRoute;
  Flo::SmControl control;
  control.taskScheduler = scheduler;
  assembly = std::make_unique<InternetExitAssembly>(
      OrbInternetExit::AgentEntities{lanes, config, env->orbcsd, env->connections, env->responses, env->requests,
                                     env->notifications},
      outputs, control);
}

Chain::~Chain() {
  assembly = nullptr;  // stops the state machines and drops the module
}

void Chain::start() { assembly->startAll(withModule ? moduleOptions() : OrbInternetExit::ModuleOptions{}); }

void Chain::stop() {
  for (size_t i = OrbInternetExit::kComponentCount; i-- > 0;) assembly->stop(static_cast<Component>(i));
}

uint64_t Chain::settle() {
  const uint64_t before = commands();
  scheduler->runUntilIdle();
  if (const auto& pair = modulePair()) dataPath->drain(*pair);
  return commands() - before;
}

const Mica::Ptr<Orb::InternetExit>& Chain::module() const {
  return withModule ? assembly->internetExitModule() : env->ownModule;
}

const Mica::Ptr<Orb::ModuleConfigStatusPair>& Chain::modulePair() const {
  return withModule ? assembly->internetExitPair() : env->ownModulePair;
}

size_t Chain::policyInterfaces() const {
  size_t count = 0;
  for (const auto& [k, s] : policies->policyStatus) count += s->exitIntf.size();
  return count;
}

bool Chain::idleAndComplete(size_t pairs) const {
  for (size_t i = 0; i < OrbInternetExit::kComponentCount; ++i) {
    if (!assembly->running(static_cast<Component>(i))) return false;
  }
  const auto& pair = modulePair();
  const bool drained = !pair || !pair->config() || pair->config()->pendingCount() == 0;
  return assembly->idle() && drained && bindings->polToVniLane.size() == pairs &&
         status->statusConfig.size() == pairs && groupToPolicy->groupToPolicy.size() == kGroupsPerPolicy * pairs &&
         exitOptions->exitOptionStatus.size() == kOptionsPerPair * pairs &&
         env->requests->resolverRequest.size() == kRemotePerPair * pairs &&
         exitGroups->exitGroupStatus.size() == kGroupsPerPolicy * pairs &&
         policies->policyStatus.size() == pairs &&
         (!pair || dataPath->exitTable().size() == policyInterfaces());
}

std::vector<uint32_t> Chain::gateState() const {
  std::vector<uint32_t> state;
  const auto& m = module();
  const auto& manager = m->gateManager();
  for (const auto& [intf, entry] : env->orbcsd->l3Intf) state.push_back(manager->usersOf(*m, intf));
  state.push_back(static_cast<uint32_t>(manager->gatesInUse(*m)));
  return state;
}

// --- OutputWatch ---

OutputWatch::~OutputWatch() {
  for (Sub& s : subs_) s.entity().subscriberRemove(&s);
}

void OutputWatch::Sub::onNotification(Mica::AttrId attr, const void* key, const void* oldValue) {
  ++watch_.writes_[output_];
  // A creation in a collection of entities: (attr, &key, null). Deletions carry the old Ptr.
  if (created_ && key && !oldValue) created_(watch_, *entity_, attr, key);
}

void OutputWatch::subscribe(const Mica::Entity& e, Created created, Outputs output) {
  Sub& s = subs_.emplace_back(*this, e, created, output);
  e.subscriberAdd(&s);
}

void OutputWatch::root(const Mica::Entity& e, Created created, Outputs output) {
  for (const Mica::Entity*& r : roots_) {
    if (r == &e) return;
    if (!r) {
      r = &e;
      subscribe(e, created, output);
      return;
    }
  }
}

void OutputWatch::roots(const Chain& chain) {
  root(*chain.bindings, nullptr);
  root(*chain.status, &statusDirCreated);
  root(*chain.groupToPolicy, &groupMapCreated);
  root(*chain.exitOptions, &exitOptionCreated, kExitOutputs);
  // Resolver requests, in-use notifications and default routes are values of their root's set:
  // the root sees every write.
  root(*chain.env->requests, nullptr, kExitOutputs);
  root(*chain.exitGroups, &exitGroupCreated, kPolicyOutputs);
  root(*chain.policies, &policyCreated, kPolicyOutputs);
  root(*chain.env->notifications, nullptr, kPolicyOutputs);
  root(*chain.vniDefaultRoutes, nullptr, kDefaultRoutes);
  root(*chain.vniLaneDefaultRoutes, nullptr, kDefaultRoutes);
}

void OutputWatch::tree(const IeStatusConfig& c) {
  subscribe(c, &statusCreated);
  for (const auto& [k, g] : c.exitGroupStatusConfig) subscribe(*g, nullptr);
  for (const auto& [k, p] : c.policyStatusConfig) tree(*p);
}

void OutputWatch::tree(const PolicyStatusConfig& p) {
  subscribe(p, &policyStatusCreated);
  for (const auto& [seqNo, entry] : p.exitGroup) subscribe(*entry, nullptr);
}

void OutputWatch::tree(const ExitGroupToPolicy& g) { subscribe(g, nullptr); }

void OutputWatch::watchAll(const Chain& chain) {
  roots(chain);
  for (const auto& [v, c] : chain.status->statusConfig) tree(*c);
  for (const auto& [k, g] : chain.groupToPolicy->groupToPolicy) tree(*g);
  for (const auto& [k, s] : chain.exitOptions->exitOptionStatus) subscribe(*s, nullptr, kExitOutputs);
  for (const auto& [k, g] : chain.exitGroups->exitGroupStatus) subscribe(*g, nullptr, kPolicyOutputs);
  for (const auto& [k, p] : chain.policies->policyStatus) subscribe(*p, nullptr, kPolicyOutputs);
}

void OutputWatch::watchPair(const Chain& chain, Lane::VniAndLaneId v) {
  roots(chain);
  if (const IeStatusConfig* c = chain.status->statusConfig.lookup(v)) tree(*c);
  // Reverse-map and exit-option keys order by pair first: the pair's entries are one range.
  const auto& map = chain.groupToPolicy->groupToPolicy;
  for (auto it = map.lowerBound(GroupVniLaneKey(Mica::String(), v));
       it != map.end() && it->first.vniLaneId == v; ++it) {
    tree(*it->second);
  }
  const auto& options = chain.exitOptions->exitOptionStatus;
  for (auto it = options.lowerBound(ExitVniLaneKey(ExitKey(), v)); it != options.end() && it->first.vniLaneId == v;
       ++it) {
    subscribe(*it->second, nullptr, kExitOutputs);
  }
  const auto& groups = chain.exitGroups->exitGroupStatus;
  for (auto it = groups.lowerBound(GroupVniLaneKey(Mica::String(), v)); it != groups.end() && it->first.vniLaneId == v;
       ++it) {
    subscribe(*it->second, nullptr, kPolicyOutputs);
  }
  const auto& policies = chain.policies->policyStatus;
  for (auto it = policies.lowerBound(PolicyVniLaneKey(Mica::String(), v));
       it != policies.end() && it->first.vniLaneId == v; ++it) {
    subscribe(*it->second, nullptr, kPolicyOutputs);
  }
}

void OutputWatch::statusDirCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key) {
  const auto& dir = static_cast<const IeStatusConfigDir&>(e);
  const auto& v = *static_cast<const Lane::VniAndLaneId*>(key);
  if (const IeStatusConfig* c = dir.statusConfig.lookup(v)) w.tree(*c);
}

void OutputWatch::statusCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId attr, const void* key) {
  const auto& c = static_cast<const IeStatusConfig&>(e);
  if (attr == IeStatusConfig::exitGroupStatusConfigId) {
    const auto& k = *static_cast<const GroupVniLaneKey*>(key);
    if (const ExitGroupStatusConfig* g = c.exitGroupStatusConfig.lookup(k)) w.subscribe(*g, nullptr);
  } else if (attr == IeStatusConfig::policyStatusConfigId) {
    const auto& k = *static_cast<const PolicyVniLaneKey*>(key);
    if (const PolicyStatusConfig* p = c.policyStatusConfig.lookup(k)) w.tree(*p);
  }
}

void OutputWatch::policyStatusCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key) {
  const auto& p = static_cast<const PolicyStatusConfig&>(e);
  if (const PolicyStatusExitGroupEntry* entry = p.exitGroup.lookup(*static_cast<const double*>(key))) {
    w.subscribe(*entry, nullptr);
  }
}

void OutputWatch::groupMapCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key) {
  const auto& dir = static_cast<const IeGroupToPolicyDir&>(e);
  const auto& k = *static_cast<const GroupVniLaneKey*>(key);
  if (const ExitGroupToPolicy* g = dir.groupToPolicy.lookup(k)) w.tree(*g);
}

void OutputWatch::exitOptionCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key) {
  const auto& dir = static_cast<const IeExitOptionDir&>(e);
  if (const ExitOptionStatus* s = dir.exitOptionStatus.lookup(*static_cast<const ExitVniLaneKey*>(key))) {
    w.subscribe(*s, nullptr, kExitOutputs);
  }
}

void OutputWatch::exitGroupCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key) {
  const auto& dir = static_cast<const IeExitGroupDir&>(e);
  if (const ExitGroupStatus* g = dir.exitGroupStatus.lookup(*static_cast<const GroupVniLaneKey*>(key))) {
    w.subscribe(*g, nullptr, kPolicyOutputs);
  }
}

void OutputWatch::policyCreated(OutputWatch& w, const Mica::Entity& e, Mica::AttrId, const void* key) {
  const auto& dir = static_cast<const IePolicyDir&>(e);
  if (const PolicyStatus* p = dir.policyStatus.lookup(*static_cast<const PolicyVniLaneKey*>(key))) {
    w.subscribe(*p, nullptr, kPolicyOutputs);
  }
}

}  // namespace IeBench
