// Outputs: readiness and start-up reconciliation of what a state machine writes.
//
// An output is one collection the state machine writes (`polToVniLane`), or one collection
// inside entities that it writes itself (a nested output: `statusCfg.exitGroupStatusConfig`).
// It waits for the `<pipeline>Scan` flags of the pipelines that write it. While it reconciles
// (from start when the collection held entries; always for a nested output), every `into`
// records its key as seen; once the second passes are done, the deletion pass removes every
// entry that was not seen, yielding to the scheduler by key bookmark, and the output becomes
// ready. Seen sets exist only while reconciling.
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
//     static std::optional<Key> next(const Entity&, const Key& after);
//     static void erase(Entity&, const Key&);
//   };
// Flo::SetOutputSpec / MapOutputSpec below build that Spec for a plain collection.
#pragma once

#include <absl/container/btree_map.h>
#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <algorithm>

#include <optional>
#include <string>
#include <vector>

#include "platform/keel/Task.h"
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
  virtual bool outputNonEmpty() const = 0;
  // Deletion-pass cursor: positions on the first entry (at or after the bookmark).
  virtual bool cursorFirst(bool fromBookmark) = 0;
  virtual bool cursorSeen() const = 0;
  virtual void cursorDelete() = 0;
  // Moves past the current entry; false at the end.
  virtual bool cursorNext() = 0;
  virtual void cursorToBookmark() = 0;
  virtual void clearReconciliationState() = 0;
  // Called once when reconciliation starts: size the seen set for the entries already there.
  virtual void reserveSeen() {}

  bool reconciling_ = false;

 private:
  void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override;
  bool deletionPass();

  StateMachine& sm_;
  std::string name_;
  std::vector<size_t> waitsFor_;
  Mica::Ptr<Keel::Task> task_;
  size_t readyIndex_ = 0;
  bool nested_;
  bool useBookmark_ = false;
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

  // Called by every `into` of this output before it writes.
  void seen(const Key& k) {
    if (reconciling_) seen_.insert(k);
  }
  size_t seenCount() const noexcept { return seen_.size(); }

 protected:
  bool outputNonEmpty() const override { return entity_ && !Spec::empty(*entity_); }
  void reserveSeen() override {
    if constexpr (requires { Spec::size(*entity_); }) seen_.reserve(Spec::size(*entity_));
  }
  bool cursorFirst(bool fromBookmark) override {
    cursor_ = Spec::first(*entity_, fromBookmark && bookmark_ ? &*bookmark_ : nullptr);
    return cursor_.has_value();
  }
  bool cursorSeen() const override { return seen_.contains(*cursor_); }
  void cursorDelete() override { Spec::erase(*entity_, *cursor_); }
  bool cursorNext() override {
    cursor_ = Spec::next(*entity_, *cursor_);
    return cursor_.has_value();
  }
  void cursorToBookmark() override { bookmark_ = cursor_; }
  void clearReconciliationState() override {
    seen_ = {};
    bookmark_.reset();
    cursor_.reset();
  }

 private:
  Mica::Ptr<Entity> entity_;
  absl::flat_hash_set<Key> seen_;
  std::optional<Key> bookmark_;
  std::optional<Key> cursor_;
};

// An output inside entities that the state machine writes itself. Spec:
//   using Container = IeStatusConfig;  using ContainerKey = VniAndLaneId;  using Key = ...;
//   static const ContainerKey& containerKey(const Container&);
//   static std::optional<Key> first(const Container&, const Key* atOrAfter);
//   static std::optional<Key> next(const Container&, const Key& after);
//   static void erase(Container&, const Key&);
template <class Spec>
class NestedOutput final : public OutputBase {
 public:
  using Container = typename Spec::Container;
  using ContainerKey = typename Spec::ContainerKey;
  using Key = typename Spec::Key;

