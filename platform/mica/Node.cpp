#include "platform/mica/Node.h"

namespace Mica {

bool threadControl() noexcept { return Node::threadControlFlag_; }
void threadControlIs(bool on) noexcept { Node::threadControlFlag_ = on; }

}  // namespace Mica
