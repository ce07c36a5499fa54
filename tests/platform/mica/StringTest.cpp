#include "platform/mica/String.h"

#include <absl/hash/hash.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Thrown.h"

namespace {

// Equal texts share one rep, so equality is a pointer comparison and the hash is the rep's.
TEST(StringTest, EqualTextsShareOneInternedRepAndHashAndTextsOrderByBytes) {
  const std::string text = "policy-string-test-shared";
  Mica::String a(text);
  Mica::String b(std::string_view(text.data(), text.size()));
  Mica::String c("policy-string-test-shared");
  EXPECT_EQ(a.c_str(), b.c_str());
  EXPECT_EQ(a.c_str(), c.c_str());
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a == Mica::String("policy-string-test-other"));
  EXPECT_TRUE(a == std::string_view("policy-string-test-shared"));
  EXPECT_EQ(a.view(), text);
  EXPECT_EQ(std::hash<Mica::String>()(a), std::hash<Mica::String>()(b));
  EXPECT_EQ(absl::HashOf(a), absl::HashOf(b));
  EXPECT_NE(a.hash(), Mica::String("policy-string-test-other").hash());
  // Texts that differ only after their first 16 bytes, and NULs within those, are ordered by
  // their bytes too.
  using namespace std::string_view_literals;
  const std::vector<Mica::String> sorted = {"", "A", "B", "a", "a\0"sv, "a\0\0"sv, "ab", "abc", "b",
                                            "ie-group-0123456789", "ie-group-01234567890",
                                            "ie-group-0123456799", "ie-group-1", "\x7f", "\x80", "\xff"};
  for (size_t i = 0; i < sorted.size(); ++i) {
    for (size_t j = 0; j < sorted.size(); ++j) EXPECT_EQ(sorted[i] <=> sorted[j], i <=> j) << i << " " << j;
  }
  // Interning order does not matter: a text made later may sort first.
  Mica::String late("0-made-after-the-others");
  EXPECT_LT(late, sorted[1]);
}

TEST(StringTest, EmptyStringIsNullAndEqualToEveryEmptyAndCopiesAndMovesKeepTheText) {
  Mica::String none;
  Mica::String fromEmpty("");
  Mica::String fromView{std::string_view()};
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(none.handle(), 0u);
  EXPECT_EQ(fromEmpty.handle(), 0u);
  EXPECT_EQ(none, fromEmpty);
  EXPECT_EQ(none, fromView);
  EXPECT_EQ(none.size(), 0u);
  EXPECT_STREQ(none.c_str(), "");
  EXPECT_EQ(none.hash(), 0u);
  EXPECT_EQ(fmt::format("[{}]", none), "[]");

  Mica::String a("copied-text");
  Mica::String b = a;
  Mica::String c = std::move(b);
  EXPECT_TRUE(b.empty());  // a moved-from String is empty
  EXPECT_EQ(c, a);
  b = c;
  a = Mica::String("other-text");
  EXPECT_EQ(b.view(), "copied-text");
  EXPECT_EQ(a.view(), "other-text");
  EXPECT_EQ(fmt::format("{:>12}", b), " copied-text");
}

// A text leaves the table with its last copy; new texts take the freed slots.
TEST(StringTest, TheInternTableDropsATextWithItsLastCopyAndReusesItsSlot) {
  const size_t before = Mica::internedStrings();
  {
    Mica::String a("intern-test-a");
    Mica::String copy = a;
    Mica::String b("intern-test-b");
    EXPECT_EQ(Mica::internedStrings(), before + 2);
    Mica::String again("intern-test-a");
    a = Mica::String();
    copy = Mica::String();
    EXPECT_EQ(Mica::internedStrings(), before + 2);
  }
  EXPECT_EQ(Mica::internedStrings(), before);
  const size_t slots = Mica::internSlots();
  Mica::String c("intern-test-c");
  Mica::String a("intern-test-a");  // interned again from scratch
  EXPECT_EQ(Mica::internSlots(), slots);
  EXPECT_EQ(a.view(), "intern-test-a");
  EXPECT_EQ(c.view(), "intern-test-c");
  EXPECT_LT(a, c);  // by bytes, whatever the slots
}

