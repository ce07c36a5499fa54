// Mica::internal::CollBase: the ordered storage and change counter behind every collection of
// an entity (ValueMap, ValueSet, EntityMap in Entity.h).
//
// `Tree` is the absl B-tree the collection would be (btree_map<K, V> or btree_set<K>);
// `Inline` chooses the representation:
//  - Inline == 0: always that B-tree. The object is the B-tree's root (24 bytes) and the change
//    counter; every element lives in separately allocated nodes.
//  - Inline == N > 0: up to N elements are kept sorted in an array inside the object, with no
//    allocation. Inserting element N + 1 moves them all into a B-tree allocated apart; erasing
//    down to N / 2 elements (to empty when N == 1) moves them back and frees the tree. The gap
//    between N / 2 and N keeps a collection that hovers around N from converting at every
//    change. The object is the larger of N elements and a pointer, plus 8 bytes: choose N as
//    the size the collection usually has.
//
// Lookups in the array are linear (N is a handful: a short scan of one or two cache lines beats
// a tree descent). Iterators are invalidated by any change of the same collection, in either
// representation: the array shifts on insert and erase, a conversion moves every element, and
// B-tree nodes split and merge. Walkers that may change the collection step by key
// (upperBound / lowerBound). An iterator over the array is a pointer; over the B-tree it is the
// B-tree's iterator.
//
// Derived collections read and write through the protected `emplace` and `take`, and bump
// `version_` on every change they make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/mica/Assert.h"

namespace Mica::internal {

// Key access and order for the elements of a B-tree type (pairs for maps, keys for sets).
template <class Tree>
struct TreeTraits {
  using key_type = typename Tree::key_type;
  using value_type = typename Tree::value_type;
  static constexpr bool isMap = !std::is_same_v<key_type, value_type>;
  // Sets hand out their elements read-only: a key must not change in place.
  using slot_pointer = std::conditional_t<isMap, value_type*, const value_type*>;

  static const key_type& key(const value_type& v) noexcept {
    if constexpr (isMap) {
      return v.first;
    } else {
      return v;
    }
  }
  static bool less(const key_type& a, const key_type& b) { return typename Tree::key_compare()(a, b); }
};

template <class Tree, size_t Inline>
class CollBase;

// Always a B-tree.
template <class Tree>
class CollBase<Tree, 0> {
  using Traits = TreeTraits<Tree>;

 public:
  using key_type = typename Tree::key_type;
  using value_type = typename Tree::value_type;
  using const_iterator = typename Tree::const_iterator;

  size_t size() const noexcept { return tree_.size(); }
  bool empty() const noexcept { return tree_.empty(); }
  uint32_t version() const noexcept { return version_; }
  const_iterator begin() const noexcept { return tree_.begin(); }
  const_iterator end() const noexcept { return tree_.end(); }
  const_iterator find(const key_type& k) const { return tree_.find(k); }
  const_iterator lowerBound(const key_type& k) const { return tree_.lower_bound(k); }
  const_iterator upperBound(const key_type& k) const { return tree_.upper_bound(k); }
  bool contains(const key_type& k) const { return tree_.contains(k); }
  // Checks the B-tree's structure; aborts on corruption.
  void checkInvariants() const { tree_.verify(); }

 protected:
  // The element under `k`, built from (k, a...) when absent; true when it was inserted.
  template <class... A>
  std::pair<typename Traits::slot_pointer, bool> emplace(const key_type& k, A&&... a) {
    if constexpr (Traits::isMap) {
      auto [it, inserted] = tree_.try_emplace(k, std::forward<A>(a)...);
      return {&*it, inserted};
    } else {
      auto [it, inserted] = tree_.insert(k);
      return {&*it, inserted};
    }
  }
  // Removes the element under `k` and hands it over; nothing when absent.
  std::optional<value_type> take(const key_type& k) {
    auto it = tree_.find(k);
    if (it == tree_.end()) return std::nullopt;
    std::optional<value_type> out(std::move(*it));
    tree_.erase(it);
    return out;
  }
  void clear() noexcept { tree_.clear(); }

  Tree tree_;
  uint32_t version_ = 0;
};

// Up to N elements inline, a B-tree past that.
template <class Tree, size_t N>
class CollBase {
  using Traits = TreeTraits<Tree>;
  using TreeIt = typename Tree::const_iterator;

