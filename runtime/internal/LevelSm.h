// The input SMs of one source, level by level (template detail of runtime/InputSm.h).
//
// TopLevel<Src> is the source's top level (depth 0), served by the argument's InputArgSm.
// NestedLevel<Src, D> is one nested input SM per element of the collection at depth D-1; it
// subscribes to that element entity. Both share LevelCore, the scan pass, the reactor, the
// handling of child elements and doDeleteAll, written once here.
//
// Invariants:
//  1. A non-leaf level holds a child exactly for each element of its collection that it has
//     handled and that still exists (removal runs the child's doDeleteAll, then drops it).
//  2. At most one level per depth is `yielded`: a nested pass that does not complete makes
//     its parent yield at the same element, so a yielded scan is one path from the top.
//  3. version_ of a leaf equals its collection's change counter whenever no notification is
//     pending; doDeleteAll asserts it.
#pragma once

#include <fmt/format.h>

#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>

#include <absl/container/btree_map.h>

#include "runtime/InputSm.h"
#include "runtime/Path.h"
#include "runtime/internal/KeyFormat.h"

namespace Flo::internal {

template <class Src>
class TopLevel;
template <class Src, size_t D>
class NestedLevel;

template <class Src, size_t D>
using LevelNode = std::conditional_t<D == 0, TopLevel<Src>, NestedLevel<Src, D>>;

// The children of a non-leaf level: one nested input SM per element.
template <bool Leaf, class Src, size_t D, class Coll>
struct ChildMapOf {
  using type = std::tuple<>;
};
template <class Src, size_t D, class Coll>
struct ChildMapOf<false, Src, D, Coll> {
  using type = absl::btree_map<typename Coll::Key, std::unique_ptr<LevelNode<Src, D + 1>>>;
};

// An element of a collection of entities as a pipeline receives it: absent when there is none
// (a null Ptr must not arrive as a present value, or a removal would look like an addition).
template <class E>
Quill::Optional<Mica::Ptr<const E>> elementOpt(const Mica::Ptr<E>& element) {
  if (!element) return {};
  return Mica::Ptr<const E>(element);
}

// Scan, reactor and retraction logic of the level at depth D; Self is the concrete level.
template <class Self, class Src, size_t D>
class LevelCore {
 public:
  using Lv = typename Src::template L<D>;
  using E = typename Lv::Entity;
  using Coll = typename Lv::Coll;
  static constexpr bool leaf = D + 1 == Src::depth;
  static constexpr bool scalar = Lv::kind == Mica::CollKind::scalar;
  static_assert(leaf || Lv::kind == Mica::CollKind::entities,
                "every level but the last must be a collection of entities");

  ScanState scanState() const noexcept { return self().state_; }

 protected:
  Self& self() noexcept { return static_cast<Self&>(*this); }
  const Self& self() const noexcept { return static_cast<const Self&>(*this); }
  const Coll& coll() const noexcept { return Lv::coll(self().entity()); }
  StateMachine& sm() const noexcept { return self().top().sm(); }
  const Mica::DebugHandler& tracer() const noexcept { return sm().tracer(); }
  bool inReactor() const noexcept { return self().top().arg().inReactor(); }

  // inputScanComplete<N>()
  bool scanComplete() const noexcept {
    ScanState s = self().state_;
    return s == ScanState::complete ||
           (s == ScanState::completeInitial && !sm().initialScanDone());
  }

