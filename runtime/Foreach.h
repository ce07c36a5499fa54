// Flo::forEachElement: walks an entity's collection while the body may change it.
//
// Visits the elements in key order and tolerates changes of the collection made by the body
// (including deletion of the current element): it keeps the iterator while the collection's
// change counter is unchanged and re-finds its place by key otherwise. The body receives
// (key, value) for a map and (member) for a set; both are copies, so they stay valid when the
// body deletes the element.
#pragma once

namespace Flo {

template <class Coll, class Fn>
void forEachElement(const Coll& coll, Fn&& fn) {
  for (auto it = coll.begin(); it != coll.end();) {
    const auto version = coll.version();
    if constexpr (requires { it->second; }) {
      const auto key = it->first;
      const auto value = it->second;
      fn(key, value);
      if (coll.version() == version) {
        ++it;
      } else {
        it = coll.upperBound(key);
      }
    } else {
      const auto key = *it;
      fn(key);
      if (coll.version() == version) {
        ++it;
      } else {
        it = coll.upperBound(key);
      }
    }
  }
}

}  // namespace Flo
