// Mica::Node and Mica::Ptr: intrusive reference counting for runtime objects.
//
// Every entity, state machine, task and handler of the runtime is a Node. A Ptr holds one
// reference; the last release destroys the node (after calling lastUserGone()).
//
// Allocation: `new` of a Node (of any class derived from it) takes its memory from
// Mica::NodePool (NodePool.h), which keeps small sizes in 8-byte size classes without malloc's
// per-allocation header; memory freed there is kept for later nodes, not returned to the
// system. Nodes that must be over-aligned, arrays of nodes, and every node in a build under
// AddressSanitizer use the global operator new instead. A node created with `new` must be
// destroyed with `delete` (or through lastUserGone()), never through the global operator delete.
//
// Thread-safety: counts are plain integers. The whole runtime runs on one scheduler thread;
// switching on thread control (Mica::threadControlIs(true), ThreadControl.h) makes them atomic
// for agents that hand nodes to other threads. The check costs one predictable branch per count
// change.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <utility>

#include "platform/mica/ThreadControl.h"

namespace Mica {

class Node {
 public:
  Node() = default;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  virtual ~Node() = default;

  // From the node pool (NodePool.h); the size given to delete is the size of the most derived
  // class, since the destructor is virtual.
  static void* operator new(size_t size);
  static void operator delete(void* p, size_t size) noexcept;
  // Over-aligned nodes: the global aligned operator new and delete.
  static void* operator new(size_t size, std::align_val_t align);
  static void operator delete(void* p, size_t size, std::align_val_t align) noexcept;
  // Placement new stays available (a class operator new hides the global one).
  static void* operator new(size_t, void* where) noexcept { return where; }
  static void operator delete(void*, void*) noexcept {}

  void ref() const noexcept {
    if (threadControl()) [[unlikely]] {
      std::atomic_ref<uint32_t>(refCount_).fetch_add(1, std::memory_order_relaxed);
    } else {
      ++refCount_;
    }
  }
  void unref() const noexcept {
    uint32_t left;
    if (threadControl()) [[unlikely]] {
      left = std::atomic_ref<uint32_t>(refCount_).fetch_sub(1, std::memory_order_acq_rel) - 1;
    } else {
      left = --refCount_;
    }
    if (left == 0) {
      const_cast<Node*>(this)->lastUserGone();
    }
  }
  uint32_t refCount() const noexcept { return refCount_; }

 protected:
  // Called when the last reference goes; the default destroys the node.
  virtual void lastUserGone() { delete this; }

 private:
  mutable uint32_t refCount_ = 0;
};

// Counted pointer to a Node (or a const Node). Null by default.
template <class T>
class Ptr {
 public:
  using element_type = T;

  Ptr() noexcept = default;
  Ptr(std::nullptr_t) noexcept {}
  Ptr(T* p) noexcept : p_(p) {
    if (p_) p_->ref();
  }
  Ptr(const Ptr& o) noexcept : Ptr(o.p_) {}
  Ptr(Ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ptr(const Ptr<U>& o) noexcept : Ptr(o.get()) {}
  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ptr(Ptr<U>&& o) noexcept : p_(o.release()) {}
  ~Ptr() {
    if (p_) p_->unref();
  }

  Ptr& operator=(Ptr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Gives up the reference without releasing it.
  T* release() noexcept { return std::exchange(p_, nullptr); }

  friend bool operator==(const Ptr& a, const Ptr& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const Ptr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

template <class T, class... A>
Ptr<T> make(A&&... a) {
  return Ptr<T>(new T(std::forward<A>(a)...));
}

template <class T, class U>
Ptr<T> ptrCast(const Ptr<U>& p) noexcept {
  return Ptr<T>(static_cast<T*>(p.get()));
}

}  // namespace Mica

template <class T>
struct std::hash<Mica::Ptr<T>> {
  size_t operator()(const Mica::Ptr<T>& p) const noexcept { return std::hash<T*>()(p.get()); }
};
