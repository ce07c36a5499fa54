// Mica::NodePool: the allocator behind Mica::Node's operator new and delete.
//
// Millions of entities of 40 to 200 bytes live as long as the pairs they describe. glibc malloc
// adds an 8-byte header to each and rounds to 16 bytes, 10-20% of such small objects. The pool
// serves sizes up to kMaxPooledBytes from one free list per size class (multiples of kGrain),
// carving new blocks from large chunks that it takes from the global operator new; larger sizes
// go straight to the global operator new and delete.
//
// Memory is kept for reuse, never returned to the system: a freed block goes back to the free
// list of its class and chunks live as long as the pool (the process-wide pool lives until the
// process ends). A phase that frees many nodes of one size leaves that memory to later nodes of
// the same size only.
//
// Alignment: a block whose size is a multiple of 16 is 16-aligned, every other block 8-aligned,
// so any type whose alignment is at most 16 (every type that is not over-aligned) fits its
// block. Chunks are 16-aligned; blocks of 16-multiple sizes are carved from the front of the
// current chunk, the others from its back, so that neither kind pads the other.
//
// Thread-safety: follows Mica::threadControl(); under thread control every call takes the
// pool's mutex, otherwise nothing is locked.
//
// Invariants (checkInvariants() verifies them):
//   1. Every free block lies inside a chunk, aligned as its size requires, on one list only.
//   2. chunkBytes == inUseBytes + bytes on the free lists + the uncarved middle of the current
//      chunk: no byte is lost.
//   3. The uncarved middle lies inside the newest chunk, its front 16-aligned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// GCC announces AddressSanitizer with __SANITIZE_ADDRESS__, clang (before 16) only through
// __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define IE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IE_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef IE_ADDRESS_SANITIZER
#define IE_ADDRESS_SANITIZER 0
#endif

namespace Mica {

class NodePool {
 public:
  // Block sizes are multiples of 8: a Node holds a pointer, so no node is less aligned, and
  // malloc's 16-byte rounding is what the pool avoids.
  static constexpr size_t kGrain = 8;
  // The largest size served from free lists. Entities, tasks and keys' nodes are 40 to 200
  // bytes; above this, objects are few (state machines, tables' owners) and malloc's 8 bytes
  // are less than 3% of them.
  static constexpr size_t kMaxPooledBytes = 256;
  // Bytes taken from the global operator new at a time: 256 blocks of the largest class, so a
  // chunk's own malloc overhead is negligible, and below glibc's mmap threshold (128 KiB), so
  // chunks come from the ordinary heap and are counted like any other allocation.
  static constexpr size_t kChunkBytes = 64 * 1024;
  static constexpr size_t kClasses = kMaxPooledBytes / kGrain;

  struct Stats {
    size_t chunkBytes = 0;   // taken from the global operator new for chunks
    size_t inUseBytes = 0;   // handed out and not yet freed, rounded to kGrain
    size_t allocations = 0;  // pooled allocations served so far (not counting large sizes)
    // Bytes the pool holds that no node uses: free lists and the uncarved rest.
    size_t idleBytes() const noexcept { return chunkBytes - inUseBytes; }
  };

  NodePool() = default;
  NodePool(const NodePool&) = delete;
  NodePool& operator=(const NodePool&) = delete;
  // Returns the chunks. REQUIRES: no block of the pool is still in use.
  ~NodePool();

  // A block of at least `size` bytes; throws std::bad_alloc when memory runs out.
  void* allocate(size_t size);
  // REQUIRES: `p` came from allocate(size) of this pool with the same `size`.
  void deallocate(void* p, size_t size) noexcept;

  Stats stats() const noexcept;
  // Calls Mica::fail with a text naming the broken invariant (see above). Costs a walk of every
  // free list: for tests and debugging.
  void checkInvariants() const;

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  static size_t classOf(size_t size) noexcept { return (size + kGrain - 1) / kGrain - 1; }
  static size_t blockBytes(size_t cls) noexcept { return (cls + 1) * kGrain; }
  void* allocateLocked(size_t cls);
  void deallocateLocked(void* p, size_t cls) noexcept;
  void* carve(size_t bytes);
  void pushFree(void* p, size_t cls) noexcept;

  FreeBlock* freeLists_[kClasses] = {};
  // The uncarved middle of the newest chunk: 16-multiples are carved at front_, others end at
  // back_.
  char* front_ = nullptr;
  char* back_ = nullptr;
  std::vector<char*> chunks_;
  size_t inUseBytes_ = 0;
  size_t allocations_ = 0;
  mutable std::mutex mutex_;
};

// The process-wide pool of Mica::Node (never destroyed), and whether nodes use it: not in
// builds under AddressSanitizer, where every node comes from the global operator new so that
// leaks and use after free are still found.
NodePool& nodePool() noexcept;
#if IE_ADDRESS_SANITIZER
inline constexpr bool kNodePoolEnabled = false;
#else
inline constexpr bool kNodePoolEnabled = true;
#endif

}  // namespace Mica
