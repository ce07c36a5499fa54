#include "types/ExitIntfResult.h"

#include <charconv>

namespace OrbInternetExit {

const ExitIntfResult::VrfName& ExitIntfResult::defaultVrfName() {
  // Never destroyed: results held by static objects may be copied after main returns.
  static const VrfName* name = new VrfName("default");
  return *name;
}

namespace {

// Removes the last blank-separated field of `text`, which must read "<label><value>", and
// returns the value; nothing if the field or its label is missing.
std::optional<std::string_view> takeLastField(std::string_view& text, std::string_view label) {
  auto blank = text.rfind(' ');
  if (blank == std::string_view::npos) return {};
  std::string_view field = text.substr(blank + 1);
  if (!field.starts_with(label)) return {};
  text = text.substr(0, blank);
  return field.substr(label.size());
}

std::optional<uint32_t> number32(std::string_view text) {
  uint32_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return {};
  return v;
}

}  // namespace
}  // namespace OrbInternetExit

namespace Mica {

template <>
std::optional<OrbInternetExit::ExitResultType> sequenceToValue<OrbInternetExit::ExitResultType>(
    std::string_view text) {
  using OrbInternetExit::ExitResultType;
  for (uint8_t v = 0; v <= ExitResultType::maxValue; ++v) {
    auto t = ExitResultType::fromValue(v);
    if (t->name() == text) return t;
  }
  return {};
}

template <>
std::optional<OrbInternetExit::ExitIntfResult> sequenceToValue<OrbInternetExit::ExitIntfResult>(
    std::string_view text) {
  using namespace OrbInternetExit;
  auto typeText = takeLastField(text, "type=");
  if (!typeText) return {};
  auto auxText = takeLastField(text, "aux=");
  if (!auxText) return {};
  auto gateText = takeLastField(text, "gate=");
  if (!gateText) return {};
  auto type = sequenceToValue<ExitResultType>(*typeText);
  auto aux = number32(*auxText);
  auto gate = number32(*gateText);
  if (!type || !aux || !gate) return {};

  // What remains is "intf=<intf> vrf=<vrf>".
  constexpr std::string_view intfLabel = "intf=", vrfLabel = " vrf=";
  if (!text.starts_with(intfLabel)) return {};
  text.remove_prefix(intfLabel.size());
  auto vrfAt = text.find(vrfLabel);
  if (vrfAt == std::string_view::npos) return {};
  std::string_view vrf = text.substr(vrfAt + vrfLabel.size());
  if (vrf.size() > ExitIntfResult::VrfName::maxLength()) return {};
  return ExitIntfResult(Wire::IntfId(text.substr(0, vrfAt)), ExitIntfResult::VrfName(vrf), *gate,
                        *aux, *type);
}

}  // namespace Mica
