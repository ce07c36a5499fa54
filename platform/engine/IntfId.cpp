#include "platform/engine/IntfId.h"

#include <absl/container/flat_hash_map.h>

#include <vector>

namespace Wire {
namespace {

// Name -> number and number -> name. Numbers are indexes into `names` plus one.
struct Registry {
  absl::flat_hash_map<Mica::String, uint64_t> numbers;
  std::vector<Mica::String> names;
};

Registry& registry() {
  // Never destroyed: ids held by static objects may ask for their value after main returns.
  static Registry* r = new Registry();
  return *r;
}

}  // namespace

uint64_t IntfId::value() const {
  if (!valid()) return 0;
  Registry& r = registry();
  auto [it, added] = r.numbers.try_emplace(name_, r.names.size() + 1);
  if (added) r.names.push_back(name_);
  return it->second;
}

std::optional<IntfId> IntfId::fromValue(uint64_t value) {
  if (value == 0) return IntfId();
  const Registry& r = registry();
  if (value > r.names.size()) return {};
  return IntfId(r.names[value - 1]);
}

}  // namespace Wire

namespace Mica {

template <>
std::optional<Wire::IntfId> sequenceToValue<Wire::IntfId>(std::string_view text) {
  return Wire::IntfId(text);
}

}  // namespace Mica
