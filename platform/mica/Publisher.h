// Mica::Publisher and Mica::Subscriber: synchronous change notification.
//
// A publisher delivers (attribute id, pointer to the key, pointer to the old value or null) to
// its subscribers, in subscription order, inside the writer's call. Readers take the new value
// from the entity. The key and old-value pointers are valid only during the call.
//
// A subscriber may unsubscribe itself or any other subscriber during delivery; a subscriber
// removed during a delivery receives nothing more of it. A subscriber added during a delivery
// receives the next notification, not the current one. Nested notifications (a subscriber that
// writes the same entity) are delivered in full before the outer delivery goes on. A subscriber
// that throws leaves the publisher usable.
//
// Cost: millions of entities have no subscriber or exactly one (the input SM that follows
// them), so a publisher is one word: null, the single subscriber itself, or (tagged) a list
// allocated when a second subscriber arrives. The word also keeps the publishing entity's owner
// (Entity::owner()), which an element of a collection always has and a followed root never
// does: (tagged) the owner itself while there is no subscriber, else in the list. notify()
// without subscribers is one test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Mica {

using AttrId = uint16_t;

class Entity;

class Subscriber {
 public:
  virtual void onNotification(AttrId attr, const void* key, const void* oldValue) = 0;
  // A change of an entity below the one subscribed to (an element of one of its collections of
  // entities, at any depth): `source` is the entity that changed. Only subscribers that set
  // wantsDescendants_ receive these; one such subscriber on a directory follows its whole tree
  // without a subscription, or any other per-element state, on the elements.
  virtual void onDescendantNotification(const Entity& source, AttrId attr, const void* key,
                                        const void* oldValue) {
    (void)source, (void)attr, (void)key, (void)oldValue;
  }
  bool wantsDescendants() const noexcept { return wantsDescendants_; }

 protected:
  ~Subscriber() = default;
  bool wantsDescendants_ = false;
};

class Publisher {
 public:
  Publisher() = default;
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;
  ~Publisher();

  void subscriberAdd(Subscriber* s);
  // Removing a subscriber that is not subscribed does nothing.
  void subscriberRemove(Subscriber* s);
  bool hasSubscribers() const noexcept { return subscriberCount() != 0; }
  size_t subscriberCount() const noexcept;

  void notify(AttrId attr, const void* key, const void* oldValue) {
    const uintptr_t w = word_;
    if ((w & kTags) == 0) {
      if (w != 0) reinterpret_cast<Subscriber*>(w)->onNotification(attr, key, oldValue);
      return;
    }
    if ((w & kListTag) != 0) deliver(nullptr, attr, key, oldValue);
  }
  // Delivers a change of `source`, an entity below the publisher's owner, to the subscribers
  // that want descendants (same order and removal rules as notify()).
  void notifyDescendant(const Entity& source, AttrId attr, const void* key, const void* oldValue) {
    const uintptr_t w = word_;
    if ((w & kTags) == 0) {
      auto* s = reinterpret_cast<Subscriber*>(w);
      if (s != nullptr && s->wantsDescendants()) s->onDescendantNotification(source, attr, key, oldValue);
      return;
    }
    if ((w & kListTag) != 0) deliver(&source, attr, key, oldValue);
  }
  // The entity owning the publishing entity (Entity::owner()); null when there is none.
  const Entity* owner() const noexcept {
    if ((word_ & kOwnerTag) != 0) return reinterpret_cast<const Entity*>(word_ & ~kTags);
    return isList() ? list()->owner : nullptr;
  }
  // REQUIRES: `owner` is at least 4-byte aligned (every Node is).
  void ownerIs(const Entity* owner);
  // Whether `s` is subscribed (a linear search of the list).
  bool hasSubscriber(const Subscriber* s) const noexcept;

 private:
  struct List {
    std::vector<Subscriber*> subs;  // null slots: removed during a delivery
    const Entity* owner = nullptr;
    uint32_t live = 0;
    uint16_t depth = 0;  // nesting of deliveries in progress
    bool holes = false;
  };
  static constexpr uintptr_t kListTag = 1;
  static constexpr uintptr_t kOwnerTag = 2;
  static constexpr uintptr_t kTags = kListTag | kOwnerTag;
  List* list() const noexcept { return reinterpret_cast<List*>(word_ & ~kTags); }
  bool isList() const noexcept { return (word_ & kListTag) != 0; }
  // source: null for the owner's own change, else the descendant that changed.
  void deliver(const Entity* source, AttrId attr, const void* key, const void* oldValue);
  void settle();

  // 0, a Subscriber* (no owner), an Entity* | kOwnerTag (the owner, no subscriber), or a
  // List* | kListTag.
  uintptr_t word_ = 0;
};

}  // namespace Mica
