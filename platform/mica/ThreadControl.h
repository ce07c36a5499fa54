// Mica::threadControl(): whether runtime objects may be shared between threads.
//
// Off by default: the whole runtime runs on one scheduler thread, and atomic updates or locks
// would cost on every reference count change and allocation. An agent that hands nodes or
// strings to other threads switches it on before it starts those threads; from then on node
// and string reference counts are atomic, and the string intern table and the node pool take
// a lock. Reading the flag costs one load and a predictable branch.
//
// REQUIRES: the flag changes only while a single thread uses the runtime.
#pragma once

namespace Mica {

namespace internal {
inline constinit bool threadControlFlag = false;
}  // namespace internal

inline bool threadControl() noexcept { return internal::threadControlFlag; }
inline void threadControlIs(bool on) noexcept { internal::threadControlFlag = on; }

}  // namespace Mica
