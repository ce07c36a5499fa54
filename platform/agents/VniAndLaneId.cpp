#include "platform/agents/VniAndLaneId.h"

#include <charconv>

#include "platform/mica/String.h"

namespace Lane {

VniId::VniId(int64_t value) {
  if (value < 0 || value > invalidVniValue) {
    throw Quill::RangeError("Lane::VniId::value < 0 or > Lane::VniId::invalidVni not allowed");
  }
  value_ = static_cast<uint16_t>(value);
}

static std::optional<uint64_t> number(std::string_view text) {
  uint64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return {};
  return v;
}

}  // namespace Lane

namespace Mica {

template <>
std::optional<Lane::VniId> sequenceToValue<Lane::VniId>(std::string_view text) {
  auto v = Lane::number(text);
  if (!v || *v > Lane::VniId::invalidVniValue) return {};
  return Lane::VniId(static_cast<int64_t>(*v));
}

template <>
std::optional<Lane::VniAndLaneId> sequenceToValue<Lane::VniAndLaneId>(std::string_view text) {
  auto dot = text.find('.');
  if (dot == std::string_view::npos) return {};
  auto vni = sequenceToValue<Lane::VniId>(text.substr(0, dot));
  auto lane = Lane::number(text.substr(dot + 1));
  if (!vni || !lane || *lane > 0xFFFF) return {};
  return Lane::VniAndLaneId(*vni, static_cast<uint16_t>(*lane));
}

}  // namespace Mica
