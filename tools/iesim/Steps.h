// The steps of a scenario that change the simulated agent's inputs and outputs, by domain.
//
// Each run*Step function applies `step` when its kind belongs to the function's domain, says in
// `r` what it did (r.what, and r.notes for further facts such as a created policy), and returns
// true; it returns false, doing nothing, for a kind of another domain. The load* functions write
// the start state before the state machines exist. Values have passed the loader's rules; the
// library's own errors (assertions, range errors) propagate to the runner.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "proto/scenario.pb.h"
#include "tools/iesim/Report.h"
#include "tools/iesim/World.h"

namespace IeSim {

// Lane bindings and direct writes of outputs (LaneSteps.cpp): bind, unbind, unbind_all,
// set_output.
bool runLaneStep(World& world, const iesim::pb::Step& step, StepRecord& r);
void loadLanes(World& world, const iesim::pb::Initial& initial);

// The operator's configuration (ConfigSteps.cpp): configure_policy, remove_policy, set_entry,
// remove_entry, configure_group, remove_group, add_option, remove_option.
bool runConfigStep(World& world, const iesim::pb::Step& step, StepRecord& r);
void loadConfig(World& world, const iesim::pb::Config& config);

// The engine (EngineSteps.cpp): vrf, remove_vrf, default_route, intf, replace_vxlan_info.
bool runEngineStep(World& world, const iesim::pb::Step& step, StepRecord& r);
// VRF bindings, default routes, interfaces and the module of the start state.
void loadEngine(World& world, const iesim::pb::Initial& initial, StepRecord& r);

// Other agents (AgentSteps.cpp): connection, remove_connection, response, remove_response.
bool runAgentStep(World& world, const iesim::pb::Step& step, StepRecord& r);
// Connections, responses, and the exit-option statuses and resolver requests of an earlier run.
void loadAgents(World& world, const iesim::pb::Initial& initial, StepRecord& r);
// Writes one exit-option status directly, as an earlier run left it; returns what it wrote.
std::string writeExitOption(World& world, const iesim::pb::ExitOptionState& o);

// The module and the data path (DataPathSteps.cpp): module, exit_info.
bool runDataPathStep(World& world, const iesim::pb::Step& step, StepRecord& r);
// Describes the commands the module queued during a step, applies them to the data-path model
// and adds the "commands", "exitTable" and "anomalies" sections to r.changes. Returns the pairs
// that exit-info commands addressed.
std::vector<Lane::VniAndLaneId> drainDataPath(World& world, StepRecord& r);

// Why the exit groups, the policy statuses and the data path changed in a step, as far as the
// step shows it (Causes.cpp): per policy that changed, the results of its groups that changed
// with the input that decides each now, e.g.
//   "Gold@10.1 <- Primary lost localExit:wan1 (now noResult: interface eth1 absent)",
// per changed group result that no such line names, the same without the policy, and per pair
// that got commands although no policy status of it changed, a line saying so.
// Only the lines `keep` asks for are formatted, the first ones of a step and those about some
// pairs; the others are counted: a step of a million pairs has a line per policy.
struct Cause {
  Lane::VniAndLaneId pair;  // the pair the line is about
  std::string text;
};
struct CauseFilter {
  size_t first = SIZE_MAX;                              // the first lines, whatever their pair
  std::function<bool(Lane::VniAndLaneId)> about;       // and the lines about these pairs
};
struct Causes {
  std::vector<Cause> lines;  // in the step's order
  size_t count = 0;          // every line, kept or not
};
Causes causeLines(const World& world, const std::vector<ExitGroupWatch::Touch>& groups,
                  const std::vector<OrbInternetExit::PolicyVniLaneKey>& policies,
                  const std::vector<Lane::VniAndLaneId>& commandPairs, const CauseFilter& keep = {});

}  // namespace IeSim
