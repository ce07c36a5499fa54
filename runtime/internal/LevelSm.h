// The scans and reactors of one source, level by level (template detail of runtime/InputSm.h).
//
// TopLevel<Src> serves one `from` path: the collection at depth 0 belongs to the input
// argument; every level but the last is a collection of entities, and the element entities
// found there hold the collection of the next depth. The input SM of a nested level (`MidSm1`,
// `ExitGroupSm9`) is not an object per element: the top-level input SM subscribes once, for the
// whole tree, to the argument's descendant notifications (Mica::Subscriber::wantsDescendants),
// and learns from each notification the element that changed; the element's keys are read from
// the elements on its owner chain (each element entity has `key()`). Per source the mechanism
// keeps the state of the one pass in progress: a bookmark per depth along the single yielded
// path, and the few elements whose pass a reactor ran while a pass was pending. Nothing is kept
// per element, so following a million pairs costs no memory per pair.
//
// Invariants:
//  1. At most one path is yielded: bookmark(d) is set only with bookmark(d-1) set, and
//     yielded_[d] names the entity at depth d whose collection the bookmark is in.
//  2. outOfBand_ holds only nested elements whose pass a reactor ran while this source's pass
//     was pending; it is empty whenever no pass is pending.
//  3. version_ of a top-level leaf equals its collection's change counter whenever no
//     notification is pending and notifications are on; doDeleteAll asserts it. A nested leaf
//     changed while notifications were off is remembered by the input SM and asserted likewise.
#pragma once

#include <fmt/format.h>

#include <array>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "runtime/InputSm.h"
#include "runtime/PooledTree.h"
#include "runtime/Path.h"
#include "runtime/internal/KeyFormat.h"

namespace Flo::internal {

template <class T>
struct IsPtr : std::false_type {};
template <class T>
struct IsPtr<Mica::Ptr<T>> : std::true_type {};

// A value as a pipeline receives it: an attribute holding an entity pointer arrives as absent
// while the pointer is null.
template <class V>
Quill::Optional<V> valueOpt(const V& v) {
  if constexpr (IsPtr<V>::value) {
    if (!v) return {};
  }
  return v;
}

// An element of a collection of entities as a pipeline receives it: absent when there is none
// (a null Ptr must not arrive as a present value, or a removal would look like an addition).
template <class E>
Quill::Optional<Mica::Ptr<const E>> elementOpt(const Mica::Ptr<E>& element) {
  if (!element) return {};
  return Mica::Ptr<const E>(element);
}

template <class Src, size_t D>
struct LevelTraits {
  using Lv = typename Src::template L<D>;
  using E = typename Lv::Entity;
  using Coll = typename Lv::Coll;
  static constexpr bool leaf = D + 1 == Src::depth;
  static constexpr bool scalar = Lv::kind == Mica::CollKind::scalar;
  static_assert(leaf || Lv::kind == Mica::CollKind::entities,
                "every level but the last must be a collection of entities");
  using Bookmark = std::optional<typename KeyOfColl<Coll>::type>;
};

// The keys of the levels above depth D: a tuple of the key types of depths 0..D-1.
template <class Src, size_t D, class = std::make_index_sequence<D>>
struct KeysAbove;
template <class Src, size_t D, size_t... I>
struct KeysAbove<Src, D, std::index_sequence<I...>> {
  using type = std::tuple<typename LevelTraits<Src, I>::Coll::Key...>;
};

template <class Src, class = std::make_index_sequence<Src::depth>>
struct BookmarksOf;
template <class Src, size_t... I>
struct BookmarksOf<Src, std::index_sequence<I...>> {
  using type = std::tuple<typename LevelTraits<Src, I>::Bookmark...>;
};

// The top level of a source, driven by its task or in place, and every nested level below it.
template <class Src>
class TopLevel final : public SourceBase {
  static constexpr size_t kDepth = Src::depth;
  using E0 = typename LevelTraits<Src, 0>::E;

 public:
  TopLevel(InputArgSmBase& arg, size_t number, size_t pipeline)
      : SourceBase(arg, number, pipeline) {}

  Mica::AttrId attrId() const noexcept override { return LevelTraits<Src, 0>::Coll::attrId; }
  bool followsDescendants() const noexcept override { return kDepth > 1; }

  void onArgNotification(const void* key, const void* oldValue) override {
    if (!arg().initialized()) return;
    reactor<0>(entity(), std::tuple<>(), key, oldValue);
  }

