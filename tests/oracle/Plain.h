// The library's inputs and outputs as plain values: names as std::string, pairs as two numbers,
// collections as std::map and std::set. The reference computes on these alone; WorldReader fills
// them from the simulator's entities. Every type orders and compares by value, so whole outputs
// compare with ==, and facts() prints any of them one fact per line, so a mismatch reads as a
// diff of sets.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>

namespace IeOracle {

inline constexpr uint32_t kNoGate = 0xFFFFFFFF;
inline constexpr uint32_t kNoVni = 0xFFFFFFFF;  // an engine VNI with all 32 bits set: none

struct Pair {
  int vni = 0;
  int lane = 0;
  friend auto operator<=>(const Pair&, const Pair&) = default;
};

// Exit types and result types by their numbers in the library.
enum class ExitType : int { local = 1, remote = 2, fibDefault = 3 };
enum class ResultType : int { none = 0, localDefaultVrf = 1, localOtherVrf = 2, fibDefaultRoute = 3, remoteResolved = 4 };

struct Option {
  ExitType type = ExitType::local;
  std::string name;  // empty for the default-route exit
  friend auto operator<=>(const Option&, const Option&) = default;
};

struct OptionKey {
  Option option;
  Pair pair;
  friend auto operator<=>(const OptionKey&, const OptionKey&) = default;
};

// A group or policy name scoped to a pair.
struct NameKey {
  std::string name;
  Pair pair;
  friend auto operator<=>(const NameKey&, const NameKey&) = default;
};

struct Result {
  std::string intf;  // empty: no interface
  std::string vrf = "default";
  uint32_t gate = kNoGate;
  uint32_t aux = 0;
  ResultType type = ResultType::none;
  friend auto operator<=>(const Result&, const Result&) = default;
};

// ---- Inputs ----------------------------------------------------------------------------------

struct Connection {
  std::string intf;
  std::string vrf = "default";
  uint32_t num = 0;
};

struct Inputs {
  std::map<Pair, std::string> bindings;                          // laneToIEMap
  std::map<std::string, std::map<double, std::string>> policies;  // policy -> seq -> group
  std::map<std::string, std::set<Option>> groups;                 // group -> options
  bool hasVxlanInfo = false;
  std::map<uint32_t, uint32_t> vrfIdToVni;                        // engine VNI per VRF id
  std::map<std::string, uint32_t> vrfNameToVni;                   // engine VNI per VRF name
  std::set<uint32_t> defaultRouteVrfs;
  std::set<std::string> interfaces;                               // orbcsd.l3Intf
  std::map<std::string, Connection> connections;
  std::map<NameKey, uint32_t> responses;                          // (service group, pair) -> remote group
  bool internetExitModule = false;                                // an InternetExit (or SiEdge) module
};

// ---- Outputs ---------------------------------------------------------------------------------

struct PairConfig {
  std::map<std::string, std::map<double, NameKey>> policies;  // policy -> seq -> group key
  std::map<std::string, std::set<OptionKey>> groups;           // group -> options
  friend bool operator==(const PairConfig&, const PairConfig&) = default;
};

struct OptionStatus {
  std::set<NameKey> groups;
  Result result;
  friend bool operator==(const OptionStatus&, const OptionStatus&) = default;
};

struct PolicyState {
  NameKey winner;
  std::set<Result> exitIntf;
  friend bool operator==(const PolicyState&, const PolicyState&) = default;
};

struct ExitEntry {
  Pair pair;
  Result result;  // the data path keeps no VRF name: vrf is left at its default
  friend auto operator<=>(const ExitEntry&, const ExitEntry&) = default;
};

struct Outputs {
  std::set<NameKey> polToVniLane;
  std::map<Pair, PairConfig> statusConfig;
  std::map<NameKey, std::set<NameKey>> groupToPolicy;
  std::set<int> vniDefaultRoute;
  std::set<Pair> vniLaneDefaultRoute;
  std::map<OptionKey, OptionStatus> exitOptions;
  std::set<NameKey> resolverRequests;
  std::map<NameKey, std::map<OptionKey, Result>> exitGroups;
  std::map<NameKey, PolicyState> policies;
  std::set<std::pair<Pair, int>> notifications;
  std::optional<std::set<ExitEntry>> exitTable;  // absent without a data path
};

// ---- Printed forms, as scenario files write keys ---------------------------------------------

std::string text(Pair p);
std::string text(const Option& o);
std::string text(const OptionKey& k);
std::string text(const NameKey& k);
std::string text(ResultType t);
// "intf=eth1 vrf=blue gate=3 aux=5 localOtherVrf"; with `gateHeld`, a gate prints as "held"
// whatever its number.
std::string text(const Result& r, bool gateHeld = false);

using Facts = std::set<std::string>;

}  // namespace IeOracle
