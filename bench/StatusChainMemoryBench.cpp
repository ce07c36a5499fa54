// The whole library (InternetExitAssembly: the InternetExit module and the ten state machines)
// and the data path's model over pairs of the standard shape: bytes of heap per bound pair at
// 1k, 100k and 1M pairs, split by component, and the number of allocations of a bring-up, a
// restart, a binding change and an exit-option change.
//
// A program of its own: it replaces the global operator new and delete to follow the bytes the
// C++ heap holds (exact to malloc's chunk, whatever the order of the sizes) and the peak of a
// step (the transient reconciliation state), not only its end. Byte figures are what objects
// hold (heldBytes(): the heap less the node pool's idle bytes), so that destroying an output
// gives back its nodes even though the pool keeps their memory for reuse; allocation figures
// count operator new calls and the nodes the pool served.
//
// The library is brought up as an agent starts it, down to the data path; stopping the state
// machines one by one, last first, then releasing the module, the data path's model and the
// outputs one by one gives what each keeps.
//
// Counters, in bytes per pair unless named otherwise:
//   input_B                 lane bindings, operator configuration and the engine state (orbcsd
//                           with its interfaces, connections, resolver responses)
//   bindings_B, status_B, groupmap_B, exitopt_B, requests_B, exitgroup_B, policy_B, notif_B,
//   defroute_B              the outputs: IePolicyToVniLaneDir, the status configuration, the
//                           group-to-policy reverse map, the exit-option statuses, the resolver
//                           requests, the exit-group statuses, the policy statuses, the in-use
//                           notifications, the two default-route sets
//   outputs_B               the outputs together
//   policySm_B, statusSm_B, groupSm_B, trackers_B, optionSm_B, requestSm_B, exitGroupSm_B,
//   policyStatusSm_B, programDpSm_B   what each ready, idle state machine keeps
//                           (IeExitOptionStatusSm: its two indexes; trackers_B: both default-route
//                           trackers; policyStatusSm_B: without its scratchpads)
//   scratch_B               IePolicyStatusSm's scratchpads (one list of distinct results per
//                           policy status)
//   machines_B              the ten state machines, scratchpads included
//   module_B                the InternetExit module with its gate tables and command queue
//   datapath_B              the data path's model: its exit table
//   total_B                 input, outputs, state machines, module and data path
//   build_peak_B            peak above the final heap during the bring-up (seen sets, scan
//                           state); nodes freed during the bring-up stay in the node pool, in
//                           the final heap, and are not part of this figure
//   pool_idle_B             bytes the node pool keeps but no node uses, after the changes and
//                           before the teardown
//   restart_peak_B          peak above the steady heap while the ten restart together (at 100k
//                           only; the figure per pair does not depend on the size)
//   build_allocs, restart_allocs  operator new calls per pair
//   change_allocs           operator new calls per rebinding of a random pair (through the chain
//                           and the data path)
//   option_first_allocs     operator new calls per affected pair when an exit option is first
//                           added to a group and removed (the group of policy 00 at sequence
//                           number 10, option_pairs pairs): the option sets grow
//   option_allocs           operator new calls per later option event (not per pair)
//   rss_peak_B              the process's peak resident set (VmHWM) over the pairs of the size
//                           measured; meaningful at 1M, the largest, which runs last
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "bench/BenchSupport.h"
#include "bench/CountingAllocator.h"
#include "bench/StatusChainFixture.h"

using namespace IeBench::heap;  // heldBytes, liveBytes, peakBytes, allocations, resetPeak

