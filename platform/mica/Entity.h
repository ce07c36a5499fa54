// Mica::Entity and the keyed collections that entities hold.
//
// An entity is a counted Node with a Publisher. Its attributes are members of the collection
// templates below, each tagged with the attribute id that notifications carry. An entity's own
// mutators (`<coll>Is`, `<coll>Del`) forward to the collection, passing the entity so that the
// collection can notify its subscribers after the change:
//
//   class LaneStatusDir : public Mica::Entity {
//    public:
//     enum : Mica::AttrId { laneToIEMapId = 1 };
//     Mica::ValueMap<VniAndLaneId, Mica::String, laneToIEMapId> laneToIEMap;
//     void laneToIEMapIs(VniAndLaneId k, Mica::String v) { laneToIEMap.set(*this, k, v); }
//     void laneToIEMapDel(VniAndLaneId k) { laneToIEMap.erase(*this, k); }
//   };
//
// Every collection:
//  - is ordered by key, so iteration is stable and a yielded scan resumes at lowerBound(bookmark),
//    the position the key would have had if it is gone;
//  - keeps a change counter (version()) that grows with every change;
//  - notifies (attribute id, &key, &old value or null) after each change, only on a change:
//    writing a value equal to the stored one, adding a present member or deleting an absent
//    key changes nothing and notifies nobody.
//
// Storage (CollBase.h): a B-tree, or with a trailing `Inline` argument N > 0, up to N elements
// inside the collection object and a B-tree past that. Per-pair entities that hold one or two
// elements per collection use N to save the B-tree node allocation; directories stay B-trees.
//
// Iterators are invalidated by any change of the same collection, in either representation.
// Walkers that may run code which changes the collection step by key: nextKey(k) or lowerBound().
#pragma once

#include <absl/container/btree_map.h>
#include <absl/container/btree_set.h>
#include <fmt/format.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "platform/mica/CollBase.h"
#include "platform/mica/Node.h"
#include "platform/mica/Optional.h"
#include "platform/mica/Publisher.h"

namespace Mica {

// Collections of an entity; `Inline` > 0 keeps up to that many elements without allocating.
template <class K, class V, AttrId Id, size_t Inline = 0>
class ValueMap;
template <class K, AttrId Id, size_t Inline = 0>
class ValueSet;
template <class K, class E, AttrId Id, size_t Inline = 0>
class EntityMap;

class Entity : public Node {
 public:
  Publisher& publisher() const noexcept { return publisher_; }
  void subscriberAdd(Subscriber* s) const { publisher_.subscriberAdd(s); }
  void subscriberRemove(Subscriber* s) const { publisher_.subscriberRemove(s); }

  // The entity whose collection of entities holds this one (null for a root, and once the
  // element was deleted from it), and that collection's attribute id. Together they give an
  // element's path from its root, which readers of descendant notifications use instead of
  // keeping per-element state.
  const Entity* owner() const noexcept { return publisher_.owner(); }
  AttrId ownerAttr() const noexcept { return ownerAttr_; }

 protected:
  // Notifies this entity's subscribers, then the subscribers of every owner above it that
  // want descendants (Subscriber::wantsDescendants).
  void notify(AttrId attr, const void* key, const void* oldValue) const {
    publisher_.notify(attr, key, oldValue);
    for (const Entity* up = owner(); up != nullptr; up = up->owner()) {
      up->publisher_.notifyDescendant(*this, attr, key, oldValue);
    }
  }

 private:
  template <class, class, AttrId, size_t>
  friend class ValueMap;
  template <class, AttrId, size_t>
  friend class ValueSet;
  template <class, class, AttrId, size_t>
  friend class EntityMap;
  template <class, AttrId>
  friend class Scalar;
  void ownerIs(const Entity* owner, AttrId attr) {
    publisher_.ownerIs(owner);
    ownerAttr_ = attr;
  }
  // Kept in the padding after Node's count: an entity costs no more for it.
  AttrId ownerAttr_ = 0;
  mutable Publisher publisher_;  // also keeps the owner
};

enum class CollKind : uint8_t { values, set, entities, scalar };

namespace internal {
// The key an iterator of any collection is on.
template <class It>
const auto& keyOf(const It& it) {
  if constexpr (requires { it->first; }) {
    return it->first;
  } else {
    return *it;
  }
}
}  // namespace internal

// A map from key to value. Notification: (Id, &key, &old value) or (Id, &key, null) on insert.
template <class K, class V, AttrId Id, size_t Inline>
class ValueMap : public internal::CollBase<absl::btree_map<K, V>, Inline> {
 public:
  using Key = K;
  using Value = V;
  static constexpr AttrId attrId = Id;
  static constexpr CollKind kind = CollKind::values;

  Quill::Optional<V> get(const K& k) const {
    auto it = this->find(k);
    if (it == this->end()) return {};
    return it->second;
  }
  const V* lookup(const K& k) const {
    auto it = this->find(k);
    return it == this->end() ? nullptr : &it->second;
  }

