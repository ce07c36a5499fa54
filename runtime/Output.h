// Outputs: readiness and start-up reconciliation of what a state machine writes.
//
// An output is one collection the state machine writes (`polToVniLane`), or one collection
// inside entities that it writes itself (a nested output: `statusCfg.exitGroupStatusConfig`).
// It waits for the `<pipeline>Scan` flags of the pipelines that write it. While it reconciles
// (from start when the collection held entries; always for a nested output), every `into`
// records its key as seen; once the second passes are done, the deletion pass removes every
// entry that was not seen, yielding to the scheduler by key bookmark, and the output becomes
// ready. What was seen is kept as runs of adjacent entries (Flo::SeenRanges), and only while
// reconciling.
//
// Declaring an output (in the state machine's constructor):
//   polToVniLaneOutput_ = &outputIs(std::make_unique<Flo::TopOutput<PolToVniLaneSpec>>(
//       *this, "iePolicyToVniLaneDirPolToVniLaneOutput", std::vector{evalLaneToIePolicyPipeline},
//       iePolicyToVniLaneDir_));
// A Spec names the written entity, the key and how to walk and delete entries:
//   struct PolToVniLaneSpec {
//     using Entity = IePolicyToVniLaneDir;
//     using Key = PolicyVniLaneKey;
//     static bool empty(const Entity&);
//     static std::optional<Key> first(const Entity&, const Key* atOrAfter);  // null: the first
//     // Appends the first n keys above `after` to `out`: one search for a run of successors.
//     static void successors(const Entity&, const Key& after, size_t n, std::vector<Key>& out);
//     static void erase(Entity&, const Key&);
//   };
// Flo::CollOutputSpec and Flo::TwoLevelOutputSpec below build that Spec for a plain collection
// and for a collection in each element of an entity map.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>
#include <type_traits>
#include <utility>
#include <string>
#include <vector>

#include "platform/keel/Task.h"
#include "runtime/PooledTree.h"
#include "runtime/SeenBatch.h"
#include "runtime/SeenRanges.h"
#include "runtime/StateMachine.h"

namespace Flo {

class OutputBase : private Mica::Subscriber {
 public:
  OutputBase(StateMachine& sm, std::string name, std::vector<size_t> waitsFor, bool nested)
      : sm_(sm), name_(std::move(name)), waitsFor_(std::move(waitsFor)), nested_(nested) {}
  virtual ~OutputBase();
  OutputBase(const OutputBase&) = delete;
  OutputBase& operator=(const OutputBase&) = delete;

  const std::string& name() const noexcept { return name_; }
  // "IePolicyToVniLaneSm-iePolicyToVniLaneDirPolToVniLaneOutputTask"
  std::string taskName() const;
  bool reconciling() const noexcept { return reconciling_; }
  bool ready() const;
  bool waitsFor(size_t pipeline) const;
  const Keel::Task* reconciliationTask() const noexcept { return task_.get(); }
  size_t readyIndex() const noexcept { return readyIndex_; }

  // Runtime: initialization steps of handleInitialized, and algorithm of handle<O>InputReady.
  void attach(size_t readyIndex) noexcept { readyIndex_ = readyIndex; }
  void createTask();
  void initReconciling();
  void handleInputReady();
  void dropTask();

 protected:
  StateMachine& sm() const noexcept { return sm_; }
  // False for an output that only has its ready flag: no reconciliation task, no start trace.
  virtual bool reconciled() const noexcept { return true; }
  virtual bool outputNonEmpty() const = 0;
  // Deletion-pass cursor. It stands on an output entry, or (nested outputs) on a visited
  // container without a further entry, which counts as one step of work like an entry.
  // cursorFirst positions on the first step (at or after the bookmark); false: nothing left.
  virtual bool cursorFirst(bool fromBookmark) = 0;
  virtual bool cursorOnEntry() const { return true; }
  // Whether the entry was seen; forgets it either way (the seen state shrinks as it is used).
  virtual bool cursorTakeSeen() = 0;
  virtual void cursorDelete() = 0;
  // Moves to the next step; false at the end.
  virtual bool cursorNext() = 0;
  virtual void cursorToBookmark() = 0;
  // Releases one element of what reconciliation still holds (seen keys of entries that are
  // gone, visited containers); false when nothing is left, the state then being empty.
  virtual bool releaseOne() = 0;

