#include "tools/iesim/Keys.h"

#include <fmt/format.h>

#include <charconv>
#include <cstdint>
#include <stdexcept>

#include "proto/scenario.pb.h"
#include "tools/iesim/Rules.h"

namespace IeSim {

namespace {

using OrbInternetExit::ExitKey;
using OrbInternetExit::ExitResultType;
using OrbInternetExit::ExitType;

// A whole decimal number, sign allowed; nothing when the text is anything else or overflows.
std::optional<int64_t> wholeNumber(std::string_view text) {
  int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return {};
  return v;
}

const iesim::pb::IntRange& bindingRange(const char* field) {
  return iesim::pb::Binding::descriptor()->FindFieldByName(field)->options().GetExtension(
      iesim::pb::range);
}

std::string nameError(std::string_view what, std::string_view name) {
  if (name.empty()) return fmt::format("empty {} name", what);
  if (name.find('@') != std::string_view::npos) {
    return fmt::format("{} name \"{}\" must not contain '@'", what, name);
  }
  return {};
}

// "<vni>.<lane>" with the ranges of Binding; on failure `problem` says why (without the text).
std::optional<Lane::VniAndLaneId> pairPart(std::string_view text, std::string& problem,
                                           bool& malformed) {
  const size_t dot = text.find('.');
  const auto vni = dot == std::string_view::npos ? std::nullopt : wholeNumber(text.substr(0, dot));
  const auto lane = dot == std::string_view::npos ? std::nullopt : wholeNumber(text.substr(dot + 1));
  if (!vni || !lane) {
    malformed = true;
    return {};
  }
  // Looked up once: a large scenario parses a pair for each of its million keys.
  static const iesim::pb::IntRange& vniRange = bindingRange("vni");
  static const iesim::pb::IntRange& laneRange = bindingRange("lane");
  problem = rangeError(*vni, "vni", vniRange);
  if (problem.empty()) problem = rangeError(*lane, "lane", laneRange);
  if (!problem.empty()) return {};
  return Lane::VniAndLaneId(Lane::VniId(*vni), static_cast<uint16_t>(*lane));
}

// "<name>@<pair>" for a policy or group key; `what` is "policy" or "group".
template <class Key>
std::optional<Key> parseNamedKey(std::string_view text, std::string_view what, std::string* error) {
  auto malformed = [&] {
    *error = fmt::format("\"{}\" is not a key: expected <{}>@<vni>.<lane>", text, what);
    return std::nullopt;
  };
  const size_t at = text.find('@');
  if (at == std::string_view::npos) return malformed();
  const std::string_view name = text.substr(0, at);
  std::string problem = nameError(what, name);
  bool isMalformed = false;
  std::optional<Lane::VniAndLaneId> pair;
  if (problem.empty()) {
    pair = pairPart(text.substr(at + 1), problem, isMalformed);
    if (isMalformed) return malformed();
  }
  if (!problem.empty()) {
    *error = fmt::format("{} in key \"{}\"", problem, text);
    return std::nullopt;
  }
  return Key(Mica::String(name), *pair);
}

// "<head>@<pair>" split at the last '@'; `what` names the head in the messages ("exit option",
// "service group"). On success `head` is the text before the '@'.
std::optional<Lane::VniAndLaneId> pairAfterLastAt(std::string_view text, std::string_view what,
                                                  std::string_view& head, std::string* error) {
  auto malformed = [&] {
    *error = fmt::format("\"{}\" is not a key: expected <{}>@<vni>.<lane>", text, what);
    return std::nullopt;
  };
  const size_t at = text.rfind('@');
  if (at == std::string_view::npos) return malformed();
  head = text.substr(0, at);
  std::string problem;
  bool isMalformed = false;
  auto pair = pairPart(text.substr(at + 1), problem, isMalformed);
  if (isMalformed) return malformed();
  if (!problem.empty()) {
    *error = fmt::format("{} in key \"{}\"", problem, text);
    return std::nullopt;
  }
  return pair;
}

template <class T, class F>
T checked(std::string_view text, F parse) {
  std::string error;
  auto value = parse(text, &error);
  if (!value) throw std::logic_error("unchecked scenario text: " + error);
  return *value;
}

}  // namespace

std::string policyNameError(std::string_view name) { return nameError("policy", name); }
std::string groupNameError(std::string_view name) { return nameError("group", name); }

std::string vrfNameError(std::string_view name) {
  if (name.empty()) return "empty vrf name";
  if (name.size() > OrbInternetExit::ExitIntfResult::VrfName::maxLength()) {
    return fmt::format("vrf name \"{}\" has {} bytes, at most {} allowed", name, name.size(),
                       OrbInternetExit::ExitIntfResult::VrfName::maxLength());
  }
  return {};
}

std::optional<Lane::VniAndLaneId> parsePair(std::string_view text, std::string* error) {
  std::string problem;
  bool malformed = false;
  auto pair = pairPart(text, problem, malformed);
  if (malformed) {
    *error = fmt::format("\"{}\" is not a pair: expected <vni>.<lane>", text);
  } else if (!problem.empty()) {
    *error = fmt::format("{} in pair \"{}\"", problem, text);
  }
  return pair;
}

std::optional<OrbInternetExit::PolicyVniLaneKey> parsePolicyKey(std::string_view text,
                                                                 std::string* error) {
  return parseNamedKey<OrbInternetExit::PolicyVniLaneKey>(text, "policy", error);
}

std::optional<OrbInternetExit::GroupVniLaneKey> parseGroupKey(std::string_view text,
                                                               std::string* error) {
  return parseNamedKey<OrbInternetExit::GroupVniLaneKey>(text, "group", error);
}

std::optional<ExitKey> parseExitOption(std::string_view text, std::string* error) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    *error = fmt::format("\"{}\" is not an exit option: expected <type>:<name>, e.g. localExit:wan1",
                         text);
    return {};
  }
  const std::string_view typeText = text.substr(0, colon);
  const std::string_view name = text.substr(colon + 1);
  const auto type = Mica::sequenceToValue<ExitType>(typeText);
  if (type && *type == ExitType::noExit()) {
    *error = fmt::format(
        "exit type \"noExit\" is no option's type in \"{}\": expected localExit, remoteExit or "
        "fibDefault",
        text);
    return {};
  }
  if (!type) {
    *error = fmt::format(
        "exit type \"{}\" does not exist in \"{}\": expected localExit, remoteExit or fibDefault",
        typeText, text);
    return {};
  }
  // The default-route exit is the one option of its type, the one with the empty name.
  if (*type == ExitType::fibDefault() && !name.empty()) {
    *error = fmt::format("a fibDefault option has the empty name: \"fibDefault:\", not \"{}\"", text);
    return {};
  }
  if (*type != ExitType::fibDefault() && name.empty()) {
    *error = fmt::format("empty exit option name in \"{}\"", text);
    return {};
  }
  return ExitKey(Mica::String(name), *type);
}

