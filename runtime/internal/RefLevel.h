// A source that reads a collection of an entity that an attribute of the input argument points
// to (template detail of runtime/InputSm.h):
//
//   using Path = Flo::Path<Sm, &Sm::eventToX,
//       Flo::Level<&OrbCommonSmData::vxlanInfo, "OrbcsdSm16", "vxlanInfo">,   // Scalar<Ptr<E>>
//       Flo::Level<&VxlanInfo::vrfIdToVni, "VxlanInfoSm17", "vrfIdToVni">>;   // a leaf collection
//
// The pointed-to entity is not an element of the argument, so it is followed by a subscription
// of its own (one per source, not per element). When the attribute is set to another entity the
// source moves its subscription and reports the difference as changes: every key of the old
// entity's collection with (old value, value in the new one or absent), then every key present
// only in the new one with (absent, new value). A null pointer reads as an empty collection.
// The pipeline receives the keys and values of the leaf collection only (the pointer level has
// no key).
#pragma once

#include <fmt/format.h>

#include <string>

#include "runtime/InputSm.h"
#include "runtime/Path.h"
#include "runtime/internal/KeyFormat.h"

namespace Flo::internal {

template <class Src>
class RefTopLevel final : public SourceBase {
  static_assert(Src::depth == 2, "a pointer level is followed by one leaf collection");
  using Ref = typename Src::template L<0>;
  using Lv = typename Src::template L<1>;
  using E0 = typename Ref::Entity;
  using Target = typename Lv::Entity;
  using Coll = typename Lv::Coll;
  using K = typename Coll::Key;
  static_assert(Ref::kind == Mica::CollKind::scalar, "the first level is a pointer attribute");
  static_assert(Lv::kind == Mica::CollKind::values || Lv::kind == Mica::CollKind::set,
                "the pointed-to level is a collection of values or a set");

 public:
  RefTopLevel(InputArgSmBase& arg, size_t number, size_t pipeline)
      : SourceBase(arg, number, pipeline) {}
  ~RefTopLevel() override { follow(nullptr); }

  Mica::AttrId attrId() const noexcept override { return Ref::Coll::attrId; }
  bool followsDescendants() const noexcept override { return false; }
  void onNestedNotification(const Mica::Entity&, Mica::AttrId, const void*, const void*) override {}

  // The pointer changed: move the subscription, then report the difference.
  void onArgNotification(const void*, const void* oldValue) override {
    if (!arg().initialized()) return;
    const ReactorScope inReactor(arg());
    Mica::Ptr<const Target> old = followed_;
    const Target* now = pointee();
    follow(now);
    (void)oldValue;
    if (old.get() == now) return;
    sm().trace(kLevelKey, "{} replaced", Ref::attrName());
    if (old) {
      for (auto it = Lv::coll(*old).begin(); it != Lv::coll(*old).end(); ++it) {
        const K& k = Mica::internal::keyOf(it);
        deliver(k, valueIn(*old, k), now ? valueIn(*now, k) : Quill::Optional<Value>());
      }
    }
    if (now) {
      for (auto it = Lv::coll(*now).begin(); it != Lv::coll(*now).end(); ++it) {
        const K& k = Mica::internal::keyOf(it);
        if (old && Lv::coll(*old).contains(k)) continue;
        deliver(k, {}, valueIn(*now, k));
      }
      version_ = Lv::coll(*now).version();
    }
  }

  void doInputScan() override {
    if (!passDue()) return;
    follow(pointee());
    uint64_t count = 0;
    if (followed_) {
      const Coll& coll = Lv::coll(*followed_);
      auto it = state_ == ScanState::yielded && bookmark_ ? coll.lowerBound(*bookmark_) : coll.begin();
      while (it != coll.end()) {
        const K key = Mica::internal::keyOf(it);
        const uint32_t before = coll.version();
        sm().trace(kLevelKey, "k: {}", key);
        deliver(key, {}, valueIn(*followed_, key));
        ++count;
        workDone(1);
        it = coll.version() == before ? std::next(it) : coll.upperBound(key);
        if (shouldYield() && it != coll.end()) {
          bookmark_ = Mica::internal::keyOf(it);
          version_ = coll.version();
          sm().trace(kLevelKey, "{} {} yielding after {} iterations ({} total items)", "", "", count,
                     coll.size());
          yielded(coll.size());
          return;
        }
      }
      version_ = coll.version();
    }
    bookmark_.reset();
    completed();
  }

  void doDeleteAll() override {
    sm().trace(kLevelProgress, "{} doDeleteAll", arg().name());
    if (!sm().initialScanDone() || !followed_) return;
    const Coll& coll = Lv::coll(*followed_);
    if (version_ != coll.version()) {
      const std::string text = fmt::format(
          "We missed notifications that happened to {} before the enclosing entity got deleted",
          Lv::attrName());
      Mica::fail(text.c_str());
    }
    for (auto it = coll.begin(); it != coll.end();) {
      const K key = Mica::internal::keyOf(it);
      deliver(key, valueIn(*followed_, key), {});
      it = coll.upperBound(key);
    }
  }

 private:
  using Value = typename Coll::Value;

  const Target* pointee() const {
    const Mica::Entity* arg = this->arg().entity();
    if (arg == nullptr) return nullptr;
    return Ref::coll(static_cast<const E0&>(*arg)).get().get();
  }
  // Moves the subscription to `target` (null: none).
  void follow(const Target* target) {
    if (followed_.get() == target) return;
    if (followed_) followed_->subscriberRemove(&follower_);
    followed_ = Mica::Ptr<const Target>(target);
    if (followed_) followed_->subscriberAdd(&follower_);
  }
  static Quill::Optional<Value> valueIn(const Target& t, const K& k) { return Lv::coll(t).get(k); }

  // The subscription to the followed entity (the source's own Subscriber base serves its task).
  struct Follower final : Mica::Subscriber {
    explicit Follower(RefTopLevel& source) : source(source) {}
    void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override {
      source.changed(attr, key, oldValue);
    }
    RefTopLevel& source;
  };

  // A change of the followed entity's collection.
  void changed(Mica::AttrId attr, const void* key, const void* oldValue) {
    if (attr != Coll::attrId || !arg().initialized() || arg().muted()) return;
    const ReactorScope inReactor(arg());
    const K& k = *static_cast<const K*>(key);
    sm().trace(kLevelKey, "k: {}", k);
    version_ = Lv::coll(*followed_).version();
    Quill::Optional<Value> old;
    if constexpr (Lv::kind == Mica::CollKind::values) {
      if (oldValue) old = *static_cast<const Value*>(oldValue);
    } else {
      if (!Lv::coll(*followed_).contains(k)) old = Quill::Unit{};
    }
    deliver(k, old, valueIn(*followed_, k));
  }

  void deliver(const K& k, const Quill::Optional<Value>& old, const Quill::Optional<Value>& now) {
    auto& machine = static_cast<typename Src::Sm&>(sm());
    if constexpr (Lv::kind == Mica::CollKind::set) {
      (void)old;
      (machine.*Src::event)(k, now);
    } else {
      (machine.*Src::event)(k, old, now);
    }
  }

  Follower follower_{*this};
  Mica::Ptr<const Target> followed_;
  std::optional<K> bookmark_;
  uint32_t version_ = 0;
};

}  // namespace Flo::internal
