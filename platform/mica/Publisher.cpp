#include "platform/mica/Publisher.h"

#include <algorithm>

namespace Mica {

Publisher::~Publisher() {
  if (isList()) delete list();
}

size_t Publisher::subscriberCount() const noexcept {
  if (word_ == 0 || (word_ & kOwnerTag) != 0) return 0;
  return isList() ? list()->live : 1;
}

void Publisher::ownerIs(const Entity* owner) {
  if (isList()) {
    list()->owner = owner;
  } else if (word_ == 0 || (word_ & kOwnerTag) != 0) {
    word_ = owner ? reinterpret_cast<uintptr_t>(owner) | kOwnerTag : 0;
  } else if (owner) {
    // A single subscriber and now an owner: both go to a list.
    auto* l = new List();
    l->subs.push_back(reinterpret_cast<Subscriber*>(word_));
    l->live = 1;
    l->owner = owner;
    word_ = reinterpret_cast<uintptr_t>(l) | kListTag;
  }
}

void Publisher::subscriberAdd(Subscriber* s) {
  if (word_ == 0) {
    word_ = reinterpret_cast<uintptr_t>(s);
    return;
  }
  if (!isList()) {
    // A second subscriber, or a first one beside an owner: move to a list, keeping
    // subscription order.
    auto* l = new List();
    if ((word_ & kOwnerTag) != 0) {
      l->owner = reinterpret_cast<const Entity*>(word_ & ~kTags);
    } else {
      l->subs.push_back(reinterpret_cast<Subscriber*>(word_));
      l->live = 1;
    }
    word_ = reinterpret_cast<uintptr_t>(l) | kListTag;
  }
  list()->subs.push_back(s);
  ++list()->live;
}

void Publisher::subscriberRemove(Subscriber* s) {
  if (word_ == 0 || (word_ & kOwnerTag) != 0) return;
  if (!isList()) {
    // A single subscriber is called without a list; removing it during that call is safe.
    if (reinterpret_cast<Subscriber*>(word_) == s) word_ = 0;
    return;
  }
  List* l = list();
  auto it = std::find(l->subs.begin(), l->subs.end(), s);
  if (it == l->subs.end()) return;
  --l->live;
  if (l->depth > 0) {
    // Delivery walks the list by index: leave a hole and close it when delivery ends.
    *it = nullptr;
    l->holes = true;
  } else {
    l->subs.erase(it);
    settle();
  }
}

bool Publisher::hasSubscriber(const Subscriber* s) const noexcept {
  if (word_ == 0 || (word_ & kOwnerTag) != 0 || s == nullptr) return false;
  if (!isList()) return reinterpret_cast<const Subscriber*>(word_) == s;
  const List* l = list();
  return std::find(l->subs.begin(), l->subs.end(), s) != l->subs.end();
}

void Publisher::deliver(const Entity* source, AttrId attr, const void* key, const void* oldValue) {
  List* l = list();
  ++l->depth;
  // Restores the depth and closes holes even when a subscriber throws (the throwing assertion
  // handler of tests and the simulator), so the publisher stays usable afterwards.
  struct DepthGuard {
    Publisher* publisher;
    List* list;
    ~DepthGuard() {
      --list->depth;
      publisher->settle();
    }
  } guard{this, l};
  // Subscribers added during this delivery sit past `end` and are not called now.
  const size_t end = l->subs.size();
  for (size_t i = 0; i < end; ++i) {
    Subscriber* s = l->subs[i];
    if (s == nullptr) continue;
    if (source == nullptr) {
      s->onNotification(attr, key, oldValue);
    } else if (s->wantsDescendants()) {
      s->onDescendantNotification(*source, attr, key, oldValue);
    }
  }
}

// Closes holes and gives the list up when it is no longer needed (outside any delivery).
void Publisher::settle() {
  if (!isList()) return;
  List* l = list();
  if (l->depth > 0) return;
  if (l->holes) {
    l->subs.erase(std::remove(l->subs.begin(), l->subs.end(), nullptr), l->subs.end());
    l->holes = false;
  }
  if (l->live == 0) {
    const Entity* owner = l->owner;
    delete l;
    word_ = 0;
    ownerIs(owner);
  }
}

}  // namespace Mica
