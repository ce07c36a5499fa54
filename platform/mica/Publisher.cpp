#include "platform/mica/Publisher.h"

#include <algorithm>

namespace Mica {

Publisher::~Publisher() { delete list_; }

void Publisher::subscriberAdd(Subscriber* s) {
  if (!list_) list_ = new List();
  list_->subs.push_back(s);
  ++list_->live;
}

void Publisher::subscriberRemove(Subscriber* s) {
  if (!list_) return;
  auto& subs = list_->subs;
  auto it = std::find(subs.begin(), subs.end(), s);
  if (it == subs.end()) return;
  --list_->live;
  if (list_->depth > 0) {
    // Delivery walks the list by index: leave a hole and close it when delivery ends.
    *it = nullptr;
    list_->holes = true;
  } else {
    subs.erase(it);
    settle();
  }
}

void Publisher::deliver(AttrId attr, const void* key, const void* oldValue) {
  List* list = list_;
  ++list->depth;
  // Restores the depth and closes holes even when a subscriber throws (the throwing assertion
  // handler of tests and the simulator), so the publisher stays usable afterwards.
  struct DepthGuard {
    Publisher* publisher;
    List* list;
    ~DepthGuard() {
      --list->depth;
      publisher->settle();
    }
  } guard{this, list};
  // Subscribers added during this delivery sit past `end` and are not called now.
  const size_t end = list->subs.size();
  for (size_t i = 0; i < end; ++i) {
    if (Subscriber* s = list->subs[i]) s->onNotification(attr, key, oldValue);
  }
}

void Publisher::settle() {
  List* list = list_;
  if (list->depth > 0) return;
  if (list->holes) {
    list->subs.erase(std::remove(list->subs.begin(), list->subs.end(), nullptr), list->subs.end());
    list->holes = false;
  }
  if (list->live == 0) {
    delete list;
    list_ = nullptr;
  }
}

}  // namespace Mica
