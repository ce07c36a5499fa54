#include "bench/CountingAllocator.h"

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/mica/NodePool.h"

// The replacements below pair malloc with free on purpose; g++ reports them as mismatched once
// it inlines them into callers of new and delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace IeBench::heap {
size_t liveBytes = 0;
size_t peakBytes = 0;
size_t newCalls = 0;

namespace {
void* counted(void* p) {
  if (!p) throw std::bad_alloc();
  ++newCalls;
  liveBytes += malloc_usable_size(p);
  peakBytes = std::max(peakBytes, liveBytes);
  return p;
}
void uncounted(void* p) noexcept {
  if (!p) return;
  liveBytes -= malloc_usable_size(p);
  std::free(p);
}
}  // namespace

size_t poolIdleBytes() { return Mica::nodePool().stats().idleBytes(); }
size_t heldBytes() { return liveBytes - poolIdleBytes(); }
size_t allocations() { return newCalls + Mica::nodePool().stats().allocations; }

double peakRss() {
  double kib = 0;
  if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      unsigned long v = 0;
      if (std::sscanf(line, "VmHWM: %lu kB", &v) == 1) kib = static_cast<double>(v);
    }
    std::fclose(f);
  }
  return kib * 1024;
}
}  // namespace IeBench::heap

using IeBench::heap::counted;
using IeBench::heap::uncounted;

void* operator new(size_t size) { return counted(std::malloc(size == 0 ? 1 : size)); }
void* operator new[](size_t size) { return counted(std::malloc(size == 0 ? 1 : size)); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p) counted(p);
  return p;
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
void operator delete(void* p) noexcept { uncounted(p); }
void operator delete[](void* p) noexcept { uncounted(p); }
void operator delete(void* p, size_t) noexcept { uncounted(p); }
void operator delete[](void* p, size_t) noexcept { uncounted(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { uncounted(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { uncounted(p); }
