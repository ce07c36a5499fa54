// The scenario iesim runs when it is given no file: a short story through the whole of what the
// simulator shows: bindings, configuration, a rebind, an unbind, a default route, one exit
// command to the data path, and a restart over stale outputs.
#pragma once

#include <string_view>

namespace IeSim {

// The name under which the default scenario's problems and failures are reported.
inline constexpr std::string_view kDefaultScenarioName = "<default>";
// Text format of iesim.pb.Scenario.
extern const std::string_view kDefaultScenario;

}  // namespace IeSim
