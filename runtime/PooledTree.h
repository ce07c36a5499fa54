// Ordered sets and maps for state that is built and dropped wholesale (reconciliation's seen
// keys and visited containers, a pass's out-of-band elements, a state machine's indexes): absl
// B-trees whose nodes come from the node pool (Mica::PoolAllocator says why).
#pragma once

#include <absl/container/btree_map.h>
#include <absl/container/btree_set.h>

#include <functional>
#include <utility>

#include "platform/mica/PoolAllocator.h"

namespace Flo {

template <class K>
using PooledSet = absl::btree_set<K, std::less<K>, Mica::PoolAllocator<K>>;

template <class K, class V>
using PooledMap = absl::btree_map<K, V, std::less<K>, Mica::PoolAllocator<std::pair<const K, V>>>;

}  // namespace Flo
