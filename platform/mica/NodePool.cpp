#include "platform/mica/NodePool.h"

#include <absl/container/flat_hash_set.h>

#include <algorithm>
#include <new>

#include "platform/mica/Assert.h"
#include "platform/mica/ThreadControl.h"

#if IE_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#define IE_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define IE_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define IE_POOL_POISON(p, n) ((void)(p), (void)(n))
#define IE_POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace Mica {
namespace {

// Alignment of chunks and of blocks whose size is a multiple of it.
constexpr size_t kWideAlign = 16;
static_assert(kWideAlign == __STDCPP_DEFAULT_NEW_ALIGNMENT__,
              "chunks from the global operator new are aligned for blocks of 16-multiple sizes");
static_assert(NodePool::kMaxPooledBytes % kWideAlign == 0 &&
              NodePool::kChunkBytes % kWideAlign == 0);

// Holds the process-wide pool without ever destroying it: nodes held by static objects may be
// released after main returns.
union NeverDestroyed {
  NodePool pool;
  constexpr NeverDestroyed() : pool() {}
  ~NeverDestroyed() {}
};
constinit NeverDestroyed processPool;

// Locks `m` for its lifetime under thread control only.
class LockIfShared {
 public:
  explicit LockIfShared(std::mutex& m) : m_(threadControl() ? &m : nullptr) {
    if (m_) m_->lock();
  }
  ~LockIfShared() {
    if (m_) m_->unlock();
  }
  LockIfShared(const LockIfShared&) = delete;
  LockIfShared& operator=(const LockIfShared&) = delete;

 private:
  std::mutex* m_;
};

}  // namespace

NodePool& nodePool() noexcept { return processPool.pool; }

NodePool::~NodePool() {
  for (char* chunk : chunks_) {
    IE_POOL_UNPOISON(chunk, kChunkBytes);
    ::operator delete(chunk, kChunkBytes);
  }
}

void* NodePool::allocate(size_t size) {
  if (size > kMaxPooledBytes) return ::operator new(size);
  LockIfShared lock(mutex_);
  return allocateLocked(classOf(std::max<size_t>(size, 1)));
}

void NodePool::deallocate(void* p, size_t size) noexcept {
  if (size > kMaxPooledBytes) return ::operator delete(p, size);
  LockIfShared lock(mutex_);
  deallocateLocked(p, classOf(std::max<size_t>(size, 1)));
}

void* NodePool::allocateLocked(size_t cls) {
  const size_t bytes = blockBytes(cls);
  void* p;
  if (FreeBlock* b = freeLists_[cls]) {
    freeLists_[cls] = b->next;
    IE_POOL_UNPOISON(b, bytes);
    p = b;
  } else {
    p = carve(bytes);
  }
  inUseBytes_ += bytes;
  ++allocations_;
  return p;
}

void NodePool::deallocateLocked(void* p, size_t cls) noexcept {
  pushFree(p, cls);
  inUseBytes_ -= blockBytes(cls);
}

void NodePool::pushFree(void* p, size_t cls) noexcept {
  freeLists_[cls] = new (p) FreeBlock{freeLists_[cls]};
  // The link stays readable; the rest of a free block is poisoned under ASan.
  IE_POOL_POISON(static_cast<char*>(p) + sizeof(FreeBlock), blockBytes(cls) - sizeof(FreeBlock));
}

void* NodePool::carve(size_t bytes) {
  if (static_cast<size_t>(back_ - front_) < bytes) {
    char* chunk = static_cast<char*>(::operator new(kChunkBytes));
    try {
      chunks_.push_back(chunk);
    } catch (...) {
      ::operator delete(chunk, kChunkBytes);
      throw;
    }
    // The rest of the old chunk (a multiple of kGrain, smaller than `bytes`, starting 16-aligned)
    // becomes one free block of its own size.
    if (const auto rest = static_cast<size_t>(back_ - front_); rest > 0) {
      IE_POOL_UNPOISON(front_, rest);
      pushFree(front_, classOf(rest));
    }
    front_ = chunk;
    back_ = chunk + kChunkBytes;
    IE_POOL_POISON(chunk, kChunkBytes);
  }
  char* p;
  if (bytes % kWideAlign == 0) {
    p = front_;
    front_ += bytes;
  } else {
    back_ -= bytes;
    p = back_;
  }
  IE_POOL_UNPOISON(p, bytes);
  return p;
}

NodePool::Stats NodePool::stats() const noexcept {
  LockIfShared lock(mutex_);
  return Stats{chunks_.size() * kChunkBytes, inUseBytes_, allocations_};
}

void NodePool::checkInvariants() const {
  LockIfShared lock(mutex_);
  std::vector<const char*> sorted(chunks_.begin(), chunks_.end());
  std::sort(sorted.begin(), sorted.end());
  const auto inAChunk = [&](const char* p, size_t n) {
    auto it = std::upper_bound(sorted.begin(), sorted.end(), p);
    if (it == sorted.begin()) return false;
    --it;
    return p + n <= *it + kChunkBytes;
  };
  absl::flat_hash_set<const void*> seen;
  size_t freeBytes = 0;
  for (size_t cls = 0; cls < kClasses; ++cls) {
    const size_t bytes = blockBytes(cls);
    const size_t align = bytes % kWideAlign == 0 ? kWideAlign : kGrain;
    for (const FreeBlock* b = freeLists_[cls]; b; b = b->next) {
      const auto* p = reinterpret_cast<const char*>(b);
      check(seen.insert(b).second, "Mica::NodePool: a block is on the free lists twice");
      check(inAChunk(p, bytes), "Mica::NodePool: a free block lies outside every chunk");
      check(p + bytes <= front_ || p >= back_, "Mica::NodePool: a free block overlaps the uncarved rest");
      check(reinterpret_cast<uintptr_t>(p) % align == 0, "Mica::NodePool: a free block is misaligned for its size");
      freeBytes += bytes;
    }
  }
  check(chunks_.empty() ? front_ == nullptr && back_ == nullptr
                        : chunks_.back() <= front_ && front_ <= back_ && back_ <= chunks_.back() + kChunkBytes &&
                              reinterpret_cast<uintptr_t>(front_) % kWideAlign == 0,
        "Mica::NodePool: the uncarved rest lies outside the newest chunk");
  check(chunks_.size() * kChunkBytes == inUseBytes_ + freeBytes + static_cast<size_t>(back_ - front_),
        "Mica::NodePool: chunk bytes are not the sum of bytes in use, free and uncarved");
}

}  // namespace Mica
