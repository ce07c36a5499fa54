// Counts the calls that change a gate manager's tables: SiModuleGateManager::assignGate,
// releaseGate and releaseAllGates, whoever makes them.
//
// The manager is not changed for this: a program that links GateCallCounter.cpp is also linked
// with the linker's --wrap option for the three symbols (StatusChainBench.cmake), which sends
// every call from another object file through a counting wrapper to the real method. Calls
// from inside SiModuleGateManager.cpp itself are not counted (it makes none).
#pragma once

#include <cstdint>

namespace IeBench {

// Gate-manager calls since the program started.
uint64_t gateCalls() noexcept;

}  // namespace IeBench
