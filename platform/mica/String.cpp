#include "platform/mica/String.h"

#include <absl/container/flat_hash_set.h>
#include <absl/hash/hash.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace Mica {
namespace internal {
namespace {

// The table hashes and compares texts; StringRep pointers are the stored elements.
struct RepHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return absl::HashOf(s); }
  size_t operator()(const StringRep* r) const noexcept { return r->hash; }
};
struct RepEq {
  using is_transparent = void;
  static std::string_view text(std::string_view s) noexcept { return s; }
  static std::string_view text(const StringRep* r) noexcept { return {r->data(), r->size}; }
  template <class A, class B>
  bool operator()(const A& a, const B& b) const noexcept {
    return text(a) == text(b);
  }
};
using Table = absl::flat_hash_set<StringRep*, RepHash, RepEq>;

Table& table() {
  // Never destroyed: Strings held by static objects may be released after main returns.
  static Table* t = new Table();
  return *t;
}

}  // namespace

StringRep* intern(std::string_view text) {
  Table& t = table();
  auto it = t.find(text);
  if (it != t.end()) {
    ++(*it)->refs;
    return *it;
  }
  void* mem = std::malloc(sizeof(StringRep) + text.size() + 1);
  if (!mem) throw std::bad_alloc();
  auto* rep = new (mem) StringRep{1, static_cast<uint32_t>(text.size()), absl::HashOf(text)};
  char* data = reinterpret_cast<char*>(rep + 1);
  std::memcpy(data, text.data(), text.size());
  data[text.size()] = '\0';
  t.insert(rep);
  return rep;
}

void release(StringRep* rep) noexcept {
  table().erase(rep);
  rep->~StringRep();
  std::free(rep);
}

}  // namespace internal

size_t internedStrings() noexcept { return internal::table().size(); }

}  // namespace Mica