 public:
  using key_type = typename Tree::key_type;
  using value_type = typename Tree::value_type;

  // Conversions move elements between the array and the tree and cannot be undone halfway.
  static_assert(std::is_nothrow_move_constructible_v<value_type>,
                "inline collections need elements that move without throwing");
  static_assert(N <= 64, "an inline capacity is a handful of elements: lookups in it are linear");

  // A pointer into the array, or (pointer null) the B-tree's iterator.
  class const_iterator {
   public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = typename Tree::value_type;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type*;
    using reference = const value_type&;

    const_iterator() = default;
    reference operator*() const { return p_ ? *p_ : *it_; }
    pointer operator->() const { return p_ ? p_ : &*it_; }
    const_iterator& operator++() {
      if (p_) {
        ++p_;
      } else {
        ++it_;
      }
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++*this;
      return old;
    }
    const_iterator& operator--() {
      if (p_) {
        --p_;
      } else {
        --it_;
      }
      return *this;
    }
    const_iterator operator--(int) {
      const_iterator old = *this;
      --*this;
      return old;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.p_ == b.p_ && (a.p_ != nullptr || a.it_ == b.it_);
    }

   private:
    friend class CollBase;
    explicit const_iterator(pointer p) noexcept : p_(p) {}
    explicit const_iterator(TreeIt it) noexcept : it_(it) {}
    pointer p_ = nullptr;
    TreeIt it_{};
  };

  CollBase() noexcept {}
  CollBase(const CollBase&) = delete;
  CollBase& operator=(const CollBase&) = delete;
  ~CollBase() { destroyElements(); }

  size_t size() const noexcept { return inTree() ? tree().size() : count_; }
  // The tree always holds more than N / 2 >= 0 elements, so only the array can be empty.
  bool empty() const noexcept { return count_ == 0; }
  uint32_t version() const noexcept { return version_; }
  const_iterator begin() const noexcept {
    return inTree() ? const_iterator(tree().begin()) : const_iterator(slots());
  }
  const_iterator end() const noexcept {
    return inTree() ? const_iterator(tree().end()) : const_iterator(slots() + count_);
  }
  const_iterator find(const key_type& k) const {
    if (inTree()) return const_iterator(tree().find(k));
    const uint32_t i = lowerIndex(k);
    return const_iterator(slots() + (matches(i, k) ? i : count_));
  }
  const_iterator lowerBound(const key_type& k) const {
    return inTree() ? const_iterator(tree().lower_bound(k)) : const_iterator(slots() + lowerIndex(k));
  }
  const_iterator upperBound(const key_type& k) const {
    if (inTree()) return const_iterator(tree().upper_bound(k));
    uint32_t i = lowerIndex(k);
    if (matches(i, k)) ++i;
    return const_iterator(slots() + i);
  }
  bool contains(const key_type& k) const { return inTree() ? tree().contains(k) : matches(lowerIndex(k), k); }

  // Checks the representation (a B-tree only past N / 2 elements, an array sorted by strictly
  // increasing key) and the B-tree's structure; aborts on corruption.
  void checkInvariants() const {
    if (inTree()) {
      tree().verify();
      check(tree().size() > N / 2, "inline collection: a B-tree that should have moved back inline");
      return;
    }
    check(count_ <= N, "inline collection: more elements than its capacity");
    for (uint32_t i = 1; i < count_; ++i) {
      check(Traits::less(Traits::key(slots()[i - 1]), Traits::key(slots()[i])),
            "inline collection: keys out of order");
    }
  }