  bool reconciling_ = false;

 private:
  enum class Phase : uint8_t { deleting, releasing };
  void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;
  // The deletion pass, then the release of the reconciliation state. Returns false when it
  // yielded (the task is scheduled to go on).
  bool reconcile();
  bool mustYield() const;
  void yieldNow(uint64_t processed, uint64_t deleted);

  StateMachine& sm_;
  std::string name_;
  std::vector<size_t> waitsFor_;
  Mica::Ptr<Keel::Task> task_;
  size_t readyIndex_ = 0;
  bool nested_;
  bool useBookmark_ = false;
  Phase phase_ = Phase::deleting;
};

// An output that is a collection of an entity given to the state machine.
template <class Spec>
class TopOutput final : public OutputBase {
 public:
  using Entity = typename Spec::Entity;
  using Key = typename Spec::Key;

  TopOutput(StateMachine& sm, std::string name, std::vector<size_t> waitsFor,
            const Mica::Ptr<Entity>& entity)
      : OutputBase(sm, std::move(name), std::move(waitsFor), false), entity_(entity) {}

  // Called by every `into` of this output before it writes. The write counts as a unit of
  // work of the running task, so that a pipeline's fan-out is seen by the task's budget.
  void seen(const Key& k) {
    sm().workDone(1);
    if (reconciling_) seen_.seen(k, reader());
  }
  // Whether the output holds `k` and an `into` of this start wrote it: false once
  // reconciliation is over, and for a key an `into` of this start deleted.
  bool seenInThisStart(const Key& k) const {
    if (!reconciling_ || !seen_.covers(k)) return false;
    const auto at = Spec::first(*entity_, &k);
    return at && !(k < *at);
  }

 protected:
  bool outputNonEmpty() const override { return entity_ && !Spec::empty(*entity_); }
  bool cursorFirst(bool fromBookmark) override {
    cursor_ = Spec::first(*entity_, fromBookmark && bookmark_ ? &*bookmark_ : nullptr);
    return cursor_.has_value();
  }
  bool cursorTakeSeen() override { return seen_.takeAscending(*cursor_, reader()); }
  void cursorDelete() override {
    Spec::erase(*entity_, *cursor_);
    seen_.changedAt(*cursor_);
  }
  bool cursorNext() override {
    cursor_ = seen_.successor(*cursor_, reader());
    return cursor_.has_value();
  }
  void cursorToBookmark() override { bookmark_ = cursor_; }
  bool releaseOne() override {
    bookmark_.reset();
    cursor_.reset();
    return seen_.releaseOne();
  }

 private:
  // The output's first n keys above `after`, read in one search; true when they reach its end.
  auto reader() {
    return [this](const Key& after, size_t n, std::vector<Key>& out) {
      const size_t before = out.size();
      Spec::successors(*entity_, after, n, out);
      return out.size() - before < n;
    };
  }

  Mica::Ptr<Entity> entity_;
  // Runs of entries seen, not their keys: an in-order rewrite of the output holds one range.
  SeenBatch<Key> seen_;
  std::optional<Key> bookmark_;
  std::optional<Key> cursor_;
};

// An output inside entities that the state machine writes itself. Spec:
//   using Container = IeStatusConfig;  using ContainerKey = VniAndLaneId;  using Key = ...;
//   static const ContainerKey& containerKey(const Container&);
//   static std::optional<Key> first(const Container&, const Key* atOrAfter);
//   static std::optional<Key> next(const Container&, const Key& after);
//   static void erase(Container&, const Key&);
//
// The deletion pass walks the visited containers in key order, resuming by (container key,
// entry key); a container first visited behind the walk's position is walked after the others.
// Declare it after the output that holds its containers: that output's walk then deletes the
// stale containers before this one starts, and a container revived after this walk is fresh.
template <class Spec>
class NestedOutput final : public OutputBase {
 public:
  using Container = typename Spec::Container;
  using ContainerKey = std::remove_cvref_t<decltype(Spec::containerKey(std::declval<const Container&>()))>;
  using Key = typename Spec::Key;

