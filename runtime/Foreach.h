// Flo::forEachElement: the `foreach` operator over an entity collection.
//
// Visits the elements in key order and tolerates changes of the collection made by the body
// (including deletion of the current element): it keeps the iterator while the collection's
// change counter is unchanged and re-finds its place by key otherwise.
#pragma once

namespace Flo {

template <class Coll, class Fn>
void forEachElement(const Coll& coll, Fn&& fn) {
  for (auto it = coll.begin(); it != coll.end();) {
    const auto key = it->first;
    const auto value = it->second;
    const auto version = coll.version();
    fn(key, value);
    if (coll.version() == version) {
      ++it;
    } else {
      it = coll.upperBound(key);
    }
  }
}

}  // namespace Flo
