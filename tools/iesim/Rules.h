// The value rules of scenario fields, declared in proto/scenario_rules.proto with the field
// options iesim.pb.range, iesim.pb.text, iesim.pb.required and iesim.pb.unique_by, and checked
// here by reflection: a rule holds for its field in every message that has it, and new messages
// only annotate fields.
#pragma once

#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "proto/scenario_rules.pb.h"

namespace IeSim {

// A place in a scenario file, counted from 1; line 0 means unknown.
struct Location {
  int line = 0;
  int column = 0;
  friend auto operator<=>(const Location&, const Location&) = default;
};

// "FILE:LINE:COL: message", or "FILE: message" when the location is unknown.
std::string locate(std::string_view file, Location at, std::string_view message);

struct RuleError {
  Location at;
  std::string message;
};

// Checks `message` and every message below it against the declared rules, appending one error
// per broken rule. `tree` (may be null) gives the locations of the fields as parsed; `at` is
// where `message` itself begins and `name` the field that holds it (for "missing lane in bind").
void checkFieldRules(const google::protobuf::Message& message,
                     const google::protobuf::TextFormat::ParseInfoTree* tree, Location at,
                     std::string_view name, std::vector<RuleError>& errors);

// "value 300 out of range for vni (0..255)", or empty when `v` is within `range`.
std::string rangeError(int64_t v, std::string_view field, const iesim::pb::IntRange& range);

}  // namespace IeSim