  NestedOutput(StateMachine& sm, std::string name, std::vector<size_t> waitsFor)
      : OutputBase(sm, std::move(name), std::move(waitsFor), true) {}

  // Called by every `into` of this output before it writes into `container`.
  void seen(const Mica::Ptr<Container>& container, const Key& k) {
    sm().workDone(1);
    if (!reconciling_) return;
    visit(container);
    seen_.insert(Place{Spec::containerKey(*container), Place::entry, k},
                 [this](const Place& after) { return nextPlace(after); });
  }
  // Records `container` as visited, so that the deletion pass walks it even when nothing in
  // it was written (all of its entries are then stale).
  void containerSeen(const Mica::Ptr<Container>& container) {
    if (reconciling_) visit(container);
  }

 protected:
  bool outputNonEmpty() const override { return true; }
  bool cursorFirst(bool fromBookmark) override {
    if (!fromBookmark || !at_) {
      walking_ = true;
      inLate_ = false;
      lateAt_ = 0;
      return land(containers_.begin(), nullptr);
    }
    if (inLate_) return landLate(cursor_ ? &*cursor_ : nullptr);
    return land(containers_.lower_bound(*at_), cursor_ ? &*cursor_ : nullptr);
  }
  bool cursorOnEntry() const override { return cursor_.has_value(); }
  // The ranges the walk has passed are dropped, unless there are late containers: they are
  // walked after the others, and a range seen in one of them can reach past the walk's place.
  bool cursorTakeSeen() override {
    const Place at{*at_, Place::entry, *cursor_};
    return inLate_ || !late_.empty() ? seen_.covers(at) : seen_.takeAscending(at);
  }
  void cursorDelete() override { Spec::erase(*current_, *cursor_); }
  bool cursorNext() override {
    if (cursor_) {
      if (auto k = Spec::next(*current_, *cursor_)) {
        cursor_ = std::move(k);
        return true;
      }
    }
    if (inLate_) {
      ++lateAt_;
      return landLate(nullptr);
    }
    return land(containers_.upper_bound(*at_), nullptr);
  }
  // The cursor already holds (container, entry): a resumed pass starts at the entry itself.
  void cursorToBookmark() override {}
  bool releaseOne() override {
    walking_ = false;
    at_.reset();
    cursor_.reset();
    current_ = nullptr;
    if (seen_.releaseOne()) return true;
    if (!containers_.empty()) {
      containers_.erase(containers_.begin());
      return true;
    }
    late_.clear();
    lateAt_ = 0;
    return false;
  }

 private:
  void visit(const Mica::Ptr<Container>& container) {
    const ContainerKey& ck = Spec::containerKey(*container);
    // Writes come container by container: most often the container is the last one visited.
    if (!containers_.empty()) {
      if (auto last = std::prev(containers_.end()); last->first == ck) {
        last->second = container;
        return;
      }
    }
    const size_t before = containers_.size();
    const auto it = containers_.try_emplace(containers_.end(), ck, container);
    if (containers_.size() == before) {
      it->second = container;  // a container re-created under the same key
      return;
    }
    // Its entries join the walk now, unseen: a range built across its place must not cover them.
    seen_.cut(Place{ck, Place::before, Key()}, Place{ck, Place::after, Key()});
    // Behind the walk's position: walked once the ordered walk is over.
    if (walking_ && (inLate_ || (at_ && ck < *at_))) late_.push_back(container);
  }
  // Stands on the first entry (at or after `from`) of the container at `it`, or on the
  // container itself when it has none; moves on to the late containers at the end.
  bool land(typename PooledMap<ContainerKey, Mica::Ptr<Container>>::iterator it, const Key* from) {
    if (it == containers_.end()) {
      inLate_ = true;
      return landLate(nullptr);
    }
    at_ = it->first;
    current_ = it->second.get();
    cursor_ = Spec::first(*current_, from);
    return true;
  }
  bool landLate(const Key* from) {
    if (lateAt_ >= late_.size()) {
      at_.reset();
      cursor_.reset();
      current_ = nullptr;
      return false;
    }
    current_ = late_[lateAt_].get();
    at_ = Spec::containerKey(*current_);
    cursor_ = Spec::first(*current_, from);
    return true;
  }

