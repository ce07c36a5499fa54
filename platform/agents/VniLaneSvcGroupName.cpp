#include "platform/agents/VniLaneSvcGroupName.h"

namespace Mica {

template <>
std::optional<VniLaneSvcGroupName> sequenceToValue<VniLaneSvcGroupName>(std::string_view text) {
  const auto at = text.rfind('@');
  if (at == std::string_view::npos) return {};
  const auto pair = sequenceToValue<Lane::VniAndLaneId>(text.substr(at + 1));
  if (!pair) return {};
  return VniLaneSvcGroupName(Mica::String(text.substr(0, at)), *pair);
}

}  // namespace Mica
