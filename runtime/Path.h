// Declaring an input path: the chain of (entity, collection) levels of one `from` source.
//
//   using LaneToIEMapPath = Flo::Path<IePolicyToVniLaneSm, &IePolicyToVniLaneSm::eventToEvalLaneToIePolicy,
//       Flo::Level<&Lane::LaneStatusDir::laneToIEMap, "LaneStatusDirSm0", "laneToIEMap">>;
//
// Each Level names a collection (or a notified attribute) of the entity at that depth, the
// input SM class that follows that entity, and the attribute's name (used in assertion texts).
// Every level but the last must be a collection of entities (Mica::EntityMap); the last level
// may be a ValueMap, a ValueSet, an EntityMap (its elements delivered as Ptr<const E>) or a
// Scalar. The pipeline `Event` receives the key of every non-last level, outermost first, then
// the change of the last level:
//   ValueMap<K, V>:    (keys..., const K&, const Optional<V>& old, const Optional<V>& new)
//   ValueSet<K>:       (keys..., const K&, const Optional<Unit>& present)
//   EntityMap<K, E>:   (keys..., const K&, const Optional<Ptr<const E>>& element)
//   Scalar<V>:         (keys..., const Optional<V>& old, const Optional<V>& new)
#pragma once

#include <algorithm>
#include <cstddef>
#include <tuple>

#include "platform/mica/Entity.h"

namespace Flo {

// A string usable as a template argument.
template <size_t N>
struct FixedName {
  char value[N];
  constexpr FixedName(const char (&s)[N]) { std::copy_n(s, N, value); }
};

namespace internal {
template <class M>
struct MemberTraits;
template <class C, class E>
struct MemberTraits<C E::*> {
  using Entity = E;
  using Coll = C;
};
}  // namespace internal

template <auto Member, FixedName SmClass, FixedName Attr>
struct Level {
  using Entity = typename internal::MemberTraits<decltype(Member)>::Entity;
  using Coll = typename internal::MemberTraits<decltype(Member)>::Coll;
  static constexpr Mica::CollKind kind = Coll::kind;
  static const Coll& coll(const Entity& e) noexcept { return e.*Member; }
  static constexpr const char* smClass() noexcept { return SmClass.value; }
  static constexpr const char* attrName() noexcept { return Attr.value; }
};

template <class SM, auto Event, class... Levels>
struct Path {
  using Sm = SM;
  static constexpr auto event = Event;
  static constexpr size_t depth = sizeof...(Levels);
  template <size_t D>
  using L = std::tuple_element_t<D, std::tuple<Levels...>>;
};

}  // namespace Flo
