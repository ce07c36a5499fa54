// Mica::String: an immutable, interned, counted string.
//
// Millions of keys repeat a few policy and group names, so every distinct text is stored once
// in a process-wide intern table and a String is one pointer to it: copying adds a reference,
// equality is a pointer comparison, the hash is computed once per distinct text. The empty
// string is the null pointer and costs nothing.
//
// Ordering is by bytes (std::string_view comparison), so ordered collections iterate in the same
// order in every run.
//
// Thread-safety: the intern table and counts follow Mica::threadControl(); the runtime is
// single-threaded by default.
#pragma once

#include <fmt/format.h>

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace Mica {

namespace internal {
struct StringRep {
  uint32_t refs;
  uint32_t size;
  uint64_t hash;
  // `size` bytes follow, then a terminating NUL.
  const char* data() const noexcept { return reinterpret_cast<const char*>(this + 1); }
};
StringRep* intern(std::string_view text);
void release(StringRep* rep) noexcept;
}  // namespace internal

class String {
 public:
  String() noexcept = default;
  String(const char* text) : String(std::string_view(text)) {}
  String(std::string_view text) : rep_(text.empty() ? nullptr : internal::intern(text)) {}
  String(const std::string& text) : String(std::string_view(text)) {}
  String(const String& o) noexcept : rep_(o.rep_) {
    if (rep_) ++rep_->refs;
  }
  String(String&& o) noexcept : rep_(std::exchange(o.rep_, nullptr)) {}
  ~String() {
    if (rep_ && --rep_->refs == 0) internal::release(rep_);
  }
  String& operator=(String o) noexcept {
    std::swap(rep_, o.rep_);
    return *this;
  }

  std::string_view view() const noexcept {
    return rep_ ? std::string_view(rep_->data(), rep_->size) : std::string_view();
  }
  const char* c_str() const noexcept { return rep_ ? rep_->data() : ""; }
  std::string str() const { return std::string(view()); }
  size_t size() const noexcept { return rep_ ? rep_->size : 0; }
  bool empty() const noexcept { return rep_ == nullptr; }
  // Hash of the text, computed once when the text was interned.
  uint64_t hash() const noexcept { return rep_ ? rep_->hash : 0; }

  friend bool operator==(const String& a, const String& b) noexcept { return a.rep_ == b.rep_; }
  friend std::strong_ordering operator<=>(const String& a, const String& b) noexcept {
    if (a.rep_ == b.rep_) return std::strong_ordering::equal;
    return a.view() <=> b.view();
  }
  friend bool operator==(const String& a, std::string_view b) noexcept { return a.view() == b; }

  template <class H>
  friend H AbslHashValue(H h, const String& s) {
    return H::combine(std::move(h), s.hash());
  }

 private:
  internal::StringRep* rep_ = nullptr;
};

// Number of distinct texts currently interned (for memory accounting).
size_t internedStrings() noexcept;

}  // namespace Mica

template <>
struct std::hash<Mica::String> {
  size_t operator()(const Mica::String& s) const noexcept { return s.hash(); }
};

template <>
struct fmt::formatter<Mica::String> : fmt::formatter<std::string_view> {
  template <class Ctx>
  auto format(const Mica::String& s, Ctx& ctx) const {
    return fmt::formatter<std::string_view>::format(s.view(), ctx);
  }
};

namespace Quill {
// Thrown for a value outside the range an attribute allows; what() is the system's text.
class RangeError : public std::exception {
 public:
  explicit RangeError(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

// A Mica::String no longer than maxLength() bytes.
// REQUIRES: text.size() <= MaxLength, else Quill::RangeError
// "Quill::String::bytes > maxLength() not allowed".
template <size_t MaxLength>
class BoundedString {
 public:
  static constexpr size_t maxLength() noexcept { return MaxLength; }
  BoundedString() = default;
  BoundedString(Mica::String s) : s_(check(std::move(s))) {}
  BoundedString(const char* s) : BoundedString(Mica::String(s)) {}
  BoundedString(std::string_view s) : BoundedString(Mica::String(s)) {}
  const Mica::String& value() const noexcept { return s_; }
  operator const Mica::String&() const noexcept { return s_; }
  std::string_view view() const noexcept { return s_.view(); }
  friend bool operator==(const BoundedString&, const BoundedString&) = default;
  friend auto operator<=>(const BoundedString&, const BoundedString&) = default;

 private:
  static Mica::String check(Mica::String s) {
    if (s.size() > MaxLength) throw RangeError("Quill::String::bytes > maxLength() not allowed");
    return s;
  }
  Mica::String s_;
};
}  // namespace Quill

template <size_t N>
struct fmt::formatter<Quill::BoundedString<N>> : fmt::formatter<Mica::String> {
  template <class Ctx>
  auto format(const Quill::BoundedString<N>& s, Ctx& ctx) const {
    return fmt::formatter<Mica::String>::format(s.value(), ctx);
  }
};
