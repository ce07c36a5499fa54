// Flo::SuccessorWindow against a search of the output for every question, under writes that
// add and remove keys around the window, and the number of reads an in-order walk costs.
#include "runtime/SuccessorWindow.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <set>
#include <vector>

namespace {

struct ReadOutput {
  std::set<int> keys;
  int reads = 0;
  int lastRead = 0;  // the last key of the last read

  std::optional<int> next(int after) const {
    auto it = keys.upper_bound(after);
    if (it == keys.end()) return std::nullopt;
    return *it;
  }
  auto reader() {
    return [this](int after, size_t n, std::vector<int>& out) {
      ++reads;
      for (auto it = keys.upper_bound(after); it != keys.end() && n > 0; ++it, --n) out.push_back(*it);
      if (!out.empty()) lastRead = out.back();
      return n > 0;
    };
  }
};

TEST(SuccessorWindowTest, AnswersAsTheOutputWhateverIsWrittenBetweenQuestions) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    ReadOutput out;
    for (int k = 0; k < 400; k += 2) out.keys.insert(k);
    Flo::SuccessorWindow<int> window;
    int cursor = -1;
    for (int step = 0; step < 3000; ++step) {
      const unsigned what = rng() % 10;
      if (what < 5) {
        // A writer that mostly goes forward, as a restart's scans do, and sometimes jumps.
        cursor = what == 0 ? static_cast<int>(rng() % 420) - 10 : cursor + 1 + static_cast<int>(rng() % 3);
        if (cursor > 410) cursor = -1;
        ASSERT_EQ(window.next(cursor, out.reader()), out.next(cursor)) << "seed " << seed << " step " << step;
      } else {
        // A write at some key, told before it is made: near the cursor, or anywhere.
        const int k = what < 8 ? cursor + static_cast<int>(rng() % 6) - 2 : static_cast<int>(rng() % 420);
        window.changedAt(k);
        if (rng() % 2) {
          out.keys.insert(k);
        } else {
          out.keys.erase(k);
        }
      }
    }
  }
}

TEST(SuccessorWindowTest, AnInOrderWalkReadsTheOutputRarelyAndRereadsAfterAJump) {
  ReadOutput out;
  for (int k = 0; k < 10000; ++k) out.keys.insert(k);
  Flo::SuccessorWindow<int> window;
  // The deletion pass of an unchanged output: each entry asks for the next.
  std::optional<int> at = window.next(-1, out.reader());
  int walked = 0;
  while (at) {
    ++walked;
    at = window.next(*at, out.reader());
  }
  EXPECT_EQ(walked, 10000);
  EXPECT_LT(out.reads, 10000 / 64 + 10);

  // A rewrite in order, each write telling its key: the questions stay at or above the changes.
  out.reads = 0;
  window.clear();
  for (int k = 0; k + 1 < 10000; ++k) {
    ASSERT_EQ(window.next(k, out.reader()), k + 1);
    window.changedAt(k + 1);
  }
  EXPECT_LT(out.reads, 10000 / 64 + 10);

  // A change inside the window: questions at or above it are answered from the window, a
  // question below it reads again (the set may differ anywhere up to the change).
  window.clear();
  for (int k = 0; k < 300; ++k) window.next(k, out.reader());  // the window is wide by now
  out.reads = 0;
  const int c = out.lastRead - 1;  // inside the window, above its start
  window.changedAt(c);
  out.keys.erase(c);
  EXPECT_EQ(window.next(c, out.reader()), c + 1);
  EXPECT_EQ(out.reads, 0);
  EXPECT_EQ(window.next(c - 1, out.reader()), c + 1);
  EXPECT_EQ(out.reads, 1);
  // Past the end of the output, the window knows there is nothing more.
  EXPECT_EQ(window.next(9999, out.reader()), std::nullopt);
  const int reads = out.reads;
  EXPECT_EQ(window.next(20000, out.reader()), std::nullopt);
  EXPECT_EQ(out.reads, reads);
}

}  // namespace
