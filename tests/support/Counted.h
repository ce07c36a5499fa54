// A trace argument that counts how often fmt formats it (as "c<value>") and how many copies of
// it live: tests prove with it that a trace formats nothing it does not write, and that a ring
// releases the arguments it drops.
#pragma once

#include <fmt/format.h>

namespace IeTest {

struct Counted {
  static inline int formatted = 0;
  static inline int live = 0;
  int value;
  explicit Counted(int v) : value(v) { ++live; }
  Counted(const Counted& o) : value(o.value) { ++live; }
  Counted& operator=(const Counted&) = default;
  ~Counted() { --live; }
  static void resetCounts() { formatted = live = 0; }
};

}  // namespace IeTest

template <>
struct fmt::formatter<IeTest::Counted> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const IeTest::Counted& c, Ctx& ctx) const {
    ++IeTest::Counted::formatted;
    return fmt::format_to(ctx.out(), "c{}", c.value);
  }
};
