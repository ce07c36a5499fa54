#include "platform/mica/Node.h"

#include "platform/mica/NodePool.h"

namespace Mica {

void* Node::operator new(size_t size) {
  if constexpr (kNodePoolEnabled) {
    return nodePool().allocate(size);
  } else {
    return ::operator new(size);
  }
}

void Node::operator delete(void* p, size_t size) noexcept {
  if constexpr (kNodePoolEnabled) {
    nodePool().deallocate(p, size);
  } else {
    ::operator delete(p, size);
  }
}

void* Node::operator new(size_t size, std::align_val_t align) { return ::operator new(size, align); }

void Node::operator delete(void* p, size_t size, std::align_val_t align) noexcept {
  ::operator delete(p, size, align);
}

}  // namespace Mica
