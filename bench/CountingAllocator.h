// Heap accounting for the memory benchmarks: CountingAllocator.cpp replaces the global
// allocation functions of the program it is linked into, so link it only into programs that
// measure memory (each in its own process, starting from a fresh heap).
#pragma once

#include <cstddef>

namespace IeBench::heap {
// Bytes held through operator new now, and the highest value since the last resetPeak().
extern size_t liveBytes;
extern size_t peakBytes;
// Calls of operator new so far.
extern size_t newCalls;
inline void resetPeak() { peakBytes = liveBytes; }

// Mica::Node objects come from Mica::NodePool, whose chunks are counted above when they are
// taken but which keeps freed nodes for reuse. What the program's objects hold is therefore
// the heap less the pool's idle bytes (this is what releasing an object gives back), and its
// allocations are the calls of operator new plus the nodes the pool served.
size_t heldBytes();
size_t allocations();
// Bytes the node pool holds that no node uses.
size_t poolIdleBytes();
// The process's peak resident set (VmHWM of /proc/self/status), in bytes; 0 if unreadable.
double peakRss();
}  // namespace IeBench::heap
