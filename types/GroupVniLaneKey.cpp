#include "types/GroupVniLaneKey.h"

namespace Mica {

template <>
std::optional<OrbInternetExit::GroupVniLaneKey> sequenceToValue<OrbInternetExit::GroupVniLaneKey>(
    std::string_view text) {
  auto at = text.rfind('@');
  if (at == std::string_view::npos) return {};
  auto pair = sequenceToValue<Lane::VniAndLaneId>(text.substr(at + 1));
  if (!pair) return {};
  return OrbInternetExit::GroupVniLaneKey(Mica::String(text.substr(0, at)), *pair);
}

}  // namespace Mica