  NestedOutput(StateMachine& sm, std::string name, std::vector<size_t> waitsFor)
      : OutputBase(sm, std::move(name), std::move(waitsFor), true) {}

  // Called by every `into` of this output before it writes into `container`.
  void seen(const Mica::Ptr<Container>& container, const Key& k) {
    if (!reconciling_) return;
    visit(container);
    seen_.emplace(container.get(), k);
  }
  // Records `container` as visited, so that the deletion pass walks it even when nothing in
  // it was written (all of its entries are then stale).
  void containerSeen(const Mica::Ptr<Container>& container) {
    if (reconciling_) visit(container);
  }

 protected:
  bool outputNonEmpty() const override { return true; }
  bool cursorFirst(bool fromBookmark) override {
    if (!fromBookmark || !walkBuilt_) {
      walk_.clear();
      late_.clear();
      for (const auto& [address, container] : containers_) walk_.emplace_back(Spec::containerKey(*container), container.get());
      sortWalk(0);
      walkBuilt_ = true;
      walkAt_ = 0;
      return settle(firstIn(nullptr));
    }
    // Resume in the bookmarked container at the bookmarked key.
    return settle(firstIn(bookmark_ ? &*bookmark_ : nullptr));
  }
  bool cursorSeen() const override { return seen_.contains(std::make_pair(current(), *cursor_)); }
  void cursorDelete() override { Spec::erase(*current(), *cursor_); }
  bool cursorNext() override { return settle(Spec::next(*current(), *cursor_)); }
  void cursorToBookmark() override { bookmark_ = cursor_; }
  void clearReconciliationState() override {
    containers_ = {};
    seen_ = {};
    walk_ = {};
    late_ = {};
    walkBuilt_ = false;
    walkAt_ = 0;
    bookmark_.reset();
    cursor_.reset();
  }

 private:
  void visit(const Mica::Ptr<Container>& container) {
    auto [it, inserted] = containers_.try_emplace(container.get(), container);
    // A container first visited while the deletion pass is under way is walked after the others.
    if (inserted && walkBuilt_) late_.push_back(container.get());
  }
  Container* current() const noexcept { return walk_[walkAt_].second; }
  std::optional<Key> firstIn(const Key* at) const {
    if (walkAt_ >= walk_.size()) return {};
    return Spec::first(*current(), at);
  }
  void sortWalk(size_t from) {
    std::sort(walk_.begin() + static_cast<std::ptrdiff_t>(from), walk_.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  // Moves on to the next container while the current one has no (further) entry.
  bool settle(std::optional<Key> k) {
    while (!k) {
      ++walkAt_;
      if (walkAt_ >= walk_.size()) {
        if (late_.empty()) {
          cursor_.reset();
          return false;
        }
        const size_t from = walk_.size();
        for (Container* c : late_) walk_.emplace_back(Spec::containerKey(*c), c);
        late_.clear();
        sortWalk(from);
      }
      k = Spec::first(*current(), nullptr);
    }
    cursor_ = std::move(k);
    return true;
  }

  // Containers visited while reconciling, by address (the Ptr keeps each alive), and the keys
  // seen in them as one flat set of (container, key).
  absl::flat_hash_map<const Container*, Mica::Ptr<Container>> containers_;
  absl::flat_hash_set<std::pair<const Container*, Key>> seen_;
  // The deletion pass walks the containers in key order: those visited when it started, then
  // those first visited while it was yielded. walkAt_ and bookmark_ say where it resumes.
  std::vector<std::pair<ContainerKey, Container*>> walk_;
  std::vector<Container*> late_;
  size_t walkAt_ = 0;
  bool walkBuilt_ = false;
  std::optional<Key> bookmark_;
  std::optional<Key> cursor_;
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
  static std::optional<Key> next(const E& e, const Key& after) {
    const auto& c = e.*Member;
    auto it = c.upperBound(after);
    if (it == c.end()) return {};
    return keyOf(it);
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

}  // namespace Flo
