#include "platform/mica/String.h"

#include <absl/container/flat_hash_set.h>
#include <absl/hash/hash.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

namespace Mica {
namespace internal {

StringRep** stringSegments[kSegments] = {};
uint32_t hotRefs[kHotHandles] = {};

namespace {

// The lookup set holds handles; it hashes and compares them through their records, and looks
// texts up without interning them.
struct HandleHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return absl::HashOf(s); }
  size_t operator()(uint32_t h) const noexcept { return stringRep(h)->hash; }
};
struct HandleEq {
  using is_transparent = void;
  static std::string_view text(std::string_view s) noexcept { return s; }
  static std::string_view text(uint32_t h) noexcept {
    const StringRep* r = stringRep(h);
    return {r->data(), r->size};
  }
  template <class A, class B>
  bool operator()(const A& a, const B& b) const noexcept {
    return text(a) == text(b);
  }
};

// The slot of `handle`, whose segment exists.
StringRep*& slot(uint32_t handle) noexcept {
  const uint64_t j = uint64_t{handle} + kFirstSegmentSlots;
  const int k = std::bit_width(j) - 1 - static_cast<int>(kFirstSegmentBits);
  return stringSegments[k][j - (kFirstSegmentSlots << k)];
}

struct Table {
  absl::flat_hash_set<uint32_t, HandleHash, HandleEq> byText;
  // Freed slots, most recently freed last: the next new text takes it.
  std::vector<uint32_t> freeSlots;
  // Slots handed out so far; slot 0 is never used (handle 0 is the empty string).
  uint64_t usedSlots = 1;
  std::mutex mutex;

  uint32_t takeSlot() {
    if (!freeSlots.empty()) {
      const uint32_t h = freeSlots.back();
      freeSlots.pop_back();
      return h;
    }
    if (usedSlots > UINT32_MAX) throw std::length_error("Mica::String intern table is full");
    // Room for every slot to be freed, so that freeing never allocates.
    if (freeSlots.capacity() < usedSlots) freeSlots.reserve(2 * usedSlots);
    const auto h = static_cast<uint32_t>(usedSlots);
    const uint64_t j = usedSlots + kFirstSegmentSlots;
    const int k = std::bit_width(j) - 1 - static_cast<int>(kFirstSegmentBits);
    if (!stringSegments[k]) stringSegments[k] = new StringRep* [kFirstSegmentSlots << k] {};
    ++usedSlots;
    return h;
  }
};

Table& table() {
  // Never destroyed: Strings held by static objects may be released after main returns.
  static Table* t = new Table();
  return *t;
}

// Bytes [at, at + 8) of `text`, zero-padded, as a big-endian word: words order as the bytes do.
uint64_t orderWord(std::string_view text, size_t at) noexcept {
  uint64_t word = 0;
  for (size_t i = 0; i < 8; ++i) {
    const uint64_t byte = at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    word = (word << 8) | byte;
  }
  return word;
}

uint32_t internLocked(Table& t, std::string_view text) {
  if (auto it = t.byText.find(text); it != t.byText.end()) {
    if (threadControl()) {
      std::atomic_ref<uint32_t>(refsOf(*it)).fetch_add(1, std::memory_order_relaxed);
    } else {
      ++refsOf(*it);
    }
    return *it;
  }
  void* mem = std::malloc(sizeof(StringRep) + text.size() + 1);
  if (!mem) throw std::bad_alloc();
  auto* rep = new (mem)
      StringRep{1, static_cast<uint32_t>(text.size()), absl::HashOf(text), {orderWord(text, 0), orderWord(text, 8)}};
  char* data = reinterpret_cast<char*>(rep + 1);
  std::memcpy(data, text.data(), text.size());
  data[text.size()] = '\0';
  uint32_t h = 0;
  try {
    h = t.takeSlot();
    slot(h) = rep;
    t.byText.insert(h);
    refsOf(h) = 1;
  } catch (...) {
    if (h) {
      slot(h) = nullptr;
      t.freeSlots.push_back(h);
    }
    std::free(rep);
    throw;
  }
  return h;
}

void freeLocked(Table& t, uint32_t handle) noexcept {
  t.byText.erase(handle);
  StringRep*& s = slot(handle);
  std::free(s);
  s = nullptr;
  t.freeSlots.push_back(handle);  // within the capacity takeSlot reserved
}

}  // namespace

uint32_t intern(std::string_view text) {
  Table& t = table();
  if (threadControl()) [[unlikely]] {
    std::lock_guard lock(t.mutex);
    return internLocked(t, text);
  }
  return internLocked(t, text);
}

void freeSlot(uint32_t handle) noexcept { freeLocked(table(), handle); }

void addRefCold(uint32_t handle) noexcept {
  if (threadControl()) {
    std::atomic_ref<uint32_t>(refsOf(handle)).fetch_add(1, std::memory_order_relaxed);
  } else {
    ++refsOf(handle);
  }
}

void dropRefCold(uint32_t handle) noexcept {
  if (threadControl()) {
    releaseShared(handle);
  } else if (--refsOf(handle) == 0) {
    freeSlot(handle);
  }
}

void releaseShared(uint32_t handle) noexcept {
  std::atomic_ref<uint32_t> refs(refsOf(handle));
  // Drops a reference that is not the last without the lock. The count reaches 0 only under
  // the lock, together with the erasure, so interning (also under the lock) never revives a
  // text that is being freed.
  uint32_t n = refs.load(std::memory_order_relaxed);
  while (n > 1) {
    if (refs.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel)) return;
  }
  Table& t = table();
  std::lock_guard lock(t.mutex);
  if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) freeLocked(t, handle);
}

}  // namespace internal

size_t internedStrings() noexcept { return internal::table().byText.size(); }
size_t internSlots() noexcept { return internal::table().usedSlots - 1; }

}  // namespace Mica