  void onNestedNotification(const Mica::Entity& source, Mica::AttrId attr, const void* key,
                            const void* oldValue) override {
    if constexpr (kDepth > 1) {
      if (!arg().initialized()) return;
      // The owner chain from the changed element up to the argument, deepest first.
      std::array<const Mica::Entity*, kDepth> chain{};
      size_t depth = 0;
      const Mica::Entity* e = &source;
      while (e != nullptr && e != static_cast<const Mica::Entity*>(&entity())) {
        if (depth + 1 >= kDepth) return;  // deeper than this path
        chain[depth++] = e;
        e = e->owner();
      }
      if (e == nullptr || depth == 0) return;  // detached, or the argument itself
      dispatch<1>(depth, chain, attr, key, oldValue);
    } else {
      (void)source, (void)attr, (void)key, (void)oldValue;
    }
  }

  void doInputScan() override {
    if (!passDue()) return;
    if (arg().entity() == nullptr) {
      Mica::fail("Sm args can only be null if marked as Optional in the SM type declaration");
      return;
    }
    pass<0>(entity(), std::tuple<>());
  }

  void doDeleteAll() override { deleteAll<0>(entity(), std::tuple<>()); }

 private:
  template <size_t D>
  using T = LevelTraits<Src, D>;
  template <size_t D>
  using Keys = typename KeysAbove<Src, D>::type;

  // The argument as the entity type of the first level (the argument's type or a base of it).
  const E0& entity() const noexcept { return static_cast<const E0&>(*arg().entity()); }

  template <size_t D>
  static const char* levelName(const InputArgSmBase& arg) {
    if constexpr (D == 0) {
      return arg.name().c_str();
    } else {
      return T<D>::Lv::smClass();
    }
  }

  // ---- Scan passes ----

  // One pass over the collection at depth D of `en`, or the rest of a yielded one. Returns
  // inputScanComplete() of that level.
  template <size_t D>
  bool pass(const typename T<D>::E& en, const Keys<D>& keys) {
    using Coll = typename T<D>::Coll;
    const Coll& coll = T<D>::Lv::coll(en);
    uint64_t count = 0;
    if constexpr (T<D>::scalar) {
      // A walk of the pipeline cut by the budget: the attribute is visited again next run, the
      // levels above resuming at this entity ("child").
      const bool again = yielded_[D] == &en;
      yielded_[D] = nullptr;
      if (!visitElement(again, [&] { call(keys, Quill::Optional<typename Coll::Value>(), valueOpt(coll.get())); })) {
        yielded_[D] = &en;
        if constexpr (D == 0) {
          sm().trace(kLevelKey, "{} {} yielding after {} iterations ({} total items)", "", "", 0, 1);
          yielded(1);
        }
        return false;
      }
      count = 1;
    } else {
      auto& bookmark = std::get<D>(bookmarks_);
      const bool resuming = bookmark.has_value() && yielded_[D] == &en;
      auto it = resuming ? coll.lowerBound(*bookmark) : coll.begin();
      // A bookmarked element that went away takes the yielded path below it along.
      const bool atBookmark = resuming && it != coll.end() && Mica::internal::keyOf(it) == *bookmark;
      if (resuming && !atBookmark) clearBookmarksBelow(D);
      [[maybe_unused]] bool again = atBookmark;  // the element whose pipeline walk stopped early
      while (it != coll.end()) {
        const auto key = Mica::internal::keyOf(it);
        const uint32_t before = coll.version();
        sm().trace(kLevelKey, "k: {}", key);
        if constexpr (T<D>::leaf) {
          // A walk of the pipeline cut by the budget: this element is visited again next run.
          if (!visitElement(std::exchange(again, false), [&] { handleAt(keys, key, it); })) {
            return yield<D>(en, keys, key, "", count, coll.size());
          }
        } else {
          const auto& child = it->second;
          if (child && !outOfBand_.contains(child.get()) &&
              !pass<D + 1>(*child, std::tuple_cat(keys, std::make_tuple(key)))) {
            return yield<D>(en, keys, key, "child", count, coll.size());
          }
        }
        ++count;
        // One unit of work per element, reported as it is done so the task's budget sees it.
        workDone(1);
        // Step by key when the handler changed the collection (iterators are invalid then).
        it = coll.version() == before ? std::next(it) : coll.upperBound(key);
        if (shouldYield() && it != coll.end()) {
          return yield<D>(en, keys, Mica::internal::keyOf(it), "", count, coll.size());
        }
      }
      bookmark.reset();
    }
    if constexpr (T<D>::leaf && D == 0) version_ = coll.version();
    return completed<D>(count);
  }

  template <size_t D, class K>
  bool yield(const typename T<D>::E& en, const Keys<D>& keys, const K& next, const char* why,
             uint64_t count, uint64_t total) {
    std::get<D>(bookmarks_) = next;
    yielded_[D] = &en;
    if constexpr (D == 0) {
      if constexpr (T<D>::leaf) version_ = T<D>::Lv::coll(en).version();
      sm().trace(kLevelKey, "{} {} yielding after {} iterations ({} total items)", "", why, count,
                 total);
      yielded(total);
    } else {
      sm().trace(kLevelKey, "{} {} yielding after {} iterations ({} total items)",
                 std::get<D - 1>(keys), why, count, total);
    }
    return false;
  }

