// Loading and running a scenario whose bytes come from anyone (a fuzzer, a user's paste), within
// bounds that keep one run short and small whatever the bytes say.
//
// The bytes go through the same loader and runner as a file given to iesim, so whatever holds
// here holds for iesim: an input is refused with at least one message, or it runs to its end (or
// to the step the library refused) and says whether it passed. Nothing it contains may crash the
// process, hang it or exhaust its memory.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace IeSim {

// Longest input taken: a scenario file is text written by a person, and beyond this the
// parser's work alone makes one run slow.
inline constexpr size_t kUntrustedMaxBytes = 64 * 1024;
// Most steps run; the steps after it are refused with the input.
inline constexpr size_t kUntrustedMaxSteps = 256;

struct UntrustedOutcome {
  enum class Kind { refused, passed, failed };
  Kind kind = Kind::refused;
  std::vector<std::string> errors;  // why it was refused; empty unless refused
};

// Loads `bytes` under the name `name` and runs it, reporting to `report` (not owned; may be a
// sink such as /dev/null). Failures of the run go to stderr as for iesim.
UntrustedOutcome runUntrustedScenario(std::string_view name, std::string_view bytes,
                                      std::FILE* report);

}  // namespace IeSim
