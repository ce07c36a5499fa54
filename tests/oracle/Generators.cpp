#include "tests/oracle/Generators.h"

#include <fmt/format.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "tests/oracle/SequenceRunner.h"

namespace IeOracle {

namespace {

using iesim::pb::Step;
namespace gen = rc::gen;

const std::vector<std::string> kPolicies = {"Gold", "Silver"};
const std::vector<std::string> kGroups = {"Wan", "Lte", "Far"};
const std::vector<std::string> kOptions = {"localExit:wan1", "localExit:wan2", "remoteExit:peer", "remoteExit:edge",
                                           "fibDefault:"};
const std::vector<std::string> kComponents = {
    "IePolicyToVniLaneSm",     "IeStatusConfigSm",  "IeGroupToPolicySm",
    "VniDefaultRouteTrackerSm", "VniLaneDefaultRouteTrackerSm", "IeExitOptionStatusSm",
    "IeRemoteSvcResolverRequestSm", "IeExitGroupStatusSm", "IePolicyStatusSm", "IeProgramDpSm"};

rc::Gen<int> genVni() { return gen::inRange(1, 3); }
rc::Gen<int> genLane() { return gen::inRange(1, 3); }
rc::Gen<double> genSeq() { return gen::element(5.0, 10.0, 10.5, 20.0); }
rc::Gen<std::string> genPolicy() { return gen::elementOf(kPolicies); }
rc::Gen<std::string> genGroup() { return gen::elementOf(kGroups); }
rc::Gen<std::string> genOption() { return gen::elementOf(kOptions); }
rc::Gen<std::string> genIntf() { return gen::elementOf(kInterfaces); }

rc::Gen<std::string> genYield() {
  return gen::oneOf(gen::element<std::string>("never", "always", "budget:2"),
                    gen::map(gen::inRange(1, 1000), [](int seed) { return fmt::format("random:{}:30", seed); }));
}

// Entries at some of the sequence numbers 5, 10, 10.5 and 20, each naming another group: a
// policy never names one group twice.
rc::Gen<iesim::pb::Policy> genPolicyConfig(std::string name) {
  return gen::map(gen::pair(gen::container<std::vector<bool>>(4, gen::arbitrary<bool>()), gen::inRange(0, 6)),
                  [name](const std::pair<std::vector<bool>, int>& choice) {
                    static const double seqs[] = {5.0, 10.0, 10.5, 20.0};
                    std::vector<std::string> groups = kGroups;
                    for (int i = 0; i < choice.second; ++i) std::next_permutation(groups.begin(), groups.end());
                    iesim::pb::Policy p;
                    p.set_name(name);
                    size_t used = 0;
                    for (size_t i = 0; i < 4 && used < groups.size(); ++i) {
                      if (!choice.first[i]) continue;
                      auto* e = p.add_entry();
                      e->set_seq(seqs[i]);
                      e->set_group(groups[used++]);
                    }
                    return p;
                  });
}

// A group with one or more of the options.
rc::Gen<iesim::pb::Group> genGroupConfig(rc::Gen<std::string> name) {
  return gen::map(gen::pair(std::move(name), gen::container<std::vector<bool>>(kOptions.size(), gen::arbitrary<bool>())),
                  [](const std::pair<std::string, std::vector<bool>>& g) {
                    iesim::pb::Group out;
                    out.set_name(g.first);
                    for (size_t i = 0; i < kOptions.size(); ++i) {
                      if (g.second[i]) out.add_option(kOptions[i]);
                    }
                    if (out.option_size() == 0) out.add_option(kOptions[0]);
                    return out;
                  });
}

rc::Gen<iesim::pb::Connection> genConnection() {
  return gen::map(gen::tuple(gen::element<std::string>("wan1", "wan2"), genIntf(), gen::element<std::string>("default", "blue"),
                             gen::element<int64_t>(5, 7, 70000)),
                  [](const std::tuple<std::string, std::string, std::string, int64_t>& c) {
                    iesim::pb::Connection out;
                    out.set_name(std::get<0>(c));
                    out.set_intf(std::get<1>(c));
                    out.set_vrf(std::get<2>(c));
                    out.set_num(std::get<3>(c));
                    return out;
                  });
}

std::string svcKey(const std::string& name, int vni, int lane) { return fmt::format("{}@{}.{}", name, vni, lane); }

rc::Gen<std::string> genSvcKey() {
  return gen::map(gen::tuple(gen::element<std::string>("peer", "edge"), genVni(), genLane()),
                  [](const std::tuple<std::string, int, int>& k) { return svcKey(std::get<0>(k), std::get<1>(k), std::get<2>(k)); });
}

rc::Gen<iesim::pb::Response> genResponse() {
  return gen::map(gen::pair(genSvcKey(), gen::element<int64_t>(1, 2, 40000)), [](const std::pair<std::string, int64_t>& r) {
    iesim::pb::Response out;
    out.set_key(r.first);
    out.set_remote_svc_group(r.second);
    return out;
  });
}

// A VRF that connections do not use: red (2) or green (3), bound to VNI 1 or 2, to 300 (whose
// low 16 bits exceed 255: no lane-side VNI), or to none.
rc::Gen<iesim::pb::VrfBinding> genVrf() {
  return gen::map(gen::pair(gen::inRange(2, 4), gen::element<int64_t>(1, 2, 300, -1)), [](const std::pair<int, int64_t>& v) {
    iesim::pb::VrfBinding out;
    out.set_id(v.first);
    out.set_name(v.first == 2 ? "red" : "green");
    if (v.second >= 0) out.set_vni(v.second);
    return out;
  });
}

rc::Gen<iesim::pb::Module> genModule() {
  return gen::map(gen::element(0, 0, 1, 2), [](int kind) {
    iesim::pb::Module m;
    m.set_present(kind != 2);
    if (kind == 1) m.set_kind(iesim::pb::SI_EDGE);
    return m;
  });
}

// One generator per step kind; each builds the step from the values it draws.
template <class T, class Fill>
rc::Gen<Step> stepOf(rc::Gen<T> values, Fill fill) {
  return gen::map(std::move(values), [fill](const T& v) {
    Step s;
    fill(s, v);
    return s;
  });
}

// Some of the components, created in data-flow order or, one time in four, in a shuffled order
// (a downstream machine then starts over outputs its upstream has yet to reconcile).
rc::Gen<Step> genRestart() {
  using Choice = std::tuple<std::vector<bool>, std::string, int>;
  return stepOf(gen::tuple(gen::container<std::vector<bool>>(kComponents.size(), gen::weightedElement<bool>({{1, true}, {3, false}})),
                           genYield(), gen::weightedOneOf<int>({{3, gen::just(0)}, {1, gen::inRange(1, 1000)}})),
                [](Step& s, const Choice& r) {
                  const auto& [chosen, yield, shuffleSeed] = r;
                  std::vector<std::string> names;
                  for (size_t i = 0; i < chosen.size(); ++i) {
                    if (chosen[i]) names.push_back(kComponents[i]);
                  }
                  auto* restart = s.mutable_restart();
                  if (shuffleSeed != 0 && names.size() > 1) {
                    std::shuffle(names.begin(), names.end(), std::mt19937(static_cast<unsigned>(shuffleSeed)));
                    restart->set_in_given_order(true);
                  }
                  for (const auto& name : names) restart->add_component(name);
                  restart->set_yield(yield);
                });
}

rc::Gen<Step> genRun(bool full) {
  if (full) return stepOf(genYield(), [](Step& s, const std::string& y) { s.mutable_run()->set_yield(y); });
  return stepOf(gen::pair(genYield(), gen::inRange(1, 12)), [](Step& s, const std::pair<std::string, int>& r) {
    s.mutable_run()->set_yield(r.first);
    s.mutable_run()->set_max_runs(r.second);
  });
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const Sequence& s) {
  SequenceOutcome all;
  all.executed = s.steps;
  return os << "\n" << scenarioText(scenarioOf(s, all));
}

rc::Gen<iesim::pb::Initial> genInitial() {
  const auto bindings = gen::container<std::vector<int>>(4, gen::element(0, 1, 2, 3, 3));  // Gold, Silver, Bronze, none
  const auto policies = gen::pair(genPolicyConfig("Gold"), genPolicyConfig("Silver"));
  const auto groups = gen::container<std::vector<rc::Maybe<iesim::pb::Group>>>(
      3, gen::maybe(genGroupConfig(gen::just(std::string()))));
  const auto engine = gen::tuple(gen::container<std::vector<bool>>(3, gen::arbitrary<bool>()),  // default routes of 1..3
                                 gen::container<std::vector<bool>>(3, gen::weightedElement<bool>({{3, true}, {1, false}})),
                                 genModule(), gen::maybe(genVrf()));
  const auto agents = gen::pair(gen::container<std::vector<iesim::pb::Connection>>(genConnection()),
                                gen::container<std::vector<iesim::pb::Response>>(genResponse()));
  return gen::map(gen::tuple(bindings, policies, groups, engine, gen::scale(0.05, agents)), [](const auto& t) {
    const auto& [binds, pols, grps, eng, ags] = t;
    iesim::pb::Initial in;
    static const char* const names[] = {"Gold", "Silver", "Bronze"};
    for (int i = 0; i < 4; ++i) {
      if (binds[i] == 3) continue;
      auto* b = in.add_binding();
      b->set_vni(1 + i / 2);
      b->set_lane(1 + i % 2);
      b->set_policy(names[binds[i]]);
    }
    *in.mutable_config()->add_policy() = pols.first;
    *in.mutable_config()->add_policy() = pols.second;
    for (size_t i = 0; i < grps.size(); ++i) {
      if (!grps[i]) continue;
      auto* g = in.mutable_config()->add_group();
      *g = *grps[i];
      g->set_name(kGroups[i]);
    }
    const auto& [routes, intfs, module, vrf] = eng;
    auto* blue = in.add_vrf();
    blue->set_id(1);
    blue->set_name("blue");
    blue->set_vni(1);
    if (vrf) *in.add_vrf() = *vrf;
    for (int i = 0; i < 3; ++i) {
      if (routes[i]) in.add_default_route(i + 1);
      if (intfs[i]) in.add_intf(kInterfaces[i]);
    }
    *in.mutable_module() = module;
    std::set<std::string> seen;
    for (const auto& c : ags.first) {
      if (seen.insert(c.name()).second) *in.add_connection() = c;
    }
    seen.clear();
    for (const auto& r : ags.second) {
      if (seen.insert(r.key()).second) *in.add_response() = r;
    }
    return in;
  });
}

rc::Gen<Step> genStep() {
  using IntPair = std::pair<int, int>;
  return gen::weightedOneOf<Step>({
      {4, stepOf(gen::tuple(genVni(), genLane(), gen::element<std::string>("Gold", "Silver", "Bronze")),
                 [](Step& s, const std::tuple<int, int, std::string>& b) {
                   s.mutable_bind()->set_vni(std::get<0>(b));
                   s.mutable_bind()->set_lane(std::get<1>(b));
                   s.mutable_bind()->set_policy(std::get<2>(b));
                 })},
      {2, stepOf(gen::pair(genVni(), genLane()), [](Step& s, const IntPair& p) {
         s.mutable_unbind()->set_vni(p.first);
         s.mutable_unbind()->set_lane(p.second);
       })},
      {1, stepOf(gen::just(0), [](Step& s, int) { s.mutable_unbind_all(); })},
      {2, stepOf(gen::mapcat(genPolicy(), [](const std::string& p) { return genPolicyConfig(p); }),
                 [](Step& s, const iesim::pb::Policy& p) { *s.mutable_configure_policy() = p; })},
      {1, stepOf(genPolicy(), [](Step& s, const std::string& p) { s.mutable_remove_policy()->set_name(p); })},
      {4, stepOf(gen::tuple(genPolicy(), genSeq(), genGroup()), [](Step& s, const std::tuple<std::string, double, std::string>& e) {
         s.mutable_set_entry()->set_policy(std::get<0>(e));
         s.mutable_set_entry()->set_seq(std::get<1>(e));
         s.mutable_set_entry()->set_group(std::get<2>(e));
       })},
      {2, stepOf(gen::pair(genPolicy(), genSeq()), [](Step& s, const std::pair<std::string, double>& e) {
         s.mutable_remove_entry()->set_policy(e.first);
         s.mutable_remove_entry()->set_seq(e.second);
       })},
      {2, stepOf(genGroupConfig(genGroup()), [](Step& s, const iesim::pb::Group& g) { *s.mutable_configure_group() = g; })},
      {1, stepOf(genGroup(), [](Step& s, const std::string& g) { s.mutable_remove_group()->set_name(g); })},
      {3, stepOf(gen::pair(genGroup(), genOption()), [](Step& s, const std::pair<std::string, std::string>& o) {
         s.mutable_add_option()->set_group(o.first);
         s.mutable_add_option()->set_option(o.second);
       })},
      {2, stepOf(gen::pair(genGroup(), genOption()), [](Step& s, const std::pair<std::string, std::string>& o) {
         s.mutable_remove_option()->set_group(o.first);
         s.mutable_remove_option()->set_option(o.second);
       })},
      {1, stepOf(genVrf(), [](Step& s, const iesim::pb::VrfBinding& v) { *s.mutable_vrf() = v; })},
      {1, stepOf(gen::inRange(2, 4), [](Step& s, int id) { s.mutable_remove_vrf()->set_id(id); })},
      {2, stepOf(gen::pair(gen::inRange(1, 4), gen::arbitrary<bool>()), [](Step& s, const std::pair<int, bool>& d) {
         s.mutable_default_route()->set_vrf(d.first);
         s.mutable_default_route()->set_present(d.second);
       })},
      {3, stepOf(gen::pair(genIntf(), gen::arbitrary<bool>()), [](Step& s, const std::pair<std::string, bool>& i) {
         s.mutable_intf()->set_name(i.first);
         s.mutable_intf()->set_present(i.second);
       })},
      {1, stepOf(gen::just(0), [](Step& s, int) { s.mutable_replace_vxlan_info(); })},
      {2, stepOf(genModule(), [](Step& s, const iesim::pb::Module& m) { *s.mutable_module() = m; })},
      {3, stepOf(genConnection(), [](Step& s, const iesim::pb::Connection& c) { *s.mutable_connection() = c; })},
      {1, stepOf(gen::element<std::string>("wan1", "wan2"), [](Step& s, const std::string& n) { s.mutable_remove_connection()->set_name(n); })},
      {2, stepOf(genResponse(), [](Step& s, const iesim::pb::Response& r) { *s.mutable_response() = r; })},
      {1, stepOf(genSvcKey(), [](Step& s, const std::string& k) { s.mutable_remove_response()->set_key(k); })},
      {4, genRestart()},
      {3, genRun(false)},
      {6, genRun(true)},
  });
}

rc::Gen<Sequence> genSequence() {
  return gen::map(gen::pair(genInitial(), gen::scale(0.6, gen::container<std::vector<Step>>(genStep()))),
                  [](const std::pair<iesim::pb::Initial, std::vector<Step>>& s) { return Sequence{s.first, s.second}; });
}

}  // namespace IeOracle