namespace IeBench {
namespace {

using OrbInternetExit::ExitType;

// Rebindings whose allocations are counted (at most one per pair).
constexpr size_t kChanges = 10'000;
// Option events whose allocations are counted.
constexpr size_t kOptionEvents = 4;
// The size at which the restart is measured.
constexpr size_t kRestartSize = 100'000;


// Bytes that releasing `p` (a state machine or an output) gives back.
template <class P>
double freedBy(P& p) {
  const size_t before = heldBytes();
  p = nullptr;
  return static_cast<double>(before) - static_cast<double>(heldBytes());
}

// Bytes that stopping component `c` gives back.
double freedByStop(InternetExitAssembly& assembly, Component c) {
  const size_t before = heldBytes();
  assembly.stop(c);
  return static_cast<double>(before) - static_cast<double>(heldBytes());
}

void BM_ChainMemory(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const double per = 1.0 / static_cast<double>(n);
  policyNames();  // interned before the first reading
  for (auto _ : state) {
    const size_t start = heldBytes();
    Chain chain(laneStatusWith(n), standardConfig(false));
    const double input = static_cast<double>(heldBytes() - start);

    resetPeak();
    size_t calls = allocations();
    chain.startAndRun();
    state.counters["build_peak_B"] = static_cast<double>(peakBytes - liveBytes) * per;
    state.counters["build_allocs"] = static_cast<double>(allocations() - calls) * per;
    if (!chain.idleAndComplete(n)) {
      state.SkipWithError("the chain is not idle, or its outputs are incomplete");
      break;
    }

    if (n == kRestartSize) {
      resetPeak();
      const size_t steady = liveBytes;
      calls = allocations();
      chain.stop();
      chain.startAndRun();
      state.counters["restart_peak_B"] = static_cast<double>(peakBytes - steady) * per;
      state.counters["restart_allocs"] = static_cast<double>(allocations() - calls) * per;
      if (!chain.idleAndComplete(n)) {
        state.SkipWithError("the restarted chain is not idle, or its outputs changed");
        break;
      }
    }

    // Rebind random pairs to the next policy and back, through the chain and the data path.
    const auto picks = randomBindings(n, std::min(n, kChanges));
    const auto& names = policyNames();
    calls = allocations();
    for (size_t i : picks) {
      const size_t p = policyOf(i);
      chain.lanes->laneToIEMapIs(pairOf(i), names[(p + 1) % kPolicyNames]);
      chain.settle();
      chain.lanes->laneToIEMapIs(pairOf(i), names[p]);
      chain.settle();
    }
    const double changeAllocs =
        static_cast<double>(allocations() - calls) / (2.0 * static_cast<double>(picks.size()));

    // Add and remove an option of the group that policy 00 lists at 10. The first addition grows
    // the option set of every affected pair; the events after it write into sets of that size.
    const auto optionGroup = chain.config->exitGroupConfig.get(Mica::String("ie-group-000"));
    const ExitKey extra(Mica::String("wan-extra"), ExitType::localExit());
    const auto affected = static_cast<double>(chain.bindings->pairsOfPolicy(names[0]).size());
    calls = allocations();
    optionGroup->exitOptionIs(extra);
    optionGroup->exitOptionDel(extra);
    chain.settle();
    const double firstOptionAllocs = static_cast<double>(allocations() - calls) / affected;
    calls = allocations();
    for (size_t e = 0; e < kOptionEvents; ++e) {
      optionGroup->exitOptionIs(extra);
      optionGroup->exitOptionDel(extra);
      chain.settle();
    }
    const double optionAllocs = static_cast<double>(allocations() - calls) / (2.0 * kOptionEvents);
    if (!chain.idleAndComplete(n)) {
      state.SkipWithError("a change left work queued, or the outputs lost entries");
      break;
    }

    state.counters["pool_idle_B"] = static_cast<double>(poolIdleBytes()) * per;
    InternetExitAssembly& assembly = *chain.assembly;
    // The policy machine's scratchpads outlive it while held here: they are measured apart.
    Mica::Ptr<const IePolicyStatusSm::LocalStore> scratch(
        &assembly.sm<IePolicyStatusSm>(Component::policyStatus)->localAttrStore());
    const double programDpSm = freedByStop(assembly, Component::programDp);
    const double policyStatusSm = freedByStop(assembly, Component::policyStatus);
    const double scratchpads = freedBy(scratch);
    const double exitGroupSm = freedByStop(assembly, Component::exitGroupStatus);
    const double requestSm = freedByStop(assembly, Component::resolverRequest);
    const double optionSm = freedByStop(assembly, Component::exitOptionStatus);
    const double trackers = freedByStop(assembly, Component::vniLaneDefaultRoute) +
                            freedByStop(assembly, Component::vniDefaultRoute);
    const double groupSm = freedByStop(assembly, Component::groupToPolicy);
    const double statusSm = freedByStop(assembly, Component::statusConfig);
    const double policySm = freedByStop(assembly, Component::policyToVniLane);
    const double module = freedBy(chain.assembly);  // the module; the entities stay held here
    const double dataPath = freedBy(chain.dataPath);
    const double notifOut = freedBy(chain.env->notifications);
    const double requestsOut = freedBy(chain.env->requests);
    const double policyOut = freedBy(chain.policies);
    const double exitGroupOut = freedBy(chain.exitGroups);
    const double optionsOut = freedBy(chain.exitOptions);
    const double groupOut = freedBy(chain.groupToPolicy);
    const double statusOut = freedBy(chain.status);
    const double bindings = freedBy(chain.bindings);
    const double defaultRoutes = freedBy(chain.vniLaneDefaultRoutes) + freedBy(chain.vniDefaultRoutes);
    const double outputs = bindings + statusOut + groupOut + optionsOut + requestsOut + exitGroupOut + policyOut +
                           notifOut + defaultRoutes;
    const double machines = policySm + statusSm + groupSm + trackers + optionSm + requestSm + exitGroupSm +
                            policyStatusSm + scratchpads + programDpSm;
    state.counters["input_B"] = input * per;
    state.counters["bindings_B"] = bindings * per;
    state.counters["status_B"] = statusOut * per;
    state.counters["groupmap_B"] = groupOut * per;
    state.counters["exitopt_B"] = optionsOut * per;
    state.counters["requests_B"] = requestsOut * per;
    state.counters["exitgroup_B"] = exitGroupOut * per;
    state.counters["policy_B"] = policyOut * per;
    state.counters["notif_B"] = notifOut * per;
    state.counters["defroute_B"] = defaultRoutes * per;
    state.counters["outputs_B"] = outputs * per;
    state.counters["policySm_B"] = policySm * per;
    state.counters["statusSm_B"] = statusSm * per;
    state.counters["groupSm_B"] = groupSm * per;
    state.counters["trackers_B"] = trackers * per;
    state.counters["optionSm_B"] = optionSm * per;
    state.counters["requestSm_B"] = requestSm * per;
    state.counters["exitGroupSm_B"] = exitGroupSm * per;
    state.counters["policyStatusSm_B"] = policyStatusSm * per;
    state.counters["scratch_B"] = scratchpads * per;
    state.counters["programDpSm_B"] = programDpSm * per;
    state.counters["machines_B"] = machines * per;
    state.counters["module_B"] = module * per;
    state.counters["datapath_B"] = dataPath * per;
    state.counters["total_B"] = (input + outputs + machines + module + dataPath) * per;
    state.counters["change_allocs"] = changeAllocs;
    state.counters["option_first_allocs"] = firstOptionAllocs;
    state.counters["option_allocs"] = optionAllocs;
    state.counters["option_pairs"] = affected;
    state.counters["rss_peak_B"] = peakRss() * per;
  }
}
BENCHMARK(BM_ChainMemory)->Arg(k1k)->Arg(k100k)->Arg(k1M)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace IeBench
