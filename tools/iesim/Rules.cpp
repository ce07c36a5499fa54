#include "tools/iesim/Rules.h"

#include <fmt/format.h>
#include <google/protobuf/descriptor.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "platform/keel/Task.h"
#include "proto/scenario.pb.h"

namespace IeSim {

namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;
using ParseInfoTree = google::protobuf::TextFormat::ParseInfoTree;

std::string rangeText(const iesim::pb::IntRange& range) {
  if (range.has_min() && range.has_max()) return fmt::format("{}..{}", range.min(), range.max());
  if (range.has_min()) return fmt::format("at least {}", range.min());
  return fmt::format("at most {}", range.max());
}

bool inRange(int64_t v, const iesim::pb::IntRange& range) {
  return (!range.has_min() || v >= range.min()) && (!range.has_max() || v <= range.max());
}

// "value 300 out of range for vni (0..255)", or empty when `v` is in range.
template <class V>
std::string rangeError(V v, std::string_view field, const iesim::pb::IntRange& range) {
  bool ok;
  if constexpr (std::is_unsigned_v<V>) {
    ok = v <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) &&
         inRange(static_cast<int64_t>(v), range);
  } else {
    ok = inRange(v, range);
  }
  if (ok) return {};
  return fmt::format("value {} out of range for {} ({})", v, field, rangeText(range));
}

const iesim::pb::IntRange& bindingRange(const char* field) {
  return iesim::pb::Binding::descriptor()->FindFieldByName(field)->options().GetExtension(
      iesim::pb::range);
}

std::string policyNameError(std::string_view name) {
  if (name.empty()) return "empty policy name";
  if (name.find('@') != std::string_view::npos) {
    return fmt::format("policy name \"{}\" must not contain '@'", name);
  }
  return {};
}

std::string yieldPolicyError(const std::string& text) {
  try {
    Keel::yieldPolicyFromString(text);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return {};
}

std::string textError(const std::string& text, iesim::pb::TextKind kind) {
  std::string error;
  switch (kind) {
    case iesim::pb::POLICY_NAME: return policyNameError(text);
    case iesim::pb::POLICY_KEY: parsePolicyKey(text, &error); return error;
    case iesim::pb::YIELD_POLICY: return yieldPolicyError(text);
    default: return {};
  }
}

// Where the index-th value of `field` was written, or `fallback` when the tree does not know.
Location locationOf(const ParseInfoTree* tree, const FieldDescriptor* field, int index,
                    Location fallback) {
  if (tree == nullptr) return fallback;
  auto loc = tree->GetLocation(field, index);
  if (loc.line < 0) return fallback;
  return {loc.line + 1, loc.column + 1};
}

// Checks one value of `field` (index -1 for a singular field).
void checkValue(const Message& msg, const FieldDescriptor* field, int index,
                const ParseInfoTree* tree, Location parentAt, std::vector<RuleError>& errors) {
  const Reflection& r = *msg.GetReflection();
  const auto& options = field->options();
  const bool repeated = index >= 0;
  const Location at = locationOf(tree, field, index, parentAt);
  std::string error;
  if (options.HasExtension(iesim::pb::range)) {
    const auto& range = options.GetExtension(iesim::pb::range);
    switch (field->cpp_type()) {
      case FieldDescriptor::CPPTYPE_INT32:
        error = rangeError<int64_t>(repeated ? r.GetRepeatedInt32(msg, field, index)
                                             : r.GetInt32(msg, field),
                                    field->name(), range);
        break;
      case FieldDescriptor::CPPTYPE_INT64:
        error = rangeError<int64_t>(repeated ? r.GetRepeatedInt64(msg, field, index)
                                             : r.GetInt64(msg, field),
                                    field->name(), range);
        break;
      case FieldDescriptor::CPPTYPE_UINT32:
        error = rangeError<uint64_t>(repeated ? r.GetRepeatedUInt32(msg, field, index)
                                              : r.GetUInt32(msg, field),
                                     field->name(), range);
        break;
      case FieldDescriptor::CPPTYPE_UINT64:
        error = rangeError<uint64_t>(repeated ? r.GetRepeatedUInt64(msg, field, index)
                                              : r.GetUInt64(msg, field),
                                     field->name(), range);
        break;
      default: break;
    }
  }
  if (field->cpp_type() == FieldDescriptor::CPPTYPE_STRING &&
      options.HasExtension(iesim::pb::text)) {
    error = textError(repeated ? r.GetRepeatedString(msg, field, index) : r.GetString(msg, field),
                      options.GetExtension(iesim::pb::text));
  }
  if (!error.empty()) errors.push_back({at, std::move(error)});

  if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
    const Message& sub =
        repeated ? r.GetRepeatedMessage(msg, field, index) : r.GetMessage(msg, field);
    const ParseInfoTree* subTree = tree ? tree->GetTreeForNested(field, index) : nullptr;
    checkFieldRules(sub, subTree, at, field->name(), errors);
  }
}

