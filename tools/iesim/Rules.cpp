#include "tools/iesim/Rules.h"

#include <fmt/format.h>
#include <google/protobuf/descriptor.h>

#include <absl/container/flat_hash_map.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <memory>
#include <stdexcept>
#include <type_traits>

#include "platform/keel/Task.h"
#include "tools/iesim/Keys.h"
#include "tools/iesim/Text.h"

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

// Whether `v` (an integer or a double) lies within `range`; nan never does.
template <class V>
bool inRange(V v, const iesim::pb::IntRange& range) {
  if constexpr (std::is_floating_point_v<V>) {
    if (std::isnan(v)) return false;
    return (!range.has_min() || v >= static_cast<double>(range.min())) &&
           (!range.has_max() || v <= static_cast<double>(range.max()));
  } else if constexpr (std::is_unsigned_v<V>) {
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return !range.has_max();
    return inRange(static_cast<int64_t>(v), range);
  } else {
    return (!range.has_min() || v >= range.min()) && (!range.has_max() || v <= range.max());
  }
}

template <class V>
std::string anyRangeError(V v, std::string_view field, const iesim::pb::IntRange& range) {
  if (inRange(v, range)) return {};
  return fmt::format("value {} out of range for {} ({})", v, field, rangeText(range));
}

std::string yieldPolicyError(const std::string& text) {
  try {
    Keel::yieldPolicyFromString(text);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return {};
}

std::string textError(const std::string& text, iesim::pb::TextKind kind, std::string_view field) {
  std::string error;
  switch (kind) {
    case iesim::pb::POLICY_NAME: return policyNameError(text);
    case iesim::pb::GROUP_NAME: return groupNameError(text);
    case iesim::pb::POLICY_KEY: parsePolicyKey(text, &error); return error;
    case iesim::pb::GROUP_KEY: parseGroupKey(text, &error); return error;
    case iesim::pb::PAIR: parsePair(text, &error); return error;
    case iesim::pb::EXIT_OPTION: parseExitOption(text, &error); return error;
    case iesim::pb::RESULT_TYPE: parseResultType(text, &error); return error;
    case iesim::pb::OPTION_KEY: parseOptionKey(text, &error); return error;
    case iesim::pb::SVC_GROUP_KEY: parseSvcGroupKey(text, &error); return error;
    case iesim::pb::VRF_NAME: return vrfNameError(text);
    case iesim::pb::NOTIFICATION_KEY: parseNotificationKey(text, &error); return error;
    case iesim::pb::COMPONENT: parseComponent(text, &error); return error;
    case iesim::pb::YIELD_POLICY: return yieldPolicyError(text);
    case iesim::pb::NON_EMPTY: return text.empty() ? fmt::format("empty {}", field) : std::string();
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

std::string numberError(const Message& msg, const FieldDescriptor* field, int index,
                        const iesim::pb::IntRange& range) {
  const Reflection& r = *msg.GetReflection();
  const bool repeated = index >= 0;
  const std::string& name = field->name();
  switch (field->cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
      return anyRangeError<int64_t>(
          repeated ? r.GetRepeatedInt32(msg, field, index) : r.GetInt32(msg, field), name, range);
    case FieldDescriptor::CPPTYPE_INT64:
      return anyRangeError<int64_t>(
          repeated ? r.GetRepeatedInt64(msg, field, index) : r.GetInt64(msg, field), name, range);
    case FieldDescriptor::CPPTYPE_UINT32:
      return anyRangeError<uint64_t>(
          repeated ? r.GetRepeatedUInt32(msg, field, index) : r.GetUInt32(msg, field), name, range);
    case FieldDescriptor::CPPTYPE_UINT64:
      return anyRangeError<uint64_t>(
          repeated ? r.GetRepeatedUInt64(msg, field, index) : r.GetUInt64(msg, field), name, range);
    case FieldDescriptor::CPPTYPE_DOUBLE:
      return anyRangeError<double>(
          repeated ? r.GetRepeatedDouble(msg, field, index) : r.GetDouble(msg, field), name, range);
    default: return {};
  }
}

// An enum field holds any number in the file ("kind: 7"); only the declared ones mean something.
std::string enumError(int value, const FieldDescriptor* field) {
  const auto* type = field->enum_type();
  if (type->FindValueByNumber(value) != nullptr) return {};
  std::string names;
  for (int i = 0; i < type->value_count(); ++i) {
    names += fmt::format("{}{} ({})", i == 0 ? "" : i + 1 == type->value_count() ? " or " : ", ",
                         type->value(i)->name(), type->value(i)->number());
  }
  return fmt::format("value {} is no {} for {}: expected {}", value, type->name(), field->name(),
                     names);
}

struct MessagePlan;

// The rules of one field, read from its options once: extension lookups and reflection's
// descriptor calls cost more than the checks themselves, and a large scenario has a million
// messages of a few types.
struct FieldPlan {
  const FieldDescriptor* field = nullptr;
  bool required = false;
  const iesim::pb::IntRange* range = nullptr;  // in the field's options, which live with it
  bool hasText = false;
  iesim::pb::TextKind text{};
  std::vector<std::vector<const FieldDescriptor*>> uniqueKeys;  // a repeated message field's keys
  mutable const MessagePlan* messagePlan = nullptr;             // a message field's, at first use
};

void checkMessage(const Message& message, const MessagePlan& plan, const ParseInfoTree* tree,
                  Location at, std::string_view name, std::vector<RuleError>& errors);

// The rules of one message type, and its reflection (one per generated type).
struct MessagePlan {
  const Reflection* reflection = nullptr;
  std::vector<FieldPlan> fields;
};

std::vector<const FieldDescriptor*> keyFields(const FieldDescriptor* field, std::string_view keyNames);

// The plan of `message`'s type, built at its first use.
const MessagePlan& planOf(const Message& message) {
  static absl::flat_hash_map<const Descriptor*, std::unique_ptr<MessagePlan>> plans;
  const Descriptor* d = message.GetDescriptor();
  auto& slot = plans[d];
  if (slot) return *slot;
  auto plan = std::make_unique<MessagePlan>();
  plan->reflection = message.GetReflection();
  for (int i = 0; i < d->field_count(); ++i) {
    FieldPlan f;
    f.field = d->field(i);
    const auto& options = f.field->options();
    f.required = options.GetExtension(iesim::pb::required);
    if (options.HasExtension(iesim::pb::range)) f.range = &options.GetExtension(iesim::pb::range);
    f.hasText = options.HasExtension(iesim::pb::text);
    if (f.hasText) f.text = options.GetExtension(iesim::pb::text);
    if (f.field->is_repeated() && f.field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
      for (int k = 0; k < options.ExtensionSize(iesim::pb::unique_by); ++k) {
        f.uniqueKeys.push_back(keyFields(f.field, options.GetExtension(iesim::pb::unique_by, k)));
      }
    }
    plan->fields.push_back(std::move(f));
  }
  slot = std::move(plan);
  return *slot;
}

// Checks one value of a field (index -1 for a singular field).
void checkValue(const Message& msg, const Reflection& r, const FieldPlan& plan, int index,
                const ParseInfoTree* tree, Location parentAt, std::vector<RuleError>& errors) {
  const FieldDescriptor* field = plan.field;
  const bool repeated = index >= 0;
  const Location at = locationOf(tree, field, index, parentAt);
  std::string error;
  if (plan.range != nullptr) error = numberError(msg, field, index, *plan.range);
  if (field->cpp_type() == FieldDescriptor::CPPTYPE_ENUM) {
    error = enumError(repeated ? r.GetRepeatedEnumValue(msg, field, index)
                               : r.GetEnumValue(msg, field),
                      field);
  }
  if (field->type() == FieldDescriptor::TYPE_STRING) {
    const std::string& text =
        repeated ? r.GetRepeatedString(msg, field, index) : r.GetString(msg, field);
    // A text that would break a report line is refused before its kind is looked at, so that
    // no message prints it raw.
    error = textSafetyError(field->name(), text);
    if (error.empty() && plan.hasText) error = textError(text, plan.text, field->name());
  }
  if (!error.empty()) errors.push_back({at, std::move(error)});

  if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
    const Message& sub =
        repeated ? r.GetRepeatedMessage(msg, field, index) : r.GetMessage(msg, field);
    const ParseInfoTree* subTree = tree ? tree->GetTreeForNested(field, index) : nullptr;
    if (plan.messagePlan == nullptr) plan.messagePlan = &planOf(sub);
    checkMessage(sub, *plan.messagePlan, subTree, at, field->name(), errors);
  }
}

// `holder` as a person names it: `name` (the field that holds it), with its own name field
// when it has one, e.g. policy "Gold".
std::string holderText(const Message& holder, std::string_view name) {
  const FieldDescriptor* own = holder.GetDescriptor()->FindFieldByName("name");
  if (own == nullptr || own->cpp_type() != FieldDescriptor::CPPTYPE_STRING || own->is_repeated()) {
    return std::string(name);
  }
  const std::string value = holder.GetReflection()->GetString(holder, own);
  return value.empty() ? std::string(name) : fmt::format("{} \"{}\"", name, escaped(value));
}

// " (first at line 6)", " (first at column 12)" on the same line, or nothing when unknown.
std::string firstAt(Location first, Location at) {
  if (first.line <= 0) return {};
  if (first.line != at.line) return fmt::format(" (first at line {})", first.line);
  return fmt::format(" (first at column {})", first.column);
}

// Appends the value of `key` in `element` as it is compared: by value, so -0 is 0 and an enum
// is its number. Texts carry their length, so that no two different tuples make the same text.
// Formatted directly, since every element of a repeated field is compared.
void appendComparedValue(std::string& out, const Message& element, const Reflection& r,
                         const FieldDescriptor* key) {
  auto to = std::back_inserter(out);
  switch (key->cpp_type()) {
    // Adding 0.0 turns -0 into 0; nan never gets here (the range rules refuse it).
    case FieldDescriptor::CPPTYPE_DOUBLE: fmt::format_to(to, "{};", r.GetDouble(element, key) + 0.0); return;
    case FieldDescriptor::CPPTYPE_FLOAT: fmt::format_to(to, "{};", r.GetFloat(element, key) + 0.0f); return;
    case FieldDescriptor::CPPTYPE_STRING: {
      const std::string& text = r.GetString(element, key);
      fmt::format_to(to, "{}:{};", text.size(), text);
      return;
    }
    case FieldDescriptor::CPPTYPE_INT32: fmt::format_to(to, "{};", r.GetInt32(element, key)); return;
    case FieldDescriptor::CPPTYPE_INT64: fmt::format_to(to, "{};", r.GetInt64(element, key)); return;
    case FieldDescriptor::CPPTYPE_UINT32: fmt::format_to(to, "{};", r.GetUInt32(element, key)); return;
    case FieldDescriptor::CPPTYPE_UINT64: fmt::format_to(to, "{};", r.GetUInt64(element, key)); return;
    case FieldDescriptor::CPPTYPE_BOOL: out += r.GetBool(element, key) ? "true;" : "false;"; return;
    case FieldDescriptor::CPPTYPE_ENUM: fmt::format_to(to, "{};", r.GetEnumValue(element, key)); return;
    default: throw std::logic_error(fmt::format("unique_by key {} is no scalar", key->full_name()));
  }
}

// The value of `key` in `element` as an error prints it.
std::string printedValue(const Message& element, const FieldDescriptor* key) {
  const Reflection& r = *element.GetReflection();
  switch (key->cpp_type()) {
    case FieldDescriptor::CPPTYPE_DOUBLE: return fmt::format("{}", r.GetDouble(element, key) + 0.0);
    case FieldDescriptor::CPPTYPE_FLOAT: return fmt::format("{}", r.GetFloat(element, key) + 0.0f);
    case FieldDescriptor::CPPTYPE_STRING: return fmt::format("\"{}\"", escaped(r.GetString(element, key)));
    default: {
      std::string v;
      google::protobuf::TextFormat::PrintFieldValueToString(element, key, -1, &v);
      return v;
    }
  }
}

// The fields of one unique_by key, e.g. "vni lane".
std::vector<const FieldDescriptor*> keyFields(const FieldDescriptor* field, std::string_view keyNames) {
  std::vector<const FieldDescriptor*> keys;
  for (std::string_view rest = keyNames; !rest.empty();) {
    const size_t blank = rest.find(' ');
    const std::string_view keyName = rest.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    if (keyName.empty()) continue;
    const FieldDescriptor* key = field->message_type()->FindFieldByName(std::string(keyName));
    if (key == nullptr || key->is_repeated() || key->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
      throw std::logic_error(fmt::format("unique_by of {} names no singular scalar field \"{}\"",
                                         field->full_name(), keyName));
    }
    keys.push_back(key);
  }
  if (keys.empty()) throw std::logic_error(fmt::format("empty unique_by on {}", field->full_name()));
  return keys;
}

// One unique_by key of a repeated message field: one error per element whose key an earlier
// element already has, e.g. "duplicate seq 10 in policy \"Gold\" (first at line 6)" or
// "duplicate vni 1 lane 2 in initial (first at line 3)". Elements without every key field are
// not compared.
void checkUniqueKey(const Message& msg, const Reflection& r, const FieldDescriptor* field,
                    const std::vector<const FieldDescriptor*>& keys, const ParseInfoTree* tree,
                    Location parentAt, std::string_view name, std::vector<RuleError>& errors) {
  const int n = r.FieldSize(msg, field);
  if (n < 2) return;
  const Reflection& er = *planOf(r.GetRepeatedMessage(msg, field, 0)).reflection;
  absl::flat_hash_map<std::string, Location> seen;
  seen.reserve(static_cast<size_t>(n));
  std::string compared;
  for (int i = 0; i < n; ++i) {
    const Message& element = r.GetRepeatedMessage(msg, field, i);
    compared.clear();
    bool complete = true;
    for (const FieldDescriptor* key : keys) {
      if (!er.HasField(element, key)) {
        complete = false;
        break;
      }
      appendComparedValue(compared, element, er, key);
    }
    if (!complete) continue;
    const Location at = locationOf(tree, field, i, parentAt);
    auto [it, inserted] = seen.try_emplace(compared, at);
    if (inserted) continue;
    // The printed key only for a duplicate: a million bindings are compared, a few reported.
    std::string printed;
    for (const FieldDescriptor* key : keys) {
      fmt::format_to(std::back_inserter(printed), "{}{} {}", printed.empty() ? "" : " ", key->name(),
                     printedValue(element, key));
    }
    errors.push_back({at, fmt::format("duplicate {} in {}{}", printed, holderText(msg, name),
                                      firstAt(it->second, at))});
  }
}

void checkMessage(const Message& message, const MessagePlan& plan, const ParseInfoTree* tree,
                  Location at, std::string_view name, std::vector<RuleError>& errors) {
  const Reflection& r = *plan.reflection;
  for (const FieldPlan& f : plan.fields) {
    const FieldDescriptor* field = f.field;
    if (field->is_repeated()) {
      const int n = r.FieldSize(message, field);
      for (int k = 0; k < n; ++k) checkValue(message, r, f, k, tree, at, errors);
      if (n == 0 && f.required) {
        errors.push_back({at, fmt::format("no {} in {}", field->name(), holderText(message, name))});
      }
      for (const auto& keys : f.uniqueKeys) checkUniqueKey(message, r, field, keys, tree, at, name, errors);
    } else if (r.HasField(message, field)) {
      checkValue(message, r, f, -1, tree, at, errors);
    } else if (f.required) {
      errors.push_back({at, fmt::format("missing {} in {}", field->name(), name)});
    }
  }
}

}  // namespace

std::string rangeError(int64_t v, std::string_view field, const iesim::pb::IntRange& range) {
  return anyRangeError(v, field, range);
}

std::string locate(std::string_view file, Location at, std::string_view message) {
  if (at.line <= 0) return fmt::format("{}: {}", file, message);
  return fmt::format("{}:{}:{}: {}", file, at.line, at.column, message);
}

void checkFieldRules(const Message& message, const ParseInfoTree* tree, Location at,
                     std::string_view name, std::vector<RuleError>& errors) {
  checkMessage(message, planOf(message), tree, at, name, errors);
}

}  // namespace IeSim
