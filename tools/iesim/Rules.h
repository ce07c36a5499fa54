// The value rules of scenario fields, declared in proto/scenario.proto with the field options
// iesim.pb.range, iesim.pb.text and iesim.pb.required, and checked here by reflection: a rule
// holds for its field in every message that has it, and new messages only annotate fields.
#pragma once

#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "types/PolicyVniLaneKey.h"

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

// Parses the printed form "<policy>@<vni>.<lane>" of a key, with the rules of the fields of
// iesim.pb.Binding. On failure returns nothing and sets `error`, e.g.
// "value 300 out of range for vni (0..255) in key \"P@300.1\"".
std::optional<OrbInternetExit::PolicyVniLaneKey> parsePolicyKey(std::string_view text,
                                                                 std::string* error);

// A key that the loader has already checked. REQUIRES: parsePolicyKey accepts `text`.
OrbInternetExit::PolicyVniLaneKey checkedPolicyKey(std::string_view text);

}  // namespace IeSim