// A whole decimal number, sign allowed; nothing when the text is anything else or overflows.
std::optional<int64_t> wholeNumber(std::string_view text) {
  int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return {};
  return v;
}

}  // namespace

std::string locate(std::string_view file, Location at, std::string_view message) {
  if (at.line <= 0) return fmt::format("{}: {}", file, message);
  return fmt::format("{}:{}:{}: {}", file, at.line, at.column, message);
}

void checkFieldRules(const Message& message, const ParseInfoTree* tree, Location at,
                     std::string_view name, std::vector<RuleError>& errors) {
  const Descriptor& d = *message.GetDescriptor();
  const Reflection& r = *message.GetReflection();
  for (int i = 0; i < d.field_count(); ++i) {
    const FieldDescriptor* field = d.field(i);
    if (field->is_repeated()) {
      const int n = r.FieldSize(message, field);
      for (int k = 0; k < n; ++k) checkValue(message, field, k, tree, at, errors);
    } else if (r.HasField(message, field)) {
      checkValue(message, field, -1, tree, at, errors);
    } else if (field->options().GetExtension(iesim::pb::required)) {
      errors.push_back({at, fmt::format("missing {} in {}", field->name(), name)});
    }
  }
}

std::optional<OrbInternetExit::PolicyVniLaneKey> parsePolicyKey(std::string_view text,
                                                                 std::string* error) {
  auto malformed = [&] {
    *error = fmt::format("\"{}\" is not a key: expected <policy>@<vni>.<lane>", text);
    return std::nullopt;
  };
  const size_t at = text.find('@');
  if (at == std::string_view::npos) return malformed();
  const std::string_view name = text.substr(0, at);
  const std::string_view pair = text.substr(at + 1);
  const size_t dot = pair.find('.');
  if (dot == std::string_view::npos) return malformed();
  const auto vni = wholeNumber(pair.substr(0, dot));
  const auto lane = wholeNumber(pair.substr(dot + 1));
  if (!vni || !lane) return malformed();

  std::string problem = policyNameError(name);
  if (problem.empty()) problem = rangeError(*vni, "vni", bindingRange("vni"));
  if (problem.empty()) problem = rangeError(*lane, "lane", bindingRange("lane"));
  if (!problem.empty()) {
    *error = fmt::format("{} in key \"{}\"", problem, text);
    return std::nullopt;
  }
  return OrbInternetExit::PolicyVniLaneKey(
      Mica::String(name),
      Lane::VniAndLaneId(Lane::VniId(*vni), static_cast<uint16_t>(*lane)));
}

OrbInternetExit::PolicyVniLaneKey checkedPolicyKey(std::string_view text) {
  std::string error;
  auto key = parsePolicyKey(text, &error);
  if (!key) throw std::logic_error("unchecked key: " + error);
  return *key;
}

}  // namespace IeSim
