// Flo::LocalAttrStore: a state machine's own attributes (its `localAttrStore`).
//
// Some state machines keep attributes of their own besides the outputs they were given: a
// boolean written by a pipeline and read by nobody else (`temp`, `dummy`), or a map of local
// entities that one evaluation fills and the next steps of the same evaluation read (the policy
// status machine's `uniqueIntfList` scratchpad). The store is one entity per state machine,
// declared by the list of its attributes:
//
//   using Temp = Flo::LocalScalar<bool, "temp">;
//   Mica::Ptr<Flo::LocalAttrStore<Temp>> store(new Flo::LocalAttrStore<Temp>());
//   store->set<Temp>(removed);                      // notifies only when the value changes
//
//   using UniqueIntfList = Flo::LocalEntities<PolicyVniLaneKey, UniquePolicyIntfList, "uniqueIntfList">;
//   Mica::Ptr<UniquePolicyIntfList> list = store->entryReplace<UniqueIntfList>(policyKey);  // fresh, empty
//
// Attribute ids are the attributes' positions in the list, from 1 (attrId<A>), so a subscriber
// tells the attributes apart. Notifications are those of Mica's collections (Entity.h): a scalar
// (id, null, &old value) on a change only; an entity map (id, &key, null) on creation and
// (id, &key, &old Ptr) on deletion. Local entities are never published outside the state
// machine; they are ordinary Mica entities constructed from their key.
//
// Thread-safety: the scheduler's thread, like every entity.
#pragma once

#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/mica/Entity.h"
#include "runtime/Path.h"

namespace Flo {

// One notified value attribute of type V.
template <class V, FixedName Name>
struct LocalScalar {
  using Value = V;
  template <Mica::AttrId Id>
  using Storage = Mica::Scalar<V, Id>;
  static constexpr std::string_view name() noexcept { return Name.value; }
};

// One map from K to owned local entities E (E constructible from K).
template <class K, class E, FixedName Name>
struct LocalEntities {
  using Key = K;
  using Element = E;
  template <Mica::AttrId Id>
  using Storage = Mica::EntityMap<K, E, Id>;
  static constexpr std::string_view name() noexcept { return Name.value; }
};

namespace internal {
template <class A, class... As>
constexpr size_t indexOf() {
  constexpr bool matches[] = {std::is_same_v<A, As>...};
  for (size_t i = 0; i < sizeof...(As); ++i) {
    if (matches[i]) return i;
  }
  return sizeof...(As);
}

template <class Seq, class... Attrs>
class LocalAttrStoreImpl;

template <size_t... I, class... Attrs>
class LocalAttrStoreImpl<std::index_sequence<I...>, Attrs...> : public Mica::Entity {
 public:
  template <class A>
  static constexpr Mica::AttrId attrId = static_cast<Mica::AttrId>(indexOf<A, Attrs...>() + 1);

  // ---- LocalScalar attributes ----

  template <class A>
  const typename A::Value& get() const noexcept {
    return attr<A>().get();
  }
  // Sets the value; notifies, and returns true, only when it changed.
  template <class A>
  bool set(typename A::Value v) {
    auto& a = attr<A>();
    const auto version = a.version();
    a.set(*this, std::move(v));
    return a.version() != version;
  }

  // ---- LocalEntities attributes ----

  // The map itself, for lookups and walks.
  template <class A>
  const auto& entries() const noexcept {
    return attr<A>();
  }
  // The entity under `k`, created (empty) when absent.
  template <class A>
  Mica::Ptr<typename A::Element> entryIs(const typename A::Key& k) {
    return attr<A>().create(*this, k);
  }
  // Removes the entity under `k`; false when there was none.
  template <class A>
  bool entryDel(const typename A::Key& k) {
    return attr<A>().erase(*this, k);
  }
  // Replaces the entity under `k` by a new, empty one: deletion (when present) first, then
  // creation, each notified.
  template <class A>
  Mica::Ptr<typename A::Element> entryReplace(const typename A::Key& k) {
    entryDel<A>(k);
    return entryIs<A>(k);
  }

 private:
  template <class A>
  static constexpr size_t index() noexcept {
    constexpr size_t i = indexOf<A, Attrs...>();
    static_assert(i < sizeof...(Attrs), "not an attribute of this store");
    return i;
  }
  template <class A>
  auto& attr() noexcept {
    return std::get<index<A>()>(attrs_);
  }
  template <class A>
  const auto& attr() const noexcept {
    return std::get<index<A>()>(attrs_);
  }

  std::tuple<typename Attrs::template Storage<static_cast<Mica::AttrId>(I + 1)>...> attrs_;
};
}  // namespace internal

template <class... Attrs>
class LocalAttrStore final
    : public internal::LocalAttrStoreImpl<std::index_sequence_for<Attrs...>, Attrs...> {};

}  // namespace Flo