  template <size_t D>
  bool completed(uint64_t count) {
    if constexpr (D == 0) {
      outOfBand_.clear();
      SourceBase::completed();
      return inputScanComplete();
    } else {
      // The same text either way; the start-up names its scan "initial". Formatted only when the
      // level is on: this runs once a child entity.
      sm().trace(kLevelProgress, "{}{} scan complete. Processed {} children.", levelName<D>(arg()),
                 sm().initialScanDone() ? "" : " initial", count);
      return true;
    }
  }

  void clearBookmarksBelow(size_t d) {
    clearBookmarksFrom(d + 1, std::make_index_sequence<kDepth>());
  }
  template <size_t... I>
  void clearBookmarksFrom(size_t from, std::index_sequence<I...>) {
    ((I >= from ? (std::get<I>(bookmarks_).reset(), yielded_[I] = nullptr, 0) : 0), ...);
  }

  // handle<Attr><N>(key) of a leaf, for the element the scan's iterator is on.
  template <class K, class It>
  void handleAt(const auto& keys, const K& k, const It& it) {
    using Lv = typename Src::template L<kDepth - 1>;
    using Coll = typename Lv::Coll;
    if constexpr (Lv::kind == Mica::CollKind::set) {
      call(keys, k, Quill::Optional<Quill::Unit>(Quill::Unit{}));
    } else if constexpr (Lv::kind == Mica::CollKind::entities) {
      call(keys, k, elementOpt(it->second));
    } else {
      call(keys, k, Quill::Optional<typename Coll::Value>(), valueOpt(it->second));
    }
  }

  // ---- Reactors ----

  // Finds the depth of a descendant's change and runs the reactor of that level.
  template <size_t D>
  void dispatch(size_t depth, const std::array<const Mica::Entity*, kDepth>& chain,
                Mica::AttrId attr, const void* key, const void* oldValue) {
    if constexpr (D < kDepth) {
      if (depth != D) return dispatch<D + 1>(depth, chain, attr, key, oldValue);
      if (attr != T<D>::Coll::attrId) return;
      // chain[0] is the element at depth D, chain[D-1] the one at depth 1; each must sit in
      // the collection this path names at its owner's depth.
      bool onPath = true;
      [&]<size_t... I>(std::index_sequence<I...>) {
        ((onPath = onPath && chain[D - 1 - I]->ownerAttr() == T<I>::Coll::attrId), ...);
      }(std::make_index_sequence<D>());
      if (!onPath || !handled(chain[D - 1])) return;
      const auto& en = static_cast<const typename T<D>::E&>(*chain[0]);
      if (arg().muted()) {
        arg().missedIs(&en);
        return;
      }
      reactor<D>(en, keysOf<D>(chain), key, oldValue);
    }
  }

  // The keys of depths 0..D-1 of the element chain[0] at depth D.
  template <size_t D>
  static Keys<D> keysOf(const std::array<const Mica::Entity*, kDepth>& chain) {
    return [&]<size_t... I>(std::index_sequence<I...>) {
      return Keys<D>(static_cast<const typename T<I + 1>::E*>(chain[D - 1 - I])->key()...);
    }(std::make_index_sequence<D>());
  }

  // Whether the scan has met the element at depth 1 (`top`) below which a change happened.
  // Only the first pass meets elements gradually; before it ends no pipeline runs, so this
  // only keeps traces and work as if each element were followed from the moment it was met.
  bool handled(const Mica::Entity* top) const {
    if (sm().initialScanDone()) return true;
    if (state_ == ScanState::notStarted) return false;
    if (state_ != ScanState::yielded) return true;
    if (outOfBand_.contains(top)) return true;
    using K0 = typename T<0>::Coll::Key;
    const K0 k = static_cast<const typename T<1>::E*>(top)->key();
    const auto& bookmark = std::get<0>(bookmarks_);
    return k < *bookmark || (k == *bookmark && yielded_[1] != nullptr);
  }

  // A change of the collection (or attribute) at depth D of `en`.
  template <size_t D>
  void reactor(const typename T<D>::E& en, const Keys<D>& keys, const void* key,
               const void* oldValue) {
    using Coll = typename T<D>::Coll;
    const ReactorScope inReactor(arg());
    const Coll& coll = T<D>::Lv::coll(en);
    if constexpr (T<D>::scalar) {
      const auto& old = *static_cast<const typename Coll::Value*>(oldValue);
      call(keys, valueOpt(old), valueOpt(coll.get()));
    } else {
      const auto& k = *static_cast<const typename Coll::Key*>(key);
      sm().trace(kLevelKey, "k: {}", k);
      if constexpr (T<D>::leaf) {
        if constexpr (D == 0) version_ = coll.version();
        deliverChange(keys, coll, k, oldValue);
      } else {
        childChanged<D>(en, keys, k, oldValue);
      }
    }
  }

