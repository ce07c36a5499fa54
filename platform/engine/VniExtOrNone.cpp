#include "platform/engine/VniExtOrNone.h"

#include <charconv>

#include "platform/mica/Assert.h"

namespace Vxlan {

Lane::VniId VniExtOrNone::vniId() const {
  Mica::check(usable(), "Vxlan::VniExtOrNone::vniId() of an unusable value");
  return Lane::VniId(static_cast<int64_t>(value_ & 0xFFFF));
}

}  // namespace Vxlan

namespace Mica {

template <>
std::optional<Vxlan::VniExtOrNone> sequenceToValue<Vxlan::VniExtOrNone>(std::string_view text) {
  if (text == "noVni") return Vxlan::VniExtOrNone::none();
  uint32_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return {};
  return Vxlan::VniExtOrNone(v);
}

}  // namespace Mica
