// Why an exit option has the result it has, derived from the inputs the exit-option state machine
// reads (connections, the engine's interfaces and VXLAN bindings, the module's gates, resolver
// answers, default routes), independently of the result the library wrote. Comparing the two
// finds results that do not follow from their inputs.
//
//   localExit:wan1   no connection "wan1"; VRF blue of VNI 20, not of 10; VRF blue of no VNI;
//                    interface eth1 absent; no gate: no InternetExit module; no gate for eth1;
//                    usable: "connection wan1 on eth1 vrf=default num=5, gate 1"
//   remoteExit:peer  no resolver answer for peer@10.1; usable: "resolver answer peer@10.1 = 42"
//   fibDefault:      no default route: no VRF of VNI 10 has one; ...; usable: "default route in
//                    VRF 1 blue of VNI 10"
#pragma once

#include <optional>
#include <string>

#include "tools/iesim/World.h"
#include "types/ExitIntfResult.h"
#include "types/ExitKey.h"

namespace IeSim {

struct OptionVerdict {
  bool usable = false;
  // What decides the result, e.g. "interface eth1 absent".
  std::string reason;
  // The result the inputs call for; empty when they cannot tell (no VXLAN bindings, where the
  // library asserts).
  std::optional<OrbInternetExit::ExitIntfResult> expected;
};

OptionVerdict deriveOption(const World& world, const OrbInternetExit::ExitVniLaneKey& option);

// "" when `actual` is what the verdict expects; otherwise a text for a person, e.g.
// "MISMATCH: the library has noResult gate=none aux=0, the inputs call for remoteResolved ...".
std::string mismatchText(const OptionVerdict& verdict, const OrbInternetExit::ExitIntfResult& actual);

}  // namespace IeSim
