#include "platform/mica/Node.h"

#include "platform/mica/NodePool.h"
#include "platform/mica/PoolAllocator.h"

namespace Mica {

void* poolAllocate(size_t bytes) {
  if constexpr (kNodePoolEnabled) {
    return nodePool().allocate(bytes);
  } else {
    return ::operator new(bytes);
  }
}

void poolDeallocate(void* p, size_t bytes) noexcept {
  if constexpr (kNodePoolEnabled) {
    nodePool().deallocate(p, bytes);
  } else {
    ::operator delete(p, bytes);
  }
}

void* Node::operator new(size_t size) { return poolAllocate(size); }

void Node::operator delete(void* p, size_t size) noexcept { poolDeallocate(p, size); }

void* Node::operator new(size_t size, std::align_val_t align) { return ::operator new(size, align); }

void Node::operator delete(void* p, size_t size, std::align_val_t align) noexcept {
  ::operator delete(p, size, align);
}

}  // namespace Mica
