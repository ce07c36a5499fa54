// Ordered sets and maps whose nodes come from the node pool (Mica::PoolAllocator says why):
// the collections of entities (Entity.h), and the state the runtime builds and drops wholesale
// (reconciliation's seen keys and visited containers, a pass's out-of-band elements, a state
// machine's indexes).
#pragma once

#include <absl/container/btree_map.h>
#include <absl/container/btree_set.h>

#include <functional>
#include <utility>

#include "platform/mica/PoolAllocator.h"

namespace Mica {

template <class K>
using PooledSet = absl::btree_set<K, std::less<K>, PoolAllocator<K>>;

template <class K, class V>
using PooledMap = absl::btree_map<K, V, std::less<K>, PoolAllocator<std::pair<const K, V>>>;

}  // namespace Mica
