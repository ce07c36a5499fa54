// Flo::Scratch: a borrowed buffer comes back empty and keeps its room; nested borrows and
// oversized buffers.
#include "runtime/Scratch.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(ScratchTest, ABorrowIsEmptyAndReusesTheRoomOfTheLastOne) {
  Flo::Scratch<int> scratch;
  const int* storage = nullptr;
  {
    auto first = scratch.borrow();
    EXPECT_TRUE(first->empty());
    for (int i = 0; i < 1000; ++i) first->push_back(i);
    storage = first->data();
  }
  EXPECT_GE(scratch.keptCapacity(), 1000u);
  auto second = scratch.borrow();
  EXPECT_TRUE(second->empty());
  for (int i = 0; i < 1000; ++i) second->push_back(i);
  EXPECT_EQ(second->data(), storage) << "the second event must not allocate";
}

TEST(ScratchTest, ANestedBorrowGetsItsOwnBufferAndTheLargerIsKept) {
  Flo::Scratch<int> scratch;
  {
    auto outer = scratch.borrow();
    outer->assign(10, 1);
    {
      auto inner = scratch.borrow();
      EXPECT_TRUE(inner->empty());
      inner->assign(500, 2);
    }
    EXPECT_EQ(*outer, std::vector<int>(10, 1)) << "the nested borrow must not touch the outer one";
  }
  EXPECT_GE(scratch.keptCapacity(), 500u);
}

TEST(ScratchTest, ElementsGoWhenTheBorrowEndsAndOversizedBuffersAreNotKept) {
  Flo::Scratch<std::shared_ptr<int>> scratch;
  const auto held = std::make_shared<int>(7);
  {
    auto items = scratch.borrow();
    items->push_back(held);
    EXPECT_EQ(held.use_count(), 2);
  }
  EXPECT_EQ(held.use_count(), 1) << "a kept buffer must not hold on to its elements";

  Flo::Scratch<char> big;
  { big.borrow()->resize(Flo::Scratch<char>::kMaxKept + 1); }
  EXPECT_EQ(big.keptCapacity(), 0u);
}

}  // namespace
