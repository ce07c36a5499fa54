// Flo::Scratch: a vector kept between the runs of a pipeline that copies keys before it works
// on them.
//
// A walk that edits the index it walks copies the keys first. A fresh vector per event grows by
// doubling, and at a million pairs glibc answers each request of a kilobyte or more by
// consolidating its fast bins into the unsorted bin, which the next small allocations (the
// data-path commands among them) then sort through cold memory: a tenth of an interface
// event's cost. A kept buffer allocates only when an event needs more room than the events
// before it.
//
//   Flo::Scratch<ExitVniLaneKey> usingScratch_;            // a member of the state machine
//   auto using_ = usingScratch_.borrow();                   // empty
//   using_->push_back(key);  for (const auto& k : *using_) ...
//
// Re-entrant: a borrow while the buffer is out gets an empty vector of its own, and the larger
// of the two is kept when both are back. A buffer of more than kMaxKept elements is released
// rather than kept: an event that large spends far more on its evaluations than on allocating.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace Flo {

template <class T>
class Scratch {
 public:
  static constexpr size_t kMaxKept = size_t{1} << 16;

  class Borrowed {
   public:
    explicit Borrowed(Scratch& owner) : owner_(owner), items_(std::exchange(owner.kept_, {})) {}
    ~Borrowed() { owner_.giveBack(std::move(items_)); }
    Borrowed(const Borrowed&) = delete;
    Borrowed& operator=(const Borrowed&) = delete;

    std::vector<T>& operator*() noexcept { return items_; }
    std::vector<T>* operator->() noexcept { return &items_; }

   private:
    Scratch& owner_;
    std::vector<T> items_;
  };

  // The kept buffer, empty, until the returned object goes.
  Borrowed borrow() { return Borrowed(*this); }
  size_t keptCapacity() const noexcept { return kept_.capacity(); }

 private:
  void giveBack(std::vector<T>&& items) noexcept {
    items.clear();  // the elements' references (keys hold strings) go now, not at the next use
    if (items.capacity() > kept_.capacity() && items.capacity() <= kMaxKept) kept_ = std::move(items);
  }

  std::vector<T> kept_;
};

}  // namespace Flo