 protected:
  // The element under `k`, built from (k, a...) when absent; true when it was inserted.
  template <class... A>
  std::pair<typename Traits::slot_pointer, bool> emplace(const key_type& k, A&&... a) {
    if (!inTree()) {
      const uint32_t i = lowerIndex(k);
      if (matches(i, k)) return {slots() + i, false};
      if (count_ < N) {
        insertAt(i, k, std::forward<A>(a)...);
        return {slots() + i, true};
      }
      moveToTree();
    }
    if constexpr (Traits::isMap) {
      auto [it, inserted] = tree().try_emplace(k, std::forward<A>(a)...);
      return {&*it, inserted};
    } else {
      auto [it, inserted] = tree().insert(k);
      return {&*it, inserted};
    }
  }
  // Removes the element under `k` and hands it over; nothing when absent.
  std::optional<value_type> take(const key_type& k) {
    if (!inTree()) {
      const uint32_t i = lowerIndex(k);
      if (!matches(i, k)) return std::nullopt;
      std::optional<value_type> out(std::move(slots()[i]));
      removeAt(i);
      return out;
    }
    auto it = tree().find(k);
    if (it == tree().end()) return std::nullopt;
    std::optional<value_type> out(std::move(*it));
    tree().erase(it);
    if (tree().size() <= N / 2) moveInline();
    return out;
  }
  void clear() noexcept {
    destroyElements();
    count_ = 0;
  }

 private:
  // count_ while the elements are in the B-tree.
  static constexpr uint32_t kInTree = UINT32_MAX;

  bool inTree() const noexcept { return count_ == kInTree; }
  Tree& tree() noexcept { return *tree_; }
  const Tree& tree() const noexcept { return *tree_; }
  value_type* slots() noexcept { return std::launder(reinterpret_cast<value_type*>(raw_)); }
  const value_type* slots() const noexcept {
    return std::launder(reinterpret_cast<const value_type*>(raw_));
  }
  // Index of the first element whose key is not below `k` (array only).
  uint32_t lowerIndex(const key_type& k) const {
    uint32_t i = 0;
    while (i < count_ && Traits::less(Traits::key(slots()[i]), k)) ++i;
    return i;
  }
  bool matches(uint32_t i, const key_type& k) const {
    return i < count_ && !Traits::less(k, Traits::key(slots()[i]));
  }

  template <class... A>
  void insertAt(uint32_t i, const key_type& k, A&&... a) {
    // Built first, so that a throwing constructor leaves the array as it was.
    value_type fresh = make(k, std::forward<A>(a)...);
    value_type* s = slots();
    for (uint32_t j = count_; j > i; --j) {
      new (s + j) value_type(std::move(s[j - 1]));
      s[j - 1].~value_type();
    }
    new (s + i) value_type(std::move(fresh));
    ++count_;
  }
  template <class... A>
  static value_type make(const key_type& k, A&&... a) {
    if constexpr (Traits::isMap) {
      return value_type(std::piecewise_construct, std::forward_as_tuple(k),
                        std::forward_as_tuple(std::forward<A>(a)...));
    } else {
      return value_type(k);
    }
  }
  void removeAt(uint32_t i) {
    value_type* s = slots();
    s[i].~value_type();
    for (uint32_t j = i + 1; j < count_; ++j) {
      new (s + j - 1) value_type(std::move(s[j]));
      s[j].~value_type();
    }
    --count_;
  }

  // The array is full: its elements move into a B-tree of their own.
  void moveToTree() {
    auto t = std::make_unique<Tree>();  // built aside: an allocation failure leaves the array intact
    for (uint32_t i = 0; i < count_; ++i) t->insert(t->end(), std::move(slots()[i]));
    destroyElements();
    tree_ = t.release();
    count_ = kInTree;
  }
  // The tree shrank to N / 2: its elements move back into the array and its nodes are freed.
  void moveInline() {
    const std::unique_ptr<Tree> t(tree_);  // the array's storage overlaps the pointer
    count_ = 0;
    for (auto it = t->begin(); it != t->end(); ++it) {
      new (slots() + count_) value_type(std::move(*it));
      ++count_;
    }
  }
  void destroyElements() noexcept {
    if (inTree()) {
      delete tree_;
      return;
    }
    for (uint32_t i = 0; i < count_; ++i) slots()[i].~value_type();
  }

  // The B-tree, once the array overflows, lives on its own: an inline collection is mostly
  // small, and a root in place would cost 24 bytes where the pointer costs 8.
  union {
    alignas(value_type) std::byte raw_[N * sizeof(value_type)];
    Tree* tree_;
  };
  uint32_t count_ = 0;

 protected:
  // After count_, so that the two share one 8-byte word.
  uint32_t version_ = 0;
};

}  // namespace Mica::internal