std::optional<ExitResultType> parseResultType(std::string_view text, std::string* error) {
  auto type = Mica::sequenceToValue<ExitResultType>(text);
  if (!type) {
    *error = fmt::format(
        "result type \"{}\" does not exist: expected noResult, localDefaultVrf, localOtherVrf, "
        "fibDefaultRoute or remoteResolved",
        text);
  }
  return type;
}

std::optional<OrbInternetExit::ExitVniLaneKey> parseOptionKey(std::string_view text,
                                                               std::string* error) {
  std::string_view head;
  const auto pair = pairAfterLastAt(text, "type>:<name", head, error);
  if (!pair) return std::nullopt;
  auto option = parseExitOption(head, error);
  if (!option) {
    *error += fmt::format(" in key \"{}\"", text);
    return std::nullopt;
  }
  return OrbInternetExit::ExitVniLaneKey(*option, *pair);
}

std::optional<VniLaneSvcGroupName> parseSvcGroupKey(std::string_view text, std::string* error) {
  std::string_view name;
  const auto pair = pairAfterLastAt(text, "service group", name, error);
  if (!pair) return std::nullopt;
  if (name.empty()) {
    *error = fmt::format("empty service group name in key \"{}\"", text);
    return std::nullopt;
  }
  return VniLaneSvcGroupName(Mica::String(name), *pair);
}

std::optional<LaneSvcRemoteGroup> parseNotificationKey(std::string_view text, std::string* error) {
  const size_t slash = text.rfind('/');
  std::string problem;
  bool malformed = slash == std::string_view::npos;
  const auto pair = malformed ? std::nullopt : pairPart(text.substr(0, slash), problem, malformed);
  const auto group = malformed ? std::nullopt : wholeNumber(text.substr(slash + 1));
  if (malformed || !group) {
    *error = fmt::format("\"{}\" is not a notification: expected <vni>.<lane>/<group>", text);
    return std::nullopt;
  }
  if (problem.empty() && (*group < 0 || *group > 0xFFFF)) {
    problem = fmt::format("value {} out of range for group (0..65535)", *group);
  }
  if (!problem.empty()) {
    *error = fmt::format("{} in notification \"{}\"", problem, text);
    return std::nullopt;
  }
  return LaneSvcRemoteGroup(*pair, static_cast<uint16_t>(*group));
}

std::optional<OrbInternetExit::Component> parseComponent(std::string_view text, std::string* error) {
  std::string names;
  for (size_t i = 0; i < OrbInternetExit::kComponentCount; ++i) {
    const auto c = static_cast<OrbInternetExit::Component>(i);
    if (OrbInternetExit::componentName(c) == text) return c;
    names += fmt::format("{}{}", i == 0 ? "" : ", ", OrbInternetExit::componentName(c));
  }
  *error = fmt::format("no component \"{}\": expected one of {}", text, names);
  return std::nullopt;
}

Lane::VniAndLaneId checkedPair(std::string_view text) {
  return checked<Lane::VniAndLaneId>(text, parsePair);
}
OrbInternetExit::PolicyVniLaneKey checkedPolicyKey(std::string_view text) {
  return checked<OrbInternetExit::PolicyVniLaneKey>(text, parsePolicyKey);
}
OrbInternetExit::GroupVniLaneKey checkedGroupKey(std::string_view text) {
  return checked<OrbInternetExit::GroupVniLaneKey>(text, parseGroupKey);
}
ExitKey checkedExitOption(std::string_view text) {
  return checked<ExitKey>(text, parseExitOption);
}
ExitResultType checkedResultType(std::string_view text) {
  return checked<ExitResultType>(text, parseResultType);
}
OrbInternetExit::ExitVniLaneKey checkedOptionKey(std::string_view text) {
  return checked<OrbInternetExit::ExitVniLaneKey>(text, parseOptionKey);
}
VniLaneSvcGroupName checkedSvcGroupKey(std::string_view text) {
  return checked<VniLaneSvcGroupName>(text, parseSvcGroupKey);
}
LaneSvcRemoteGroup checkedNotificationKey(std::string_view text) {
  return checked<LaneSvcRemoteGroup>(text, parseNotificationKey);
}
OrbInternetExit::Component checkedComponent(std::string_view text) {
  return checked<OrbInternetExit::Component>(text, parseComponent);
}

}  // namespace IeSim