  // A place in what the deletion pass walks, the entries of the visited containers in key
  // order: an entry, or the edge before or after a container's entries (where a range is cut
  // when a container is first visited inside it).
  struct Place {
    enum Edge : uint8_t { before, entry, after };
    ContainerKey container;
    Edge edge;
    Key key;  // of an entry; Key() at an edge
    friend bool operator<(const Place& a, const Place& b) {
      if (a.container < b.container) return true;
      if (b.container < a.container) return false;
      if (a.edge != b.edge) return a.edge < b.edge;
      return a.edge == entry && a.key < b.key;
    }
  };
  // The first entry of the visited containers after `p`, or none. Empty containers are skipped,
  // a few at a time: past those, the edge before the next container is returned, which only
  // keeps a range from growing over it.
  std::optional<Place> nextPlace(const Place& p) const {
    auto it = containerAtOrAfter(p);
    if (it != containers_.end() && !(p.container < it->first)) {
      std::optional<Key> k = p.edge == Place::before ? Spec::first(*it->second, nullptr)
                                                     : Spec::next(*it->second, p.key);
      if (k) return Place{it->first, Place::entry, std::move(*k)};
      ++it;
    }
    for (int empty = 0; it != containers_.end(); ++it, ++empty) {
      if (empty == 8) return Place{it->first, Place::before, Key()};
      if (std::optional<Key> k = Spec::first(*it->second, nullptr)) return Place{it->first, Place::entry, std::move(*k)};
    }
    return std::nullopt;
  }

  // The visited container of `p`, or the first one after it. Writes come container by
  // container, so `p` is most often in one of the last two visited: those are found without a
  // search of the map.
  auto containerAtOrAfter(const Place& p) const {
    auto it = containers_.end();
    for (int back = 0; back < 2 && it != containers_.begin(); ++back) {
      const auto prev = std::prev(it);
      if (prev->first < p.container) return it;  // nothing visited between the two
      it = prev;
      if (!(p.container < it->first)) return p.edge == Place::after ? std::next(it) : it;
    }
    return p.edge == Place::after ? containers_.upper_bound(p.container) : containers_.lower_bound(p.container);
  }

  // Containers visited while reconciling, by key (the Ptr keeps each alive), and the runs of
  // entries seen in them: both grow without rehash and shrink one element at a time.
  PooledMap<ContainerKey, Mica::Ptr<Container>> containers_;
  SeenRanges<Place> seen_;
  std::deque<Mica::Ptr<Container>> late_;  // grows by blocks: no copy of a million at once
  size_t lateAt_ = 0;
  // Position of the deletion pass: container key, the container, and the entry (none: the
  // container's step without an entry).
  std::optional<ContainerKey> at_;
  Container* current_ = nullptr;
  std::optional<Key> cursor_;
  bool walking_ = false;
  bool inLate_ = false;
};

// Spec of a top-level output that is a plain collection `Member` of `E`, deleted with `Del`.
template <class E, auto Member, auto Del>
struct CollOutputSpec {
  using Entity = E;
  using Coll = std::remove_cvref_t<decltype(std::declval<E&>().*Member)>;
  using Key = typename Coll::Key;
  static bool empty(const E& e) { return (e.*Member).empty(); }
  static size_t size(const E& e) { return (e.*Member).size(); }
  static std::optional<Key> first(const E& e, const Key* atOrAfter) {
    const auto& c = e.*Member;
    auto it = atOrAfter ? c.lowerBound(*atOrAfter) : c.begin();
    if (it == c.end()) return {};
    return keyOf(it);
  }
  // A nested output's step (a collection in each of its containers).
  static std::optional<Key> next(const E& e, const Key& after) {
    const auto& c = e.*Member;
    auto it = c.upperBound(after);
    if (it == c.end()) return {};
    return keyOf(it);
  }
  // The first n keys above `after`, appended to `out`: one search for a run of successors.
  static void successors(const E& e, const Key& after, size_t n, std::vector<Key>& out) {
    const auto& c = e.*Member;
    for (auto it = c.upperBound(after); it != c.end() && n > 0; ++it, --n) out.push_back(keyOf(it));
  }
  static void erase(E& e, const Key& k) { (e.*Del)(k); }