  // An element of the collection of entities at depth D was created or deleted.
  template <size_t D>
  void childChanged(const typename T<D>::E& en, const Keys<D>& keys, const auto& k,
                    const void* oldValue) {
    using Child = typename T<D + 1>::E;
    const auto childKeys = std::tuple_cat(keys, std::make_tuple(k));
    if (Mica::Ptr<Child> child = T<D>::Lv::coll(en).get(k)) {
      // Created: its pass runs now, and a pending pass that meets it later skips it.
      if (state_ == ScanState::yielded) outOfBand_.insert(child.get());
      pass<D + 1>(*child, childKeys);
      return;
    }
    if (oldValue == nullptr) return;
    const Mica::Ptr<Child>& gone = *static_cast<const Mica::Ptr<Child>*>(oldValue);
    if (!gone) return;
    outOfBand_.erase(gone.get());
    if (yielded_[D + 1] == gone.get()) clearBookmarksBelow(D);
    deleteAll<D + 1>(*gone, childKeys);
  }

  template <class Coll, class K>
  void deliverChange(const auto& keys, const Coll& coll, const K& k, const void* oldValue) {
    if constexpr (Coll::kind == Mica::CollKind::set) {
      call(keys, k, coll.get(k));
    } else if constexpr (Coll::kind == Mica::CollKind::entities) {
      call(keys, k, elementOpt(coll.get(k)));
    } else {
      Quill::Optional<typename Coll::Value> old;
      if (oldValue) old = valueOpt(*static_cast<const typename Coll::Value*>(oldValue));
      const typename Coll::Value* now = coll.lookup(k);
      call(keys, k, old, now ? valueOpt(*now) : Quill::Optional<typename Coll::Value>());
    }
  }

  // ---- Retraction ----

  // Retracts everything the level at depth D of `en` produced: every leaf element as a removal.
  template <size_t D>
  void deleteAll(const typename T<D>::E& en, const Keys<D>& keys) {
    using Coll = typename T<D>::Coll;
    sm().trace(kLevelProgress, "{} doDeleteAll", levelName<D>(arg()));
    if (!sm().initialScanDone()) return;
    const Coll& coll = T<D>::Lv::coll(en);
    if constexpr (T<D>::leaf) {
      const bool missed = D == 0 ? version_ != coll.version() : arg().missed(&en);
      if (missed) {
        const std::string text = fmt::format(
            "We missed notifications that happened to {} before the enclosing entity got deleted",
            T<D>::Lv::attrName());
        Mica::fail(text.c_str());
      }
      if constexpr (T<D>::scalar) {
        call(keys, valueOpt(coll.get()), Quill::Optional<typename Coll::Value>());
      } else {
        // Step by key: the pipelines may write collections that others read.
        for (auto it = coll.begin(); it != coll.end();) {
          const auto key = Mica::internal::keyOf(it);
          if constexpr (Coll::kind == Mica::CollKind::set) {
            call(keys, key, Quill::Optional<Quill::Unit>());
          } else if constexpr (Coll::kind == Mica::CollKind::entities) {
            call(keys, key, Quill::Optional<Mica::Ptr<const typename Coll::Element>>());
          } else {
            call(keys, key, valueOpt(it->second), Quill::Optional<typename Coll::Value>());
          }
          it = coll.upperBound(key);
        }
      }
    } else {
      for (auto it = coll.begin(); it != coll.end();) {
        const auto key = Mica::internal::keyOf(it);
        const Mica::Ptr<typename T<D + 1>::E> child = it->second;
        if (child) deleteAll<D + 1>(*child, std::tuple_cat(keys, std::make_tuple(key)));
        it = coll.upperBound(key);
      }
    }
  }

  // Calls the pipeline with the keys of every enclosing level, then `args`.
  template <class... A>
  void call(const auto& keys, const A&... args) {
    auto& machine = static_cast<typename Src::Sm&>(sm());
    std::apply([&](const auto&... k) { (machine.*Src::event)(k..., args...); }, keys);
  }

  typename BookmarksOf<Src>::type bookmarks_;
  std::array<const Mica::Entity*, kDepth> yielded_{};
  // Ordered rather than hashed: at bring-up a reactor may pass a million elements while a pass is
  // pending, and a hash set would rehash all of them at once inside one task run.
  PooledSet<const Mica::Entity*> outOfBand_;
  uint32_t version_ = 0;
};

}  // namespace Flo::internal