  // One pass, or the rest of a yielded one. Returns inputScanComplete().
  bool pass() {
    ScanState& state = self().state_;
    if (state == ScanState::complete) return true;
    if (state == ScanState::completeInitial && !sm().initialScanDone()) return true;
    uint64_t count = 0;
    if constexpr (scalar) {
      handleScalar();
      count = 1;
    } else {
      auto it = state == ScanState::yielded ? coll().lowerBound(*bookmark_) : coll().begin();
      while (it != coll().end()) {
        const auto key = keyOf(it);
        const uint32_t before = coll().version();
        if constexpr (leaf) {
          handleAt(key, it);
        } else {
          tracer().trace(kLevelKey, "k: {}", key);
          auto* child = handleChild(key, /*fromReactor=*/false);
          if (child && !child->pass()) return yield(key, "child", count);
        }
        ++count;
        // One unit of work per element, reported as it is done so the task's budget sees it.
        self().top().workDone(1);
        // Step by key when the handler changed the collection (iterators are invalid then).
        if (coll().version() == before) {
          ++it;
        } else {
          it = coll().upperBound(key);
        }
        if (self().shouldYield() && it != coll().end()) return yield(keyOf(it), "", count);
      }
    }
    complete(count);
    return scanComplete();
  }

  // A change of this level's collection (or attribute).
  void reactor(const void* key, const void* oldValue) {
    const ReactorScope inReactor(self().top().arg());
    if constexpr (scalar) {
      version_ = coll().version();
      const auto& old = *static_cast<const typename Coll::Value*>(oldValue);
      deliver(Quill::Optional<typename Coll::Value>(old), current());
    } else {
      const auto& k = *static_cast<const typename Coll::Key*>(key);
      tracer().trace(kLevelKey, "k: {}", k);
      if constexpr (leaf) {
        version_ = coll().version();
        deliverChange(k, oldValue);
      } else {
        handleChild(k, /*fromReactor=*/true);
      }
    }
  }

  // Retracts everything this level produced: every leaf element as a removal.
  void deleteAll() {
    tracer().trace(kLevelProgress, "{} doDeleteAll", self().name());
    if (!sm().initialScanDone()) return;
    if constexpr (leaf) {
      if (version_ != coll().version()) {
        const std::string text = fmt::format(
            "We missed notifications that happened to {} before the enclosing entity got deleted",
            Lv::attrName());
        Mica::fail(text.c_str());
      }
      if constexpr (scalar) {
        deliver(current(), {});
      } else {
        // Step by key: the pipelines may write collections that others read.
        for (auto it = coll().begin(); it != coll().end();) {
          const auto key = keyOf(it);
          deliverRemoval(key, it);
          it = coll().upperBound(key);
        }
      }
    } else {
      for (auto it = children_.begin(); it != children_.end();) {
        const auto key = it->first;
        it->second->deleteAll();
        it = children_.upper_bound(key);
      }
    }
  }

  void childSubscriptionIs(bool on) {
    if constexpr (!leaf) {
      for (auto& [k, child] : children_) child->subscriptionIs(on);
    }
  }

 private:
  template <class It>
  static const auto& keyOf(const It& it) {
    if constexpr (requires { it->first; }) {
      return it->first;
    } else {
      return *it;
    }
  }

  // handle<Attr><N>(key) of a leaf, for the element the scan's iterator is on (no second lookup).
  template <class K, class It>
  void handleAt(const K& k, const It& it) {
    tracer().trace(kLevelKey, "k: {}", k);
    if constexpr (Lv::kind == Mica::CollKind::set) {
      call(k, Quill::Optional<Quill::Unit>(Quill::Unit{}));
    } else if constexpr (Lv::kind == Mica::CollKind::entities) {
      call(k, elementOpt(it->second));
    } else {
      call(k, Quill::Optional<typename Coll::Value>(), Quill::Optional<typename Coll::Value>(it->second));
    }
  }

  void handleScalar() { deliver({}, current()); }

  Quill::Optional<typename Coll::Value> current() const { return coll().get(); }

