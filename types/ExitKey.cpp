#include "types/ExitKey.h"

namespace Mica {

template <>
std::optional<OrbInternetExit::ExitKey> sequenceToValue<OrbInternetExit::ExitKey>(
    std::string_view text) {
  auto colon = text.find(':');
  if (colon == std::string_view::npos) return {};
  auto type = sequenceToValue<OrbInternetExit::ExitType>(text.substr(0, colon));
  if (!type) return {};
  return OrbInternetExit::ExitKey(Mica::String(text.substr(colon + 1)), *type);
}

template <>
std::optional<OrbInternetExit::ExitVniLaneKey> sequenceToValue<OrbInternetExit::ExitVniLaneKey>(
    std::string_view text) {
  auto at = text.rfind('@');
  if (at == std::string_view::npos) return {};
  auto pair = sequenceToValue<Lane::VniAndLaneId>(text.substr(at + 1));
  if (!pair) return {};
  auto key = sequenceToValue<OrbInternetExit::ExitKey>(text.substr(0, at));
  if (!key) return {};
  return OrbInternetExit::ExitVniLaneKey(std::move(*key), *pair);
}

}  // namespace Mica
