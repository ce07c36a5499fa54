// Loading scenario files of proto/scenario.proto.
//
// A scenario is parsed by protobuf's TextFormat parser, which records where each field was
// written, and then checked against the value rules declared in the proto (ranges, key texts,
// required fields). Every problem is reported as "FILE:LINE:COL: message", lines and columns
// counted from 1, so that editors jump to it.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "proto/scenario.pb.h"
#include "tools/iesim/Rules.h"
#include "tools/iesim/RunClock.h"

namespace IeSim {

struct LoadedScenario {
  std::string file;  // the path as given, or "<default>" for the embedded scenario
  iesim::pb::Scenario scenario;
  Location initial;             // of the `initial` block (unknown when absent)
  std::vector<Location> steps;  // of each step, in order
  // Per step, the place of each expectation an expect step gives, by its field number in
  // iesim::pb::Expect (empty for other steps), so that a failure points at its own line.
  std::vector<std::map<int, Location>> expectations;
  // Reading, parsing and checking the file took this long (--timing).
  Elapsed load;
};

struct LoadResult {
  std::optional<LoadedScenario> scenario;  // set when the file parsed and passed every check
  std::vector<std::string> errors;         // "FILE:LINE:COL: message", in file order
};

// Largest scenario file read. The biggest generated scenarios (a million bindings) stay well
// below it; beyond it the parser's memory, not the library, would be what a run measures.
inline constexpr size_t kMaxScenarioBytes = 256 * 1024 * 1024;

// Reads and loads `path`. A file that cannot be read, is not a regular file (a FIFO or a device
// could block or never end) or has more than kMaxScenarioBytes gives one error naming it.
LoadResult loadScenarioFile(const std::string& path);
// Loads `text`, reporting problems under the name `file`. A scenario without steps is refused:
// it would check nothing and pass.
LoadResult loadScenarioText(std::string_view file, std::string_view text);

}  // namespace IeSim
