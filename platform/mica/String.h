// Mica::String: an immutable, interned, counted string held as a 32-bit handle.
//
// Millions of keys repeat a few policy and group names, so every distinct text is stored once
// in a process-wide intern table and a String is the 32-bit index of its slot there: a key of a
// name and a 32-bit pair id takes 8 bytes. Copying adds a reference to the slot, the last
// release frees the text and its slot, and a freed slot is reused by the next new text (most
// recently freed first). Equality is a handle comparison; the hash is computed once per
// distinct text, when it is interned. Handle 0 is the empty string: it has no slot and costs
// nothing, and a moved-from String is empty.
//
// Ordering is by bytes (std::string_view comparison), never by handle, so ordered collections
// iterate in the same order in every run whatever order the texts were interned in. The first
// 16 bytes are compared as two integers kept in the record; only texts equal in those go on to
// memcmp.
//
// Cost: view(), c_str(), size() and hash() find the slot through a short directory of segments
// (a bit scan and two loads); a copy or destruction updates the text's count, which for the
// first 65536 handles lies in one static array (one increment).
// The per-text overhead is a record (32 bytes and the text), a slot (8 bytes) and an entry of
// the lookup set.
//
// Thread-safety: follows Mica::threadControl(). Off (the default), nothing is locked and
// counts are plain integers. On, counts are atomic, interning and the last release take the
// table's lock, and the text of a String that a thread holds stays readable without a lock
// (records and segments never move).
#pragma once

#include <fmt/format.h>

#include <atomic>
#include <bit>
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/mica/ThreadControl.h"

namespace Mica {

namespace internal {
// The record of one interned text. `size` bytes follow it, then a terminating NUL.
// `order` holds the first 16 bytes of the text, zero-padded, as two big-endian words: two texts
// whose words differ are ordered by them as by their bytes, without a call to memcmp. Names
// (policies, groups, interfaces) are short, so the words almost always decide.
struct StringRep {
  uint32_t refs;  // for a handle past the hot ones (hotRefs)
  uint32_t size;
  uint64_t hash;
  uint64_t order[2];
  const char* data() const noexcept { return reinterpret_cast<const char*>(this + 1); }
};

// The slots, in segments that never move: segment k holds kFirstSegmentSlots << k slots, so
// 27 segments cover every 32-bit handle while a table of a few names takes one small segment.
inline constexpr uint32_t kFirstSegmentBits = 6;
inline constexpr uint64_t kFirstSegmentSlots = uint64_t{1} << kFirstSegmentBits;
inline constexpr int kSegments = 33 - kFirstSegmentBits;
extern StringRep** stringSegments[kSegments];

// The record of a live handle (not 0).
inline StringRep* stringRep(uint32_t handle) noexcept {
  const uint64_t j = uint64_t{handle} + kFirstSegmentSlots;
  const int k = std::bit_width(j) - 1 - static_cast<int>(kFirstSegmentBits);
  return stringSegments[k][j - (kFirstSegmentSlots << k)];
}

// The reference counts of the first kHotHandles handles, in one static array; the others keep
// theirs in their record. Keys holding Strings are copied on every hot path, and a count at a
// fixed address costs one increment where the record's costs a walk through the slot directory
// (a tenth of a large run's instructions went to the counts). Handles are handed out lowest
// first, so a router's names (a few thousand) are all hot.
inline constexpr uint32_t kHotHandles = uint32_t{1} << 16;
extern uint32_t hotRefs[kHotHandles];

// The reference count of a live handle (not 0).
inline uint32_t& refsOf(uint32_t handle) noexcept {
  return handle < kHotHandles ? hotRefs[handle] : stringRep(handle)->refs;
}

// Returns the handle of `text` with one more reference. REQUIRES: !text.empty().
uint32_t intern(std::string_view text);
// Drops one reference to a live handle under thread control; frees the text with the last.
void releaseShared(uint32_t handle) noexcept;
// Frees the text and slot of a handle whose count just reached 0 (no thread control).
void freeSlot(uint32_t handle) noexcept;

// The counts of the other handles, and every count under thread control (out of line, so that
// the hot case inlines to a compare and an increment).
void addRefCold(uint32_t handle) noexcept;
void dropRefCold(uint32_t handle) noexcept;

[[gnu::always_inline]] inline void addRef(uint32_t handle) noexcept {
  if (handle < kHotHandles && !threadControl()) [[likely]] {
    ++hotRefs[handle];
  } else {
    addRefCold(handle);
  }
}
[[gnu::always_inline]] inline void dropRef(uint32_t handle) noexcept {
  if (handle < kHotHandles && !threadControl()) [[likely]] {
    if (--hotRefs[handle] == 0) freeSlot(handle);
  } else {
    dropRefCold(handle);
  }
}
}  // namespace internal

class String {
 public:
  String() noexcept = default;
  String(const char* text) : String(std::string_view(text)) {}
  String(std::string_view text) : handle_(text.empty() ? 0 : internal::intern(text)) {}
  String(const std::string& text) : String(std::string_view(text)) {}
  String(const String& o) noexcept : handle_(o.handle_) {
    if (handle_) internal::addRef(handle_);
  }
  String(String&& o) noexcept : handle_(std::exchange(o.handle_, 0)) {}
  ~String() {
    if (handle_) internal::dropRef(handle_);
  }
  String& operator=(String o) noexcept {
    std::swap(handle_, o.handle_);
    return *this;
  }