  // Creates, keeps or retracts the child of element `k`; returns the child that exists after.
  template <class K>
  auto* handleChild(const K& k, bool fromReactor) {
    using Child = LevelNode<Src, D + 1>;
    auto element = coll().get(k);
    if (element) {
      auto [it, inserted] = children_.try_emplace(k);
      Child* child = it->second.get();
      if (inserted) {
        it->second = std::make_unique<Child>(self(), k, Mica::Ptr<const typename Coll::Element>(element));
        child = it->second.get();
        // A scan runs the child's pass itself, to see whether it yields.
        if (fromReactor) child->pass();
      }
      return child;
    }
    auto it = children_.find(k);
    if (it != children_.end()) {
      std::unique_ptr<Child> gone = std::move(it->second);
      children_.erase(it);
      gone->deleteAll();
    }
    return static_cast<Child*>(nullptr);
  }

  template <class K>
  void deliverChange(const K& k, const void* oldValue) {
    if constexpr (Lv::kind == Mica::CollKind::set) {
      call(k, coll().get(k));
    } else if constexpr (Lv::kind == Mica::CollKind::entities) {
      call(k, elementOpt(coll().get(k)));
    } else {
      Quill::Optional<typename Coll::Value> old;
      if (oldValue) old = *static_cast<const typename Coll::Value*>(oldValue);
      call(k, old, coll().get(k));
    }
  }

  template <class K, class It>
  void deliverRemoval(const K& k, const It& it) {
    if constexpr (Lv::kind == Mica::CollKind::set) {
      call(k, Quill::Optional<Quill::Unit>());
    } else if constexpr (Lv::kind == Mica::CollKind::entities) {
      call(k, Quill::Optional<Mica::Ptr<const typename Coll::Element>>());
    } else {
      call(k, Quill::Optional<typename Coll::Value>(it->second), Quill::Optional<typename Coll::Value>());
    }
  }

  void deliver(const Quill::Optional<typename Coll::Value>& old,
               const Quill::Optional<typename Coll::Value>& now) {
    call(old, now);
  }

  // Calls the pipeline with the keys of every enclosing level, then `args`.
  template <class... A>
  void call(const A&... args) {
    auto& machine = static_cast<typename Src::Sm&>(sm());
    std::apply([&](const auto&... keys) { (machine.*Src::event)(keys..., args...); },
               self().keys());
  }

  bool yield(const auto& bookmark, const char* why, uint64_t count) {
    bookmark_ = bookmark;
    if constexpr (leaf) version_ = coll().version();
    self().yielded(why, count, coll().size());
    return false;
  }

  void complete(uint64_t count) {
    if constexpr (leaf) version_ = coll().version();
    bookmark_.reset();
    self().completed(count);
  }

  using ChildMap = typename ChildMapOf<leaf, Src, D, Coll>::type;
  using Bookmark = std::optional<typename KeyOfColl<Coll>::type>;

  [[no_unique_address]] ChildMap children_;
  [[no_unique_address]] Bookmark bookmark_;
  uint32_t version_ = 0;

  template <class, class, size_t>
  friend class LevelCore;
  template <class>
  friend class TopLevel;
  template <class, size_t>
  friend class NestedLevel;
};

// The top level of a source, driven by its task or in place.
template <class Src>
class TopLevel final : public SourceBase, public LevelCore<TopLevel<Src>, Src, 0> {
  using Core = LevelCore<TopLevel<Src>, Src, 0>;
  using E = typename Core::E;

 public:
  TopLevel(InputArgSmBase& arg, size_t number, size_t pipeline)
      : SourceBase(arg, number, pipeline) {}

  Mica::AttrId attrId() const noexcept override { return Core::Coll::attrId; }
  void onArgNotification(const void* key, const void* oldValue) override {
    if (!arg().initialized()) return;
    Core::reactor(key, oldValue);
  }
  void doInputScan() override {
    if (!arg().initialized()) return;
    sm().trace(kLevelProgress, " scan complete: {} resumed: {} scan: {}", inputScanComplete(),
               state_ == ScanState::yielded, sm().inputSmScanState().flag(pipeline()));
    if (state_ == ScanState::complete) return;
    if (state_ == ScanState::completeInitial && !sm().initialScanDone()) return;
    if (!typedArg().enPtr()) {
      Mica::fail("Sm args can only be null if marked as Optional in the SM type declaration");
      return;
    }
    Core::pass();
  }
  void doDeleteAll() override { Core::deleteAll(); }
  void subscriptionIs(bool on) override { Core::childSubscriptionIs(on); }

