// Blip: a ring of compact trace records.
//
// A record holds a sequence number, the format string's address, a pointer to a per-signature
// codec and the raw arguments copied into fixed inline storage: writing one formats nothing and
// allocates nothing (beyond what copying an argument itself costs). Arguments are copied by
// value: a Mica::String keeps its reference while the record lives, and the ring releases
// (destroys) the arguments when their slot is overwritten, on clear() and on destruction.
// A std::string_view argument is stored as a std::string, since the text it views may be gone
// by the time the record is decoded; a `const char*` argument is stored as the pointer and
// must therefore point to a literal. An argument pack larger than the inline storage, or more
// strictly aligned, is formatted at write time instead (rare; still correct).
//
// Decoding formats each argument with fmt ("{}") and puts the texts in place of the format's
// "{}" or "%s" placeholders, in order (see substitute()).
//
// Thread-safety: none; a handle is written and read on the scheduler's thread.
#pragma once

#include <fmt/format.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

namespace Blip {

// Bytes of inline argument storage per record.
// 64 holds the largest argument packs the library writes (two keys with strings, a result).
inline constexpr size_t kInlineArgBytes = 64;
// Alignment of the inline storage; packs needing more are preformatted.
inline constexpr size_t kInlineArgAlign = alignof(uint64_t);
// Records kept by the default ring: at 88 bytes a record, 16 Ki records is 1.4 MiB.
inline constexpr size_t kDefaultRingRecords = 16 * 1024;

struct Record;

struct RecordCodec {
  // Appends the text of each argument to `out`.
  void (*decode)(const Record& r, std::vector<std::string>& out);
  // Destroys the arguments held in the record.
  void (*release)(Record& r);
};

struct Record {
  uint64_t seq = 0;
  const char* format = nullptr;
  // Null while the slot holds no arguments.
  const RecordCodec* codec = nullptr;
  alignas(kInlineArgAlign) unsigned char args[kInlineArgBytes];
};

// `format` with the "{}" and "%s" placeholders replaced by `args`, in order. Everything else is
// copied as it is (no escapes). Placeholders beyond the last argument stay in the text;
// arguments beyond the last placeholder are dropped.
std::string substitute(std::string_view format, std::span<const std::string> args);

namespace internal {
// How an argument of type T is kept in a record (a char array, as a `const char*`).
template <class T>
struct Stored {
  using type = std::decay_t<const T>;
};
template <>
struct Stored<std::string_view> {
  using type = std::string;
};

template <class... A>
struct Pack {
  using Tuple = std::tuple<A...>;
  static constexpr bool fits =
      sizeof(Tuple) <= kInlineArgBytes && alignof(Tuple) <= kInlineArgAlign;
  static void decode(const Record& r, std::vector<std::string>& out) {
    const auto& t = *std::launder(reinterpret_cast<const Tuple*>(r.args));
    std::apply([&](const auto&... a) { (out.push_back(fmt::format("{}", a)), ...); }, t);
  }
  static void release(Record& r) { std::launder(reinterpret_cast<Tuple*>(r.args))->~Tuple(); }
  static constexpr RecordCodec codec{&decode, &release};
};
}  // namespace internal

class TraceHandle {
 public:
  // A ring of `records` slots (at least one).
  explicit TraceHandle(size_t records = kDefaultRingRecords);
  ~TraceHandle();
  TraceHandle(const TraceHandle&) = delete;
  TraceHandle& operator=(const TraceHandle&) = delete;

  bool enabled() const noexcept { return enabled_; }
  // A disabled handle ignores record() and keeps what it holds.
  void enabledIs(bool on) noexcept { enabled_ = on; }

  // Writes one record, overwriting (and releasing) the oldest when the ring is full.
  // `format` must be a string literal (its address is stored).
  template <class... A>
  void record(const char* format, const A&... args) {
    if (!enabled_) return;
    using P = internal::Pack<typename internal::Stored<A>::type...>;
    if constexpr (P::fits) {
      Record& r = freeSlot();
      new (r.args) typename P::Tuple(args...);
      commit(r, format, &P::codec);
    } else {
      recordTexts(format, std::vector<std::string>{fmt::format("{}", args)...});
    }
  }

  struct Entry {
    uint64_t seq;
    std::string text;
  };
  // Records still held, oldest first, decoded; each with its sequence number.
  std::vector<Entry> records() const;
  // The texts of records(), without sequence numbers.
  std::vector<std::string> decoded() const;
  // Writes records() to `out`, one "#seq text" line each.
  void dump(std::FILE* out) const;

  // Records held.
  size_t size() const noexcept { return count_; }
  size_t capacity() const noexcept { return capacity_; }
  // Records written since construction, including those overwritten and cleared. Sequence
  // numbers start at 0, so the oldest record held is number written() - size().
  uint64_t written() const noexcept { return nextSeq_; }
  // Releases every record held; sequence numbers go on.
  void clear();

 private:
  // Releases the slot the next record goes to; if it held the oldest record, that record is
  // dropped. Returns the empty slot.
  Record& freeSlot();
  // Makes the record in the slot returned by freeSlot() the newest.
  void commit(Record& r, const char* format, const RecordCodec* codec) noexcept;
  void recordTexts(const char* format, std::vector<std::string> texts);
  // The slot of the record with `age` older records before it.
  size_t slotOf(size_t age) const noexcept;

  std::unique_ptr<Record[]> ring_;
  size_t capacity_;
  size_t head_ = 0;  // next slot to write
  size_t count_ = 0;
  uint64_t nextSeq_ = 0;
  bool enabled_ = true;
};

// The process default handle (SmControl's null handle is replaced by this one). Created on
// first use with kDefaultRingRecords slots; lives until exit.
TraceHandle* defaultHandle();

}  // namespace Blip
