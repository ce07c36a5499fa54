// Reads the simulator's entities into plain values: the inputs the agent holds, the outputs the
// library wrote, the data path's exit table and the gates the module's gate manager holds.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/oracle/Plain.h"
#include "tools/iesim/World.h"

namespace IeOracle {

Inputs inputsOf(IeSim::World& world);
// Every output; the exit table when the module has a data path.
Outputs outputsOf(const IeSim::World& world);
// Per interface the module's gate manager knows of among `interfaces`: (gate, users), for the
// interfaces that hold a gate.
std::map<std::string, std::pair<uint32_t, uint32_t>> gatesOf(const IeSim::World& world, const std::vector<std::string>& interfaces);

}  // namespace IeOracle