  // Level interface used by LevelCore and the nested levels.
  const E& entity() const noexcept { return typedArg().en(); }
  TopLevel& top() noexcept { return *this; }
  const TopLevel& top() const noexcept { return *this; }
  std::tuple<> keys() const noexcept { return {}; }
  const std::string& name() const noexcept { return arg().name(); }
  bool shouldYield() const { return SourceBase::shouldYield(); }
  void workDone(uint64_t n) { SourceBase::workDone(n); }
  using SourceBase::sm;

 private:
  friend Core;
  const InputArgSm<E>& typedArg() const noexcept {
    return static_cast<const InputArgSm<E>&>(arg());
  }
  void yielded(const char* why, uint64_t count, uint64_t total) {
    sm().trace(kLevelKey, "{} {} yielding after {} iterations ({} total items)", "", why, count,
               total);
    SourceBase::yielded(total);
  }
  void completed(uint64_t count) {
    (void)count;
    SourceBase::completed();
  }
};

// One nested input SM: follows one element entity of its parent's collection.
template <class Src, size_t D>
class NestedLevel final : private Mica::Subscriber, public LevelCore<NestedLevel<Src, D>, Src, D> {
  using Core = LevelCore<NestedLevel<Src, D>, Src, D>;
  using E = typename Core::E;
  using Parent = LevelNode<Src, D - 1>;
  using ParentColl = typename Src::template L<D - 1>::Coll;
  using Key = typename ParentColl::Key;

 public:
  NestedLevel(Parent& parent, const Key& key, Mica::Ptr<const E> en)
      : parent_(parent), key_(key), en_(std::move(en)) {
    en_->subscriberAdd(this);
  }
  ~NestedLevel() {
    if (subscribed_) en_->subscriberRemove(this);
  }

  const E& entity() const noexcept { return *en_; }
  auto& top() const noexcept { return parent_.top(); }
  auto keys() const { return std::tuple_cat(parent_.keys(), std::tie(key_)); }
  const char* name() const noexcept { return Core::Lv::smClass(); }
  bool shouldYield() const { return top().shouldYield(); }
  // A level created by a scan while notifications were off is already subscribed: switching
  // them on must not subscribe it twice (each change would run the pipeline twice).
  void subscriptionIs(bool on) {
    if (on != subscribed_) {
      if (on) {
        en_->subscriberAdd(this);
      } else {
        en_->subscriberRemove(this);
      }
      subscribed_ = on;
    }
    Core::childSubscriptionIs(on);
  }

 private:
  friend Core;
  template <class, class, size_t>
  friend class LevelCore;

  void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override {
    if (attr != Core::Coll::attrId) return;
    Core::reactor(key, oldValue);
  }
  void yielded(const char* why, uint64_t count, uint64_t total) {
    top().sm().trace(kLevelKey, "{} {} yielding after {} iterations ({} total items)", key_, why,
                     count, total);
    state_ = ScanState::yielded;
  }
  void completed(uint64_t count) {
    if (top().sm().initialScanDone()) {
      state_ = ScanState::complete;
      top().sm().trace(kLevelProgress, "{} scan complete. Processed {} children.", name(), count);
    } else {
      state_ = ScanState::completeInitial;
      top().sm().trace(kLevelProgress, "{} scan complete. Processed {} children.",
                       fmt::format("{} initial", name()), count);
    }
  }

  Parent& parent_;
  Key key_;
  Mica::Ptr<const E> en_;
  ScanState state_ = ScanState::notStarted;
  bool subscribed_ = true;
};

}  // namespace Flo::internal
