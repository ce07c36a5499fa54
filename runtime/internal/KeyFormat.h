// Small type helpers shared by the runtime templates.
#pragma once

#include <tuple>

#include "platform/mica/Entity.h"

namespace Flo::internal {

// The key type of a collection; nothing for a scalar attribute.
template <class Coll>
struct KeyOfColl {
  using type = typename Coll::Key;
};
template <class V, Mica::AttrId Id>
struct KeyOfColl<Mica::Scalar<V, Id>> {
  using type = std::tuple<>;
};

}  // namespace Flo::internal