 private:
  template <class It>
  static const Key& keyOf(const It& it) {
    if constexpr (requires { it->first; }) {
      return it->first;
    } else {
      return *it;
    }
  }
};

// Walking a two-level output keyed by (outer key, inner key): the entity map `outer` and, in
// each of its elements, the collection `innerOf(element)`. Outer elements with an empty inner
// collection are skipped.
template <class Outer, class InnerOf>
auto twoLevelFirst(const Outer& outer, const auto* atOrAfter, InnerOf innerOf)
    -> std::optional<std::remove_cvref_t<decltype(*atOrAfter)>> {
  using Key = std::remove_cvref_t<decltype(*atOrAfter)>;
  auto o = atOrAfter ? outer.lowerBound(atOrAfter->first) : outer.begin();
  for (; o != outer.end(); ++o) {
    const auto& inner = innerOf(*o->second);
    auto i = atOrAfter && o->first == atOrAfter->first ? inner.lowerBound(atOrAfter->second) : inner.begin();
    if (i != inner.end()) return Key(o->first, Mica::internal::keyOf(i));
  }
  return {};
}

template <class Outer, class Key, class InnerOf>
std::optional<Key> twoLevelNext(const Outer& outer, const Key& after, InnerOf innerOf) {
  for (auto o = outer.lowerBound(after.first); o != outer.end(); ++o) {
    const auto& inner = innerOf(*o->second);
    auto i = o->first == after.first ? inner.upperBound(after.second) : inner.begin();
    if (i != inner.end()) return Key(o->first, Mica::internal::keyOf(i));
  }
  return {};
}

// The first n keys that twoLevelNext would give one by one from `after`, appended to `out`.
template <class Outer, class Key, class InnerOf>
void twoLevelSuccessors(const Outer& outer, const Key& after, size_t n, std::vector<Key>& out, InnerOf innerOf) {
  for (auto o = outer.lowerBound(after.first); o != outer.end() && n > 0; ++o) {
    const auto& inner = innerOf(*o->second);
    auto i = o->first == after.first ? inner.upperBound(after.second) : inner.begin();
    for (; i != inner.end() && n > 0; ++i, --n) out.emplace_back(o->first, Mica::internal::keyOf(i));
  }
}

// Spec of a top-level output keyed (outer key, inner key): the entity map `Outer` of `E`, and in
// each of its elements the collection `Inner`; an element goes with its last inner entry.
//   struct GroupSpec : Flo::TwoLevelOutputSpec<IeExitOptionDir, &IeExitOptionDir::exitOptionStatus,
//       &ExitOptionStatus::group, &IeExitOptionDir::exitOptionStatusDel, &ExitOptionStatus::groupDel> {};
template <class E, auto Outer, auto Inner, auto OuterDel, auto InnerDel>
struct TwoLevelOutputSpec {
  using Entity = E;
  using OuterColl = std::remove_cvref_t<decltype(std::declval<E&>().*Outer)>;
  using Element = typename OuterColl::Element;
  using InnerColl = std::remove_cvref_t<decltype(std::declval<Element&>().*Inner)>;
  using Key = std::pair<typename OuterColl::Key, typename InnerColl::Key>;

  static bool empty(const E& e) { return (e.*Outer).empty(); }
  static std::optional<Key> first(const E& e, const Key* atOrAfter) {
    return twoLevelFirst(e.*Outer, atOrAfter, innerOf);
  }
  static void successors(const E& e, const Key& after, size_t n, std::vector<Key>& out) {
    twoLevelSuccessors(e.*Outer, after, n, out, innerOf);
  }
  static void erase(E& e, const Key& k) {
    const Mica::Ptr<Element> element = (e.*Outer).get(k.first);
    if (!element) return;
    ((*element).*InnerDel)(k.second);
    if (((*element).*Inner).empty()) (e.*OuterDel)(k.first);
  }

 private:
  static const InnerColl& innerOf(const Element& element) { return element.*Inner; }
};

}  // namespace Flo