  void set(const Entity& owner, const K& k, V v) {
    auto [slot, inserted] = this->emplace(k, v);
    if (inserted) {
      ++this->version_;
      owner.notify(Id, &k, nullptr);
      return;
    }
    if (slot->second == v) return;
    V old = std::exchange(slot->second, std::move(v));
    ++this->version_;
    owner.notify(Id, &k, &old);
  }
  bool erase(const Entity& owner, const K& k) {
    auto gone = this->take(k);
    if (!gone) return false;
    ++this->version_;
    owner.notify(Id, &gone->first, &gone->second);
    return true;
  }
};

// A set of keys. Notification: (Id, &key, null) on add and on delete; readers test membership.
template <class K, AttrId Id, size_t Inline>
class ValueSet : public internal::CollBase<absl::btree_set<K>, Inline> {
 public:
  using Key = K;
  using Value = Quill::Unit;
  static constexpr AttrId attrId = Id;
  static constexpr CollKind kind = CollKind::set;

  Quill::Optional<Quill::Unit> get(const K& k) const {
    if (this->contains(k)) return Quill::Unit{};
    return {};
  }

  bool insert(const Entity& owner, const K& k) {
    if (!this->emplace(k).second) return false;
    ++this->version_;
    owner.notify(Id, &k, nullptr);
    return true;
  }
  bool erase(const Entity& owner, const K& k) {
    auto gone = this->take(k);
    if (!gone) return false;
    ++this->version_;
    owner.notify(Id, &*gone, nullptr);
    return true;
  }
  // Empties the set without notifying anybody.
  void clearSilently() {
    if (this->empty()) return;
    this->clear();
    ++this->version_;
  }
};

// A map from key to owned child entity; E is constructed from the key and holds it.
// Notification: (Id, &key, null) on creation, (Id, &key, &old Ptr<E>) on deletion.
template <class K, class E, AttrId Id, size_t Inline>
class EntityMap : public internal::CollBase<absl::btree_map<K, Ptr<E>>, Inline> {
 public:
  using Key = K;
  using Element = E;
  using Value = Ptr<E>;
  static constexpr AttrId attrId = Id;
  static constexpr CollKind kind = CollKind::entities;

  EntityMap() = default;
  EntityMap(const EntityMap&) = delete;
  EntityMap& operator=(const EntityMap&) = delete;
  // Elements that outlive their owner (held elsewhere) become roots.
  ~EntityMap() {
    for (const auto& [k, e] : *this) e->ownerIs(nullptr, 0);
  }

  Ptr<E> get(const K& k) const {
    auto it = this->find(k);
    return it == this->end() ? Ptr<E>() : it->second;
  }
  E* lookup(const K& k) const {
    auto it = this->find(k);
    return it == this->end() ? nullptr : it->second.get();
  }

  // The element under `k`, created (from `k`) when absent.
  Ptr<E> create(const Entity& owner, const K& k) {
    return create(owner, k, [](E&) {});
  }
  // The element under `k`; when absent it is created from `k` and `init(E&)` runs on it before
  // anybody is notified, so that readers never see a half-made element.
  template <class Init>
  Ptr<E> create(const Entity& owner, const K& k, Init&& init) {
    auto [slot, inserted] = this->emplace(k);
    if (!inserted) return slot->second;
    slot->second = Ptr<E>(new E(k));
    Ptr<E> result = slot->second;
    // Attached after init: its changes reach nobody, as the element is not announced yet.
    init(*result);
    result->ownerIs(&owner, Id);
    ++this->version_;
    owner.notify(Id, &k, nullptr);
    return result;
  }
  bool erase(const Entity& owner, const K& k) {
    auto gone = this->take(k);
    if (!gone) return false;
    gone->second->ownerIs(nullptr, 0);
    ++this->version_;
    owner.notify(Id, &gone->first, &gone->second);
    return true;
  }
};

// One notified attribute. Notification: (Id, null, &old value) on change.
template <class V, AttrId Id>
class Scalar {
 public:
  using Value = V;
  static constexpr AttrId attrId = Id;
  static constexpr CollKind kind = CollKind::scalar;

  Scalar() = default;
  explicit Scalar(V v) : value_(std::move(v)) {}
  const V& get() const noexcept { return value_; }
  uint32_t version() const noexcept { return version_; }

  void set(const Entity& owner, V v) {
    if (value_ == v) return;
    V old = std::exchange(value_, std::move(v));
    ++version_;
    owner.notify(Id, nullptr, &old);
  }

 private:
  V value_{};
  uint32_t version_ = 0;
};

}  // namespace Mica

// Entities print as their key where they have one (traces name the element, not its address).
template <class T>
  requires std::is_base_of_v<Mica::Entity, T>
struct fmt::formatter<Mica::Ptr<T>> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const Mica::Ptr<T>& p, Ctx& ctx) const {
    if (!p) return fmt::format_to(ctx.out(), "null");
    if constexpr (requires { p->key(); }) {
      return fmt::format_to(ctx.out(), "{}", p->key());
    } else {
      return fmt::format_to(ctx.out(), "{}", static_cast<const void*>(p.get()));
    }
  }
};
