// Mica::PoolAllocator: a standard allocator over the process-wide node pool (NodePool.h).
//
// For the B-trees that the runtime fills and empties wholesale (reconciliation's seen sets, a
// state machine's indexes). Their nodes go back to the pool's free lists, where the next such
// tree takes them in constant time. Through malloc, the seen sets that a restart at 1M pairs
// releases went into glibc's unsorted bin, and the task run that allocated next (an index insert)
// paid for sorting them: runs of 3 to 15 ms. Under AddressSanitizer the blocks come from the
// global operator new, like every node's.
#pragma once

#include <cstddef>

namespace Mica {

// A block of `bytes` from the node pool, and its return (same size).
void* poolAllocate(size_t bytes);
void poolDeallocate(void* p, size_t bytes) noexcept;

template <class T>
struct PoolAllocator {
  using value_type = T;
  static_assert(alignof(T) <= 16, "the pool aligns blocks to 8 or 16 bytes");

  PoolAllocator() noexcept = default;
  template <class U>
  PoolAllocator(const PoolAllocator<U>&) noexcept {}  // NOLINT: rebinding is implicit

  T* allocate(size_t n) { return static_cast<T*>(poolAllocate(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { poolDeallocate(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const PoolAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace Mica
