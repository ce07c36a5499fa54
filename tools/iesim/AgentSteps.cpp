#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <vector>

#include "tools/iesim/Keys.h"
#include "tools/iesim/Steps.h"

namespace IeSim {

namespace {

using Kind = iesim::pb::Step::KindCase;
using OrbInternetExit::ExitIntfResult;

ResultConnIntf resultOf(const iesim::pb::Connection& c) {
  return ResultConnIntf(Wire::IntfId(c.intf()), Mica::String(c.has_vrf() ? c.vrf() : "default"),
                        static_cast<uint32_t>(c.num()));
}

void connection(World& world, const iesim::pb::Connection& c, StepRecord& r) {
  const ResultConnIntf result = resultOf(c);
  const auto* old = world.connections().connection.lookup(Mica::String(c.name()));
  r.what = fmt::format("connection {} leaves through {} ({})", c.name(), result,
                       old == nullptr                             ? std::string("new")
                       : old->resultConnIntf.get() == result ? std::string("unchanged")
                                                               : fmt::format("was {}", old->resultConnIntf.get()));
  world.connections().connectionIs(Mica::String(c.name()), result);
}

void removeConnection(World& world, const iesim::pb::Name& n, StepRecord& r) {
  const auto* old = world.connections().connection.lookup(Mica::String(n.name()));
  r.what = fmt::format("remove connection {} ({})", n.name(),
                       old ? fmt::format("was {}", old->resultConnIntf.get()) : std::string("absent"));
  world.connections().connectionDel(Mica::String(n.name()));
}

void response(World& world, const iesim::pb::Response& resp, StepRecord& r) {
  const VniLaneSvcGroupName key = checkedSvcGroupKey(resp.key());
  const SvcResolverResponse value{static_cast<uint16_t>(resp.remote_svc_group())};
  const auto old = world.responses().resolverResponse.get(key);
  r.what = fmt::format("resolver answers {} with {} ({})", key, value,
                       !old ? std::string("new")
                       : *old == value ? std::string("unchanged")
                                       : fmt::format("was {}", *old));
  world.responses().resolverResponseIs(key, value);
}

void removeResponse(World& world, const iesim::pb::SvcGroupKey& k, StepRecord& r) {
  const VniLaneSvcGroupName key = checkedSvcGroupKey(k.key());
  const auto old = world.responses().resolverResponse.get(key);
  r.what = fmt::format("resolver withdraws {} ({})", key,
                       old ? fmt::format("was {}", *old) : std::string("absent"));
  world.responses().resolverResponseDel(key);
}

}  // namespace

std::string writeExitOption(World& world, const iesim::pb::ExitOptionState& o) {
  const OrbInternetExit::ExitVniLaneKey key = checkedOptionKey(o.option());
  const ExitIntfResult result(
      o.intf().empty() ? Wire::IntfId() : Wire::IntfId(o.intf()),
      ExitIntfResult::VrfName(std::string_view(o.has_vrf() ? o.vrf() : "default")),
      o.has_gate() ? static_cast<uint32_t>(o.gate()) : ExitIntfResult::noGate,
      static_cast<uint32_t>(o.aux()),
      o.has_type() ? checkedResultType(o.type()) : OrbInternetExit::ExitResultType::noResult());
  // Replaces the groups the entry held: the stale entry is exactly as written.
  auto status = world.exitOptions().exitOptionStatusIs(key);
  std::vector<OrbInternetExit::GroupVniLaneKey> groups(status->group.begin(), status->group.end());
  for (const auto& g : o.group()) status->groupIs(OrbInternetExit::GroupVniLaneKey(Mica::String(g), key.vniLaneId));
  for (const auto& g : groups) {
    if (std::find(o.group().begin(), o.group().end(), g.groupName.str()) == o.group().end()) {
      status->groupDel(g);
    }
  }
  status->resultExitIntfIs(result);
  return fmt::format("exit option {} in {}: {}", key, fmt::join(o.group(), ","), resultText(result));
}

bool runAgentStep(World& world, const iesim::pb::Step& step, StepRecord& r) {
  switch (step.kind_case()) {
    case Kind::kConnection: connection(world, step.connection(), r); return true;
    case Kind::kRemoveConnection: removeConnection(world, step.remove_connection(), r); return true;
    case Kind::kResponse: response(world, step.response(), r); return true;
    case Kind::kRemoveResponse: removeResponse(world, step.remove_response(), r); return true;
    default: return false;
  }
}

void loadAgents(World& world, const iesim::pb::Initial& initial, StepRecord& r) {
  for (const auto& c : initial.connection()) {
    world.connections().connectionIs(Mica::String(c.name()), resultOf(c));
  }
  for (const auto& resp : initial.response()) {
    world.responses().resolverResponseIs(
        checkedSvcGroupKey(resp.key()), SvcResolverResponse{static_cast<uint16_t>(resp.remote_svc_group())});
  }
  for (const auto& o : initial.exit_option()) writeExitOption(world, o);
  for (const auto& k : initial.resolver_request()) world.requests().resolverRequestIs(checkedSvcGroupKey(k));
  if (initial.connection_size() + initial.response_size() != 0) {
    r.notes.push_back(fmt::format("{}, {}", plural(initial.connection_size(), "connection"),
                                  plural(initial.response_size(), "resolver response")));
  }
  if (initial.exit_option_size() + initial.resolver_request_size() != 0) {
    r.notes.push_back(fmt::format("left by an earlier run: {}, {}",
                                  plural(initial.exit_option_size(), "exit-option status", "exit-option statuses"),
                                  plural(initial.resolver_request_size(), "resolver request")));
  }
}

}  // namespace IeSim
