// Quill::Optional<T>: a value or absent. An absent Optional<String> differs from an empty one.
// Prints as the value's printed form, or "None" when absent.
#pragma once

#include <fmt/format.h>

#include <optional>
#include <utility>

namespace Quill {

template <class T>
class Optional : public std::optional<T> {
 public:
  using std::optional<T>::optional;
  Optional() = default;
  Optional(const std::optional<T>& o) : std::optional<T>(o) {}
  Optional(std::optional<T>&& o) : std::optional<T>(std::move(o)) {}

  friend bool operator==(const Optional& a, const Optional& b) {
    return static_cast<const std::optional<T>&>(a) == static_cast<const std::optional<T>&>(b);
  }
};

// The unit value of set-like collections: Optional<Unit> present means "member added".
struct Unit {
  friend bool operator==(Unit, Unit) noexcept { return true; }
  friend auto operator<=>(Unit, Unit) noexcept = default;
};

}  // namespace Quill

template <class T>
struct fmt::formatter<Quill::Optional<T>> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const Quill::Optional<T>& o, Ctx& ctx) const {
    if (!o) return fmt::format_to(ctx.out(), "None");
    return fmt::format_to(ctx.out(), "{}", *o);
  }
};

template <>
struct fmt::formatter<Quill::Unit> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(Quill::Unit, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "()");
  }
};