TEST(StringTest, ThreadsShareTextsUnderThreadControl) {
  Mica::threadControlIs(true);
  const size_t before = Mica::internedStrings();
  const Mica::String shared("thread-test-shared");
  // Both threads copy one text and intern and drop the same few others, so that a last release
  // races with a new interning of the same text.
  bool ok[2] = {true, true};
  const auto churn = [&shared, &ok](int me) {
    for (int i = 0; i < 20'000; ++i) {
      const Mica::String copy = shared;
      const std::string text = "thread-test-" + std::to_string(i % 8);
      const Mica::String mine(text);
      if (copy.view() != "thread-test-shared" || mine.view() != text) ok[me] = false;
    }
  };
  std::thread other(churn, 0);
  churn(1);
  other.join();
  Mica::threadControlIs(false);
  EXPECT_TRUE(ok[0] && ok[1]);
  EXPECT_EQ(Mica::internedStrings(), before + 1);  // only the shared text is left
}

// The first 65536 handles keep their counts in one static array, later ones in their records:
// both kinds must count copies alike, with and without thread control.
TEST(StringTest, TextsPastTheHotHandlesAreCountedAlike) {
  const size_t before = Mica::internedStrings();
  {
    std::vector<Mica::String> many;
    for (uint32_t i = 0; i <= Mica::internal::kHotHandles; ++i) many.emplace_back("count-test-" + std::to_string(i));
    const Mica::String& cold = many.back();
    const Mica::String& hot = many.front();
    ASSERT_GE(cold.handle(), Mica::internal::kHotHandles);
    ASSERT_LT(hot.handle(), Mica::internal::kHotHandles);
    for (const Mica::String* s : {&cold, &hot}) {
      Mica::String copy = *s;
      const std::string text = copy.str();
      const uint32_t handle = copy.handle();
      many.erase(std::find(many.begin(), many.end(), copy));  // the copy is the last holder now
      EXPECT_EQ(Mica::String(text).handle(), handle);
      EXPECT_EQ(copy.view(), text);
      const size_t live = Mica::internedStrings();
      copy = Mica::String();
      EXPECT_EQ(Mica::internedStrings(), live - 1) << text;
    }
    const Mica::String cold2 = many.back();
    ASSERT_GE(cold2.handle(), Mica::internal::kHotHandles);
    Mica::threadControlIs(true);
    const auto copies = [&cold2] {
      for (int i = 0; i < 20'000; ++i) {
        const Mica::String copy = cold2;
        if (copy.handle() != cold2.handle()) ADD_FAILURE();
      }
    };
    std::thread other(copies);
    copies();
    other.join();
    Mica::threadControlIs(false);
    const size_t live = Mica::internedStrings();
    many.pop_back();
    EXPECT_EQ(Mica::internedStrings(), live) << "a copy is still held";
  }
  EXPECT_EQ(Mica::internedStrings(), before);
}

TEST(BoundedStringTest, AcceptsUpToMaxLengthAndRejectsMore) {
  using Name = Quill::BoundedString<100>;
  const std::string hundred(100, 'x');
  Name ok(std::string_view{hundred});
  EXPECT_EQ(ok.view(), hundred);
  EXPECT_EQ(static_cast<const Mica::String&>(ok), Mica::String(hundred));
  EXPECT_EQ(IeTest::thrownText<Quill::RangeError>([&] { Name tooLong(std::string_view{hundred + "y"}); }),
            "Quill::String::bytes > maxLength() not allowed");
  EXPECT_THROW(Name(Mica::String(std::string(101, 'z'))), Quill::RangeError);
  EXPECT_LT(Name("a"), Name("b"));
  EXPECT_EQ(fmt::format("{}", Name("group")), "group");
}

}  // namespace