  std::string_view view() const noexcept {
    if (!handle_) return {};
    const internal::StringRep* r = internal::stringRep(handle_);
    return {r->data(), r->size};
  }
  // NUL-terminated; valid while this String (or a copy) lives.
  const char* c_str() const noexcept { return handle_ ? internal::stringRep(handle_)->data() : ""; }
  std::string str() const { return std::string(view()); }
  size_t size() const noexcept { return handle_ ? internal::stringRep(handle_)->size : 0; }
  bool empty() const noexcept { return handle_ == 0; }
  // Hash of the text, computed once when the text was interned; 0 for the empty string.
  uint64_t hash() const noexcept { return handle_ ? internal::stringRep(handle_)->hash : 0; }
  // The slot of the text in the intern table; 0 for the empty string. Equal texts that are
  // alive at the same time have the same handle; a freed text's handle may come back for
  // another text, so a handle names a text only while a String holds it.
  uint32_t handle() const noexcept { return handle_; }

  friend bool operator==(const String& a, const String& b) noexcept { return a.handle_ == b.handle_; }
  friend std::strong_ordering operator<=>(const String& a, const String& b) noexcept {
    if (a.handle_ == b.handle_) return std::strong_ordering::equal;
    if (a.handle_ == 0 || b.handle_ == 0) {
      return a.handle_ == 0 ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    const internal::StringRep* ra = internal::stringRep(a.handle_);
    const internal::StringRep* rb = internal::stringRep(b.handle_);
    // Zero padding orders a text that ends within the words as a prefix, except against a
    // text with NUL bytes there: equal words leave the decision to the bytes.
    if (ra->order[0] != rb->order[0]) return ra->order[0] <=> rb->order[0];
    if (ra->order[1] != rb->order[1]) return ra->order[1] <=> rb->order[1];
    return std::string_view(ra->data(), ra->size) <=> std::string_view(rb->data(), rb->size);
  }
  friend bool operator==(const String& a, std::string_view b) noexcept { return a.view() == b; }

  template <class H>
  friend H AbslHashValue(H h, const String& s) {
    return H::combine(std::move(h), s.hash());
  }

 private:
  uint32_t handle_ = 0;
};
static_assert(sizeof(String) == 4, "a String is one 32-bit handle");

// Number of distinct texts currently interned (for memory accounting).
size_t internedStrings() noexcept;
// Number of slots the table has handed out so far, free or not (for memory accounting and
// tests of slot reuse).
size_t internSlots() noexcept;

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
